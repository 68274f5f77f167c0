// The server under clients that take more than their share: too many of them, idle
// ones, ones that do not read, outsized requests, and a process out of descriptors.
#include "tests/support/pki.h"
#include "tests/support/rawclient.h"
#include "tests/support/serverprocess.h"

#include <QCborArray>
#include <QCborStreamWriter>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <memory>
#include <optional>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace protocol;

namespace {

const QString kObject = QStringLiteral("QLX02600.rdmGeraArquivo");

void seedTables(QSqlDatabase &db)
{
    exec(db, QStringLiteral("INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA) VALUES ('ENG', 'Inglês')"));
    exec(db, QStringLiteral("INSERT INTO PROGTRAD (CDPROGTRAD) VALUES ('PRODUTO'), ('UNIDADE')"));
    exec(db, QStringLiteral("INSERT INTO TRADUCAO VALUES ('PRODUTO', '1', 'DS', 'ENG', '%1', 100)")
                 .arg(QString(3000, QLatin1Char('p'))));
}

// `rows` translations of UNIDADE, each with a text of `size` characters.
std::function<void(QSqlDatabase &)> seedLines(int rows, int size)
{
    return [rows, size](QSqlDatabase &db) {
        seedTables(db);
        exec(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                "INSERT INTO TRADUCAO SELECT 'UNIDADE', 'K' || i, 'DS', 'ENG', "
                                "substr(hex(zeroblob(%2)), 1, %2), 400 FROM n").arg(rows).arg(size));
    };
}

QByteArray linesRequest(const QString &tables = QStringLiteral("UNIDADE"))
{
    return frameOf(encodeRequest({ kObject, QStringLiteral("GetPropriedCds"),
                                   { text(QStringLiteral("ENG")), text(tables, ArgumentKind::StrRef), date(0) } }));
}

QByteArray languagesRequest() { return frameOf(encodeRequest({ kObject, QStringLiteral("GetIdioma"), {} })); }

bool servedLanguages(const Response &response)
{
    return !response.isException && packetStrings(response).value(0) == "ENG";
}

// A client gets served once a slot is free: sessions end a moment after their clients.
// Over TLS where `authority` is given.
bool servedWithin(int port, int ms, const QString &authority = {})
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        RawClient client(port);
        if ((authority.isEmpty() || client.encrypt(authority)) && servedLanguages(client.call(QStringLiteral("GetIdioma"), {})))
            return true;
        QTest::qWait(50);
    }
    return false;
}

bool closedWithin(QTcpSocket &socket, int ms)
{
    return socket.state() == QAbstractSocket::UnconnectedState || socket.waitForDisconnected(ms);
}

// Requests written by hand: the map {"object", "method", "args"} with `extra` written
// in as one more key.
QByteArray requestWith(const std::function<void(QCborStreamWriter &)> &args,
                       const std::function<void(QCborStreamWriter &)> &extra = {})
{
    QByteArray bytes;
    QCborStreamWriter writer(&bytes);
    writer.startMap();
    writer.append(QLatin1String("object"));
    writer.append(kObject);
    writer.append(QLatin1String("method"));
    writer.append(QLatin1String("GetTabela"));
    writer.append(QLatin1String("args"));
    writer.startArray();
    args(writer);
    writer.endArray();
    if (extra) {
        writer.append(QLatin1String("extra"));
        extra(writer);
    }
    writer.endMap();
    return bytes;
}

void textArguments(QCborStreamWriter &writer, int count, const QString &value)
{
    for (int i = 0; i < count; ++i) {
        writer.startMap(2);
        writer.append(QLatin1String("kind"));
        writer.append(QLatin1String("str"));
        writer.append(QLatin1String("value"));
        writer.append(value);
        writer.endMap();
    }
}

int openDescriptors(qint64 pid)
{
    return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

// Lowers the process's address space to what it maps now and 1 MiB: room for a
// little more heap, not for a new thread's stack. Returns the limit it had, none when
// /proc or prlimit fails.
std::optional<rlimit> lowerAddressSpace(qint64 pid)
{
    rlimit original {};
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly) || prlimit(pid_t(pid), RLIMIT_AS, nullptr, &original) != 0)
        return std::nullopt;
    const QString size = QString::fromLatin1(status.readAll()).split(QLatin1Char('\n')).filter(QStringLiteral("VmSize:")).value(0);
    const rlim_t bytes = rlim_t(size.simplified().split(QLatin1Char(' ')).value(1).toLongLong()) * 1024 + 1024 * 1024;
    const rlimit lowered { bytes, original.rlim_max };
    if (prlimit(pid_t(pid), RLIMIT_AS, &lowered, nullptr) != 0)
        return std::nullopt;
    return original;
}

// The "answers" count of the server's last dropped-client line.
int answersOfLastDrop(const QByteArray &log)
{
    const QRegularExpression drop(QStringLiteral("client dropped peer=\\S+ answers=(\\d+): "));
    int answers = -1;
    for (auto match = drop.globalMatch(QString::fromUtf8(log)); match.hasNext();)
        answers = match.next().captured(1).toInt();
    return answers;
}

// Bytes of the frames of the last answer a client received, headers included.
qint64 answerBytes(const RawClient &client)
{
    qint64 bytes = client.responseSize + kFrameHeaderSize;
    for (qsizetype part : client.partSizes)
        bytes += part + kFrameHeaderSize;
    return bytes;
}

// CPU time the process has used, in clock ticks.
qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // After the command's closing parenthesis: state is field 3, utime 14, stime 15.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong();
}

// A figure of /proc/PID/status in KiB ("VmSize:", "VmRSS:") or a count ("Threads:").
qint64 processStatus(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).simplified().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Whether the process has read every byte its clients sent on `port`: no connection
// to it holds unread bytes in the kernel, and `connections` are established.
bool allRead(int port, int connections)
{
    int established = 0;
    for (const char *table : { "/proc/net/tcp", "/proc/net/tcp6" }) {
        QFile file { QString::fromLatin1(table) };
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : file.readAll().split('\n').mid(1)) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            // sl local remote st tx_queue:rx_queue ...
            if (fields.size() < 5 || fields.at(1).split(':').value(1).toInt(nullptr, 16) != port || fields.at(3) != "01")
                continue;
            ++established;
            if (fields.at(4).split(':').value(1).toLongLong(nullptr, 16) != 0)
                return false;
        }
    }
    return established == connections;
}

} // namespace

class TestServerLimits : public QObject
{
    Q_OBJECT

    Pki m_pki;

    QStringList tlsOptions(bool tls) const
    {
        if (!tls)
            return {};
        return { QStringLiteral("--tls-cert"), m_pki.pem(QStringLiteral("server")), QStringLiteral("--tls-key"),
                 m_pki.key(QStringLiteral("server")) };
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_pki.makeAuthority(QStringLiteral("ca")));
        QVERIFY(m_pki.issue(QStringLiteral("server"), QStringLiteral("ca"), QStringLiteral("localhost"),
                            QStringLiteral("DNS:localhost,IP:127.0.0.1")));
    }

    void overTheCapAnsweredBusyThenClosed_data()
    {
        QTest::addColumn<bool>("callsFirst");
        QTest::newRow("client reads at once") << false;
        QTest::newRow("client calls first") << true;
    }
    void overTheCapAnsweredBusyThenClosed()
    {
        QFETCH(bool, callsFirst);
        ServerProcess server(seedTables, false, { QStringLiteral("--max-clients"), QStringLiteral("2") });
        auto first = std::make_unique<RawClient>(server.port());
        RawClient second(server.port());
        QVERIFY(servedLanguages(first->call(QStringLiteral("GetIdioma"), {})));
        QVERIFY(servedLanguages(second.call(QStringLiteral("GetIdioma"), {})));

        RawClient third(server.port());
        if (callsFirst)
            third.send(languagesRequest());
        const std::optional<Response> busy = third.receive();
        QVERIFY(busy);
        QVERIFY(busy->isException);
        QCOMPARE(busy->exceptionClass, QStringLiteral("EServerBusy"));
        QCOMPARE(busy->exceptionMessage, QStringLiteral("Servidor de aplicação ocupado: limite de 2 conexões atingido. "
                                                        "Tente novamente mais tarde."));
        QVERIFY(closedWithin(third.socket, 5000));

        first.reset();
        QVERIFY(servedWithin(server.port(), 10000));
        QVERIFY(servedLanguages(second.call(QStringLiteral("GetIdioma"), {})));
    }

    void idleSessionsClosed_data()
    {
        QTest::addColumn<QString>("client");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("reason");
        QTest::addColumn<QByteArray>("end");
        const QStringList idle { QStringLiteral("--idle-timeout"), QStringLiteral("1") };
        QTest::newRow("sends nothing") << QStringLiteral("silent") << idle << QByteArray(": idle for 1 s")
                                       << QByteArray(" end=idle-timeout ");
        QTest::newRow("sends a request a byte at a time") << QStringLiteral("slow") << idle << QByteArray(": idle for 1 s")
                                                          << QByteArray(" end=idle-timeout ");
        QTest::newRow("does not read its answer") << QStringLiteral("deaf") << idle << QByteArray(": idle for 1 s")
                                                  << QByteArray(" end=idle-timeout ");
        // Before its first request, a client has the handshake's time, however long the idle time-out.
        const QStringList handshake { QStringLiteral("--handshake-timeout"), QStringLiteral("1") };
        QTest::newRow("sends nothing, handshake time-out") << QStringLiteral("silent") << handshake
                                                           << QByteArray(": handshake-timeout: handshake not over in 1 s")
                                                           << QByteArray(" end=handshake-timeout ");
        QTest::newRow("sends its first request a byte at a time, handshake time-out")
            << QStringLiteral("slow") << handshake << QByteArray(": handshake-timeout: handshake not over in 1 s")
            << QByteArray(" end=handshake-timeout ");
    }
    void idleSessionsClosed()
    {
        QFETCH(QString, client);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, reason);
        QFETCH(QByteArray, end);
        ServerProcess server(seedLines(client == QLatin1String("deaf") ? 12000 : 0, 3000), false, options);
        RawClient idle(server.port());
        idle.socket.setReadBufferSize(64 * 1024);
        if (client == QLatin1String("slow")) {
            const QByteArray request = languagesRequest();
            for (qsizetype at = 0; at < request.size() && idle.socket.state() == QAbstractSocket::ConnectedState; ++at) {
                idle.socket.write(request.mid(at, 1));
                idle.socket.waitForDisconnected(300);
            }
        } else if (client == QLatin1String("deaf")) {
            idle.send(linesRequest()); // about 36 MB, more than the sockets hold
        }
        QVERIFY2(server.waitForLog(reason), server.log().constData());
        QVERIFY2(server.waitForLog(end), server.log().constData());
        if (client != QLatin1String("deaf"))
            QVERIFY(closedWithin(idle.socket, 5000));
        QVERIFY(servedWithin(server.port(), 10000));
    }

    void pipelinedRequestsWaitForTheAnswer()
    {
        // Answers of about 38 MB each, more than the sockets between the two ends hold.
        ServerProcess server(seedLines(12000, 3000), false, { QStringLiteral("--idle-timeout"), QStringLiteral("1") });
        RawClient greedy(server.port());
        greedy.socket.setReadBufferSize(64 * 1024);
        QByteArray requests;
        for (int i = 0; i < 8; ++i)
            requests += linesRequest();
        greedy.send(requests);
        QVERIFY2(server.waitForLog(": idle for 1 s", 60000), server.log().constData());
        // The answer that the sockets could not hold paused where the client stopped
        // reading, and no request behind it was read.
        const int answers = answersOfLastDrop(server.log());
        QVERIFY2(answers <= 1, server.log().constData());
        QVERIFY(servedWithin(server.port(), 10000));
    }

    void requestsPastTheBoundsRefused_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("reason");
        QTest::newRow("too many arguments")
            << requestWith([](QCborStreamWriter &w) { textArguments(w, int(kRequestArgumentLimit) + 1, QString()); })
            << QStringLiteral("arguments");
        QTest::newRow("a text over the bound")
            << requestWith([](QCborStreamWriter &w) { textArguments(w, 1, QString(kRequestTextLimit + 1, QLatin1Char('T'))); })
            << QStringLiteral("bytes");
        QTest::newRow("nested too deep") << requestWith([](QCborStreamWriter &) {}, [](QCborStreamWriter &w) {
            for (int i = 0; i < 1000; ++i)
                w.startArray(1);
            w.append(nullptr);
            for (int i = 0; i < 1000; ++i)
                w.endArray();
        }) << QStringLiteral("nested");
        QTest::newRow("too many items") << requestWith([](QCborStreamWriter &) {}, [](QCborStreamWriter &w) {
            w.startArray(200000);
            for (int i = 0; i < 200000; ++i)
                w.append(nullptr);
            w.endArray();
        }) << QStringLiteral("items");
    }
    void requestsPastTheBoundsRefused()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QString, reason);
        ServerProcess server(seedTables);
        RawClient bad(server.port());
        bad.send(frameOf(payload));
        const std::optional<Response> refused = bad.receive();
        QVERIFY(refused);
        QCOMPARE(refused->exceptionClass, QStringLiteral("EProtocolError"));
        QVERIFY2(refused->exceptionMessage.contains(reason), qPrintable(refused->exceptionMessage));
        QVERIFY(closedWithin(bad.socket, 5000));
        QVERIFY(servedWithin(server.port(), 10000));
    }

    void tableListsWithDuplicates_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("normalised");
        const QString produto = QStringLiteral("PRODUTO             ");
        const QString unidade = QStringLiteral("UNIDADE             ");
        QTest::newRow("one code many times") << produto.repeated(100000) << produto;
        QTest::newRow("first place kept") << produto.repeated(50000) + unidade + produto.repeated(50000) + unidade
                                          << produto + unidade;
        QTest::newRow("blank codes skipped") << QString(20 * 1000, QLatin1Char(' ')) + QStringLiteral("  UNIDADE           ")
                                             << unidade;
    }
    void tableListsWithDuplicates()
    {
        QFETCH(QString, list);
        QFETCH(QString, normalised);
        ServerProcess server(seedTables);
        RawClient client(server.port());
        const Response listed = client.call(QStringLiteral("GetTabela"), { text(list, ArgumentKind::StrRef), text(QString()) });
        QCOMPARE(listed.refs, QStringList { normalised });
    }

    void workStopsWhenTheClientHasGone()
    {
        ServerProcess server(seedLines(100000, 20));
        {
            RawClient gone(server.port());
            gone.send(linesRequest());
        }
        QVERIFY2(server.waitForLog("gone while GetPropriedCds was answered"), server.log().constData());
        // The call cut short is in the audit trail, and counted at the connection's end.
        QVERIFY2(server.waitForLog(" outcome=client-gone\n"), server.log().constData());
        QVERIFY2(server.waitForLog(" end=client-gone calls=1 "), server.log().constData());
        QVERIFY(servedWithin(server.port(), 10000));
    }

    void answerOverTheLimitReportedAsFailure_data()
    {
        QTest::addColumn<std::function<void(QSqlDatabase &)>>("seed");
        QTest::addColumn<QString>("table");
        QTest::addColumn<bool>("inParts");
        QTest::newRow("one message") << std::function<void(QSqlDatabase &)>(seedTables) << QStringLiteral("PRODUTO") << false;
        // About 3.3 MB: four parts and the final response.
        QTest::newRow("many parts") << seedLines(3000, 1000) << QStringLiteral("UNIDADE") << true;
    }
    void answerOverTheLimitReportedAsFailure()
    {
        QFETCH(std::function<void(QSqlDatabase &)>, seed);
        QFETCH(QString, table);
        QFETCH(bool, inParts);
        const QList<Argument> args { text(QStringLiteral("ENG")), text(table, ArgumentKind::StrRef), date(0) };
        qint64 size = 0;
        {
            ServerProcess unlimited(seed);
            RawClient client(unlimited.port());
            QVERIFY(!client.call(QStringLiteral("GetPropriedCds"), args).isException);
            QCOMPARE(client.partSizes.isEmpty(), !inParts);
            size = answerBytes(client);
        }
        // Every frame counts, headers included: the answer passes at its own size, not one byte less.
        for (const qint64 limit : { size - 1, size }) {
            ServerProcess server(seed, false, { QStringLiteral("--max-answer"), QString::number(limit) });
            RawClient client(server.port());
            const Response answer = client.call(QStringLiteral("GetPropriedCds"), args);
            QVERIFY(!answer.isException);
            const QCborMap result = answer.result.toMap();
            QCOMPARE(result.value(QLatin1String("ok")).toBool(), limit == size);
            if (limit < size) {
                QCOMPARE(result.value(QLatin1String("message")).toString(),
                         QStringLiteral("A resposta de %1 bytes excede o limite de %2 bytes.").arg(size).arg(limit));
                QVERIFY2(server.log().contains("outcome=too-large"), server.log().constData());
            }
            QCOMPARE(answer.refs, QStringList { table });
            QVERIFY(servedLanguages(client.call(QStringLiteral("GetIdioma"), {})));
        }
    }

    void oneAddressGetsItsShare_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("share");
        QTest::addColumn<QString>("greedy");
        QTest::addColumn<QString>("neighbour");
        QTest::addColumn<QString>("whose"); // in the busy answer; empty: the neighbour is counted apart
        const QStringList two { QStringLiteral("--max-clients-per-address"), QStringLiteral("2") };
        QTest::newRow("default") << QStringList() << 8 << QStringLiteral("127.0.0.2") << QStringLiteral("127.0.0.3") << QString();
        QTest::newRow("set") << two << 2 << QStringLiteral("127.0.0.2") << QStringLiteral("127.0.0.3") << QString();
        QTest::newRow("set by prefix")
            << QStringList { QStringLiteral("--max-clients-per-prefix"), QStringLiteral("2") } << 2
            << QStringLiteral("127.0.10.1") << QStringLiteral("127.0.10.2") << QString();
        QTest::newRow("/32 counts neighbours apart") << two + QStringList { QStringLiteral("--client-prefix-v4"), QStringLiteral("32") }
                                                     << 2 << QStringLiteral("127.0.10.1") << QStringLiteral("127.0.10.2") << QString();
        QTest::newRow("/24 counts neighbours together")
            << two + QStringList { QStringLiteral("--client-prefix-v4"), QStringLiteral("24") } << 2
            << QStringLiteral("127.0.10.1") << QStringLiteral("127.0.10.2") << QStringLiteral("da rede 127.0.10.0/24");
    }
    void oneAddressGetsItsShare()
    {
        QFETCH(QStringList, options);
        QFETCH(int, share);
        QFETCH(QString, greedy);
        QFETCH(QString, neighbour);
        QFETCH(QString, whose);
        ServerProcess server(seedTables, false, options);
        std::vector<std::unique_ptr<RawClient>> sessions;
        for (int i = 0; i < share; ++i) {
            sessions.push_back(std::make_unique<RawClient>(server.port(), QHostAddress(greedy)));
            QVERIFY(servedLanguages(sessions.back()->call(QStringLiteral("GetIdioma"), {})));
        }
        const auto busy = [share](const QString &whose) {
            return QStringLiteral("Servidor de aplicação ocupado: limite de %1 conexões %2 atingido. Tente novamente "
                                  "mais tarde.").arg(share).arg(whose);
        };
        RawClient over(server.port(), QHostAddress(greedy));
        over.send(languagesRequest());
        std::optional<Response> refused = over.receive();
        QVERIFY(refused);
        QCOMPARE(refused->exceptionClass, QStringLiteral("EServerBusy"));
        QCOMPARE(refused->exceptionMessage, busy(whose.isEmpty() ? QStringLiteral("deste endereço") : whose));
        QVERIFY(closedWithin(over.socket, 5000));
        QVERIFY(server.log().contains("connection refused: " + greedy.toUtf8() + ": "));

        // The neighbour is served, unless its network is the greedy one's.
        RawClient next(server.port(), QHostAddress(neighbour));
        if (whose.isEmpty()) {
            QVERIFY(servedLanguages(next.call(QStringLiteral("GetIdioma"), {})));
        } else {
            next.send(languagesRequest());
            refused = next.receive();
            QVERIFY(refused);
            QCOMPARE(refused->exceptionMessage, busy(whose));
        }
        // The greedy one is served again once one of its sessions ends.
        sessions.pop_back();
        const QDeadlineTimer deadline(10000);
        bool servedAgain = false;
        while (!servedAgain && !deadline.hasExpired()) {
            RawClient again(server.port(), QHostAddress(greedy));
            servedAgain = servedLanguages(again.call(QStringLiteral("GetIdioma"), {}));
        }
        QVERIFY(servedAgain);
    }

    void auditTrailNamesTheClientAndEveryCall()
    {
        ServerProcess server(seedLines(40, 10));
        qint64 linesBytes = 0;
        qint64 lines = 0;
        qint64 unknownBytes = 0;
        int port = 0;
        {
            RawClient client(server.port(), QHostAddress(QStringLiteral("127.0.0.2")));
            port = client.socket.localPort();
            const Response answer = client.call(QStringLiteral("GetPropriedCds"),
                { text(QStringLiteral("ENG")), text(QStringLiteral("PRODUTO             UNIDADE"), ArgumentKind::StrRef),
                  date(0) });
            lines = packetStrings(answer).size() + client.parts.values.size();
            QCOMPARE(lines, 41);
            linesBytes = answerBytes(client);
            // A method name a client made up to forge a line of its own.
            QVERIFY(client.call(QStringLiteral("Get\naudit peer=10.0.0.1 \"x"), {}).isException);
            unknownBytes = answerBytes(client);
        }
        QVERIFY2(server.waitForLog(" end="), server.log().constData());
        const QString log = QString::fromUtf8(server.log());
        const QString peer = QStringLiteral("audit peer=127.0.0.2:%1 ").arg(port);
        const QStringList expected {
            QRegularExpression::escape(peer + QStringLiteral("call=\"GetPropriedCds\" language=\"ENG\" tables=2 lines=%1 bytes=%2 ms=")
                                                  .arg(lines).arg(linesBytes)) + QStringLiteral("\\d+ outcome=ok\n"),
            QRegularExpression::escape(peer + QStringLiteral("call=\"Get\\u000aaudit peer=10.0.0.1 \\\"x\" lines=0 bytes=%1 ms=")
                                                  .arg(unknownBytes)) + QStringLiteral("\\d+ outcome=EOleException\n"),
            QRegularExpression::escape(peer + QStringLiteral("end=client-closed calls=2 bytes=%1 seconds=").arg(linesBytes + unknownBytes))
                + QStringLiteral("\\d+\n"),
        };
        qsizetype at = 0;
        for (const QString &line : expected) {
            const QRegularExpressionMatch match = QRegularExpression(line).match(log, at);
            QVERIFY2(match.hasMatch(), qPrintable(QStringLiteral("no line %1 in order in\n%2").arg(line, log)));
            at = match.capturedEnd();
        }
        QVERIFY(!log.contains(QStringLiteral("\naudit peer=10.0.0.1")));
    }

    // Texts a client chooses reach the log only escaped, inside a line the server
    // began with the real peer: none starts a line of its own.
    void forgedTextsLeaveNoLineOfTheirOwn_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("mentions"); // lines that show the text, escaped
        const QString forged = QStringLiteral("x\naudit peer=10.9.9.9:1 end=client-closed calls=9");
        const QString object = QStringLiteral("QLX02600.rdmGeraArquivo");
        const auto request = [](const QString &object, const QString &method, const QList<Argument> &args) {
            return frameOf(encodeRequest({ object, method, args }));
        };
        QCborMap badKind;
        badKind.insert(QStringLiteral("object"), object);
        badKind.insert(QStringLiteral("method"), QStringLiteral("GetIdioma"));
        badKind.insert(QStringLiteral("args"), QCborArray { QCborMap { { QStringLiteral("kind"), forged },
                                                                       { QStringLiteral("value"), QStringLiteral("a") } } });
        QTest::newRow("argument kind") << frameOf(badKind.toCborValue().toCbor()) << 1;
        QTest::newRow("method") << request(object, forged, {}) << 1;
        QTest::newRow("object") << request(forged, QStringLiteral("GetIdioma"), {}) << 1;
        QTest::newRow("language") << request(object, QStringLiteral("GetPropriedCds"),
                                             { text(forged), text(QStringLiteral("PRODUTO"), ArgumentKind::StrRef), date(0) }) << 1;
        QTest::newRow("table code") << request(object, QStringLiteral("GetTabela"),
                                               { text(forged, ArgumentKind::StrRef), text(QString()) }) << 0;
    }

    void forgedTextsLeaveNoLineOfTheirOwn()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, mentions);
        ServerProcess server(seedLines(4, 10));
        int port = 0;
        {
            RawClient client(server.port(), QHostAddress(QStringLiteral("127.0.0.2")));
            port = client.socket.localPort();
            client.send(request);
            client.receive();
        }
        QVERIFY2(server.waitForLog(" seconds="), server.log().constData()); // the end of the connection
        const QString own = QStringLiteral("peer=127.0.0.2:%1 ").arg(port);
        int shown = 0;
        for (const QString &line : QString::fromUtf8(server.log()).split(QLatin1Char('\n'))) {
            if (!line.contains(QLatin1String("10.9.9.9")))
                continue;
            ++shown;
            QVERIFY2(line.startsWith(QLatin1String("audit ") + own) || line.startsWith(QLatin1String("client dropped ") + own),
                     qPrintable(line));
        }
        QVERIFY2(shown == mentions, server.log().constData());
    }

    void softDescriptorLimitRaisedToTheHardOne()
    {
        rlimit limit {};
        getrlimit(RLIMIT_NOFILE, &limit);
        if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= 64)
            QSKIP("the hard descriptor limit is too low to lower the soft one under it");
        ServerProcess server(seedTables, false, {}, [] {
            rlimit lowered {};
            getrlimit(RLIMIT_NOFILE, &lowered);
            lowered.rlim_cur = 64;
            setrlimit(RLIMIT_NOFILE, &lowered);
        });
        QFile limits(QStringLiteral("/proc/%1/limits").arg(server.pid()));
        QVERIFY(limits.open(QIODevice::ReadOnly));
        const QString openFiles = QString::fromLatin1(limits.readAll()).split(QLatin1Char('\n')).filter(QStringLiteral("Max open files")).value(0);
        const QStringList fields = openFiles.simplified().split(QLatin1Char(' '));
        QCOMPARE(fields.size(), 6); // Max open files SOFT HARD files
        QCOMPARE(fields.value(3), fields.value(4));
    }

    void aSessionThreadThatCannotStartIsAnswered()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer cannot run under an address-space limit");
#endif
        ServerProcess server(seedTables);
        const qint64 pid = server.pid();
        const int before = openDescriptors(pid);
        const std::optional<rlimit> original = lowerAddressSpace(pid);
        QVERIFY(original);

        {
            RawClient refused(server.port());
            const std::optional<Response> response = refused.receive();
            QVERIFY2(response, server.log().constData());
            QCOMPARE(response->exceptionClass, QStringLiteral("EServerBusy"));
            QVERIFY2(response->exceptionMessage.contains(QStringLiteral("não foi possível iniciar")),
                     qPrintable(response->exceptionMessage));
            QVERIFY(closedWithin(refused.socket, 5000));
        }
        // The refused connection's socket is closed, not left behind.
        const QDeadlineTimer deadline(10000);
        while (openDescriptors(pid) > before && !deadline.hasExpired())
            QTest::qWait(20);
        QCOMPARE(openDescriptors(pid), before);

        QCOMPARE(prlimit(pid_t(pid), RLIMIT_AS, &*original, nullptr), 0);
        QVERIFY(servedWithin(server.port(), 10000));
    }

    void aGenerationWithoutThreadsIsAnswered()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer cannot run under an address-space limit");
#endif
        ServerProcess server(seedTables);
        const qint64 pid = server.pid();
        RawClient client(server.port());
        QVERIFY(!client.call(QStringLiteral("GetIdioma"), {}).isException); // the session and its database are open
        const std::optional<rlimit> original = lowerAddressSpace(pid);
        QVERIFY(original);

        const QList<Argument> args { text(QStringLiteral("ENG")), text(QStringLiteral("PRODUTO"), ArgumentKind::StrRef), date(0) };
        const Response busy = client.call(QStringLiteral("GetPropriedCds"), args);
        QCOMPARE(busy.exceptionClass, QStringLiteral("EServerBusy"));
        QVERIFY2(busy.exceptionMessage.contains(QStringLiteral("leitura das traduções")), qPrintable(busy.exceptionMessage));

        QCOMPARE(prlimit(pid_t(pid), RLIMIT_AS, &*original, nullptr), 0);
        const Response answer = client.call(QStringLiteral("GetPropriedCds"), args);
        QVERIFY(!answer.isException);
        QVERIFY(answer.result.toMap().value(QLatin1String("ok")).toBool());
    }

    void outOfDescriptorsKeepsServing()
    {
        ServerProcess server(seedTables, false, { QStringLiteral("--max-clients-per-address"), QStringLiteral("100") });
        const qint64 pid = server.pid();
        // Twelve descriptors to spare: room for a session or two, not for thirty clients.
        const rlim_t room = rlim_t(openDescriptors(pid) + 12);
        const rlimit lowered { room, room };
        QCOMPARE(prlimit(pid_t(pid), RLIMIT_NOFILE, &lowered, nullptr), 0);
        // All thirty wait in the backlog, so the server meets them at once.
        QCOMPARE(kill(pid_t(pid), SIGSTOP), 0);
        std::vector<std::unique_ptr<RawClient>> clients;
        for (int i = 0; i < 30; ++i)
            clients.push_back(std::make_unique<RawClient>(server.port()));
        QCOMPARE(kill(pid_t(pid), SIGCONT), 0);

        int served = 0;
        int busy = 0;
        for (auto &client : clients) {
            client->send(languagesRequest());
            const std::optional<Response> response = client->receive();
            QVERIFY2(response, qPrintable(QStringLiteral("client %1 of 30 got no answer: %2\n%3").arg(served + busy + 1)
                                              .arg(client->socket.errorString(), QString::fromUtf8(server.log()))));
            if (servedLanguages(*response)) {
                ++served;
            } else {
                QCOMPARE(response->exceptionClass, QStringLiteral("EServerBusy"));
                ++busy;
                client.reset(); // as a client told "busy" does
            }
        }
        QVERIFY(served > 0);
        QVERIFY(busy > 0);
        QVERIFY(server.running());

        clients.clear();
        QVERIFY(servedWithin(server.port(), 10000));
        // One episode, logged once at its start and once at its end.
        QVERIFY2(server.waitForLog("descriptors free again"), server.log().constData());
        QCOMPARE(server.log().count("out of descriptors"), 1);
        // Every busy answer is counted (and the new client's tries, should one come early).
        const QRegularExpressionMatch counted =
            QRegularExpression(QStringLiteral("; (\\d+) were answered busy meanwhile")).match(QString::fromUtf8(server.log()));
        QVERIFY2(counted.hasMatch(), server.log().constData());
        QVERIFY2(counted.captured(1).toInt() >= busy, server.log().constData());
    }

    void noDescriptorLeftPausesAcceptingWithoutSpinning_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::newRow("plaintext") << false;
        QTest::newRow("TLS") << true;
    }
    void noDescriptorLeftPausesAcceptingWithoutSpinning()
    {
        QFETCH(bool, tls);
        // Far more clients allowed than descriptors: the descriptor limit is what stops them.
        ServerProcess server(seedTables, false, QStringList { QStringLiteral("--max-clients"), QStringLiteral("2000"),
                                                              QStringLiteral("--max-clients-per-address"), QStringLiteral("2000") }
                                 + tlsOptions(tls));
        const qint64 pid = server.pid();
        rlimit original {};
        QCOMPARE(prlimit(pid_t(pid), RLIMIT_NOFILE, nullptr, &original), 0);
        // Not one descriptor free: accepting itself fails. The limit bounds descriptor
        // numbers, so it goes to the lowest number not in use.
        const QStringList open = QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
        rlim_t none = 0;
        while (open.contains(QString::number(none)))
            ++none;
        const rlimit lowered { none, original.rlim_max };
        QCOMPARE(prlimit(pid_t(pid), RLIMIT_NOFILE, &lowered, nullptr), 0);

        const qint64 ticksBefore = cpuTicks(pid);
        QElapsedTimer wall;
        wall.start();
        for (int i = 0; i < 6; ++i) {
            RawClient newcomer(server.port());
            if (tls) { // no descriptor for a handshake: closed at once, not left waiting
                QVERIFY(!newcomer.encrypt(m_pki.pem(QStringLiteral("ca"))));
                QVERIFY(closedWithin(newcomer.socket, 5000));
                continue;
            }
            newcomer.send(languagesRequest());
            const std::optional<Response> response = newcomer.receive();
            QVERIFY2(response, server.log().constData());
            QCOMPARE(response->exceptionClass, QStringLiteral("EServerBusy"));
            QVERIFY2(response->exceptionMessage.contains(QStringLiteral("sem descritores")), qPrintable(response->exceptionMessage));
        }
        // Between newcomers the server sleeps: it does not retry accepting in a loop.
        QTest::qWait(1500);
        const qint64 ticks = cpuTicks(pid) - ticksBefore;
        const qint64 wallTicks = wall.elapsed() * sysconf(_SC_CLK_TCK) / 1000;
        QVERIFY2(ticks * 4 < wallTicks, qPrintable(QStringLiteral("%1 ticks of CPU in %2").arg(ticks).arg(wallTicks)));
        QCOMPARE(server.log().count("out of descriptors"), 1);
        QVERIFY2(server.log().contains("out of descriptors (accepting failed: "), server.log().constData());

        QCOMPARE(prlimit(pid_t(pid), RLIMIT_NOFILE, &original, nullptr), 0);
        QVERIFY(servedWithin(server.port(), 10000, tls ? m_pki.pem(QStringLiteral("ca")) : QString()));
        QVERIFY2(server.waitForLog("descriptors free again"), server.log().constData());
    }

    // Many silent connections under a low descriptor limit: the server stays quiet,
    // newcomers are answered busy (over TLS on a TLS server) and the sessions it took
    // are served, their databases opened with the descriptors kept for them.
    void silentConnectionsUnderALowDescriptorLimit_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::newRow("plaintext") << false;
        QTest::newRow("TLS") << true;
    }
    void silentConnectionsUnderALowDescriptorLimit()
    {
        QFETCH(bool, tls);
        constexpr int kSilent = 60;
        // The descriptor limit is what stops them, and none is dropped meanwhile.
        ServerProcess server(seedTables, false, QStringList { QStringLiteral("--max-clients"), QStringLiteral("2000"),
                                                              QStringLiteral("--max-clients-per-address"), QStringLiteral("2000"),
                                                              QStringLiteral("--max-handshakes"), QStringLiteral("2000"),
                                                              QStringLiteral("--handshake-timeout"), QStringLiteral("300") }
                                 + tlsOptions(tls));
        const qint64 pid = server.pid();
        // Room for a few sessions and their databases, not for sixty.
        const rlim_t room = rlim_t(openDescriptors(pid) + 64);
        const rlimit lowered { room, room };
        QCOMPARE(prlimit(pid_t(pid), RLIMIT_NOFILE, &lowered, nullptr), 0);
        std::vector<std::unique_ptr<RawClient>> silent;
        for (int i = 0; i < kSilent; ++i)
            silent.push_back(std::make_unique<RawClient>(server.port()));
        QVERIFY2(server.waitForLog("out of descriptors (fewer than"), server.log().constData());
        // The busy answers to the silent ones have lingered out.
        QTest::qWait(6000);

        const qint64 ticksBefore = cpuTicks(pid);
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(3000);
        const qint64 ticks = cpuTicks(pid) - ticksBefore;
        const qint64 wallTicks = wall.elapsed() * sysconf(_SC_CLK_TCK) / 1000;
        QVERIFY2(ticks * 10 < wallTicks, qPrintable(QStringLiteral("%1 ticks of CPU in %2").arg(ticks).arg(wallTicks)));

        RawClient newcomer(server.port());
        if (tls)
            QVERIFY2(newcomer.encrypt(m_pki.pem(QStringLiteral("ca"))), qPrintable(newcomer.socket.errorString()));
        const std::optional<Response> busy = newcomer.receive();
        QVERIFY2(busy, server.log().constData());
        QCOMPARE(busy->exceptionClass, QStringLiteral("EServerBusy"));
        QVERIFY2(busy->exceptionMessage.contains(QStringLiteral("sem descritores")), qPrintable(busy->exceptionMessage));

        // Every session taken generates; every other connection was refused.
        int served = 0;
        for (auto &client : silent) {
            if (tls && !client->encrypt(m_pki.pem(QStringLiteral("ca"))))
                continue; // refused, closed
            client->send(linesRequest(QStringLiteral("PRODUTO")));
            const std::optional<Response> response = client->receive();
            if (!response)
                continue;
            if (response->isException) {
                QCOMPARE(response->exceptionClass, QStringLiteral("EServerBusy"));
                continue;
            }
            QCOMPARE(response->result.toMap().value(QLatin1String("ok")).toBool(), true);
            QCOMPARE(packetStrings(*response).size() + client->parts.values.size(), qsizetype(1));
            ++served;
        }
        QVERIFY2(served > 0, server.log().constData());
        QVERIFY2(!server.log().contains("database not opened"), server.log().constData());
        QCOMPARE(server.log().count("out of descriptors"), 1);
    }

    // Sessions that send only the header of a long request take no memory for the
    // length it states: the buffer grows with the bytes that come.
    void aLongHeaderAloneTakesNoMemory()
    {
        constexpr int kSessions = 32;
        constexpr qint64 kMostGrowthKiB = 64 * 1024; // the bytes read, and room for the reads
        // Sessions whose first request never arrives whole are still in their handshake.
        ServerProcess server(seedTables, false, { QStringLiteral("--max-clients-per-address"), QString::number(kSessions),
                                                  QStringLiteral("--max-handshakes"), QString::number(kSessions),
                                                  QStringLiteral("--handshake-timeout"), QStringLiteral("300") });
        const qint64 pid = server.pid();
        const qint64 threads = processStatus(pid, "Threads:");
        std::vector<std::unique_ptr<RawClient>> clients;
        for (int i = 0; i < kSessions; ++i)
            clients.push_back(std::make_unique<RawClient>(server.port()));
        const QDeadlineTimer started(RawClient::kWaitMs);
        while (processStatus(pid, "Threads:") < threads + kSessions && !started.hasExpired())
            QTest::qWait(20);
        QVERIFY(allRead(server.port(), kSessions));
        const qint64 before = processStatus(pid, "VmSize:");

        for (auto &client : clients) // just under the request limit, never followed by its bytes
            client->send(QByteArray::fromHex("00ffffff") + QByteArray(1, '\xa3'));
        const QDeadlineTimer read(RawClient::kWaitMs);
        while (!allRead(server.port(), kSessions) && !read.hasExpired())
            QTest::qWait(20);
        QVERIFY(allRead(server.port(), kSessions));
        const qint64 grown = processStatus(pid, "VmSize:") - before;
        QVERIFY2(grown < kMostGrowthKiB, qPrintable(QStringLiteral("%1 KiB more address space").arg(grown)));
        QVERIFY(server.running());
    }

    // Memory a load of generations took goes back to the system once they are over:
    // of what the load added, at most an eighth stays (the C library alone keeps
    // about an eighth in its per-thread arenas; handed back, a few MiB stay).
    void memoryReturnsAfterALoad()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer's allocator keeps what it frees");
#endif
        constexpr int kClients = 8;
        ServerProcess server(seedLines(60'000, 200), false,
                             { QStringLiteral("--max-clients-per-address"), QString::number(2 * kClients) });
        const qint64 pid = server.pid();
        QVERIFY(servedWithin(server.port(), 10000));
        const qint64 idle = processStatus(pid, "VmRSS:");
        qint64 loaded = 0;
        {
            std::vector<std::unique_ptr<RawClient>> clients;
            for (int i = 0; i < kClients; ++i) {
                clients.push_back(std::make_unique<RawClient>(server.port()));
                clients.back()->send(linesRequest());
            }
            for (auto &client : clients) {
                const std::optional<Response> response = client->receive();
                QVERIFY(response && !response->isException);
                QCOMPARE(client->parts.values.size() + packetStrings(*response).size(), qsizetype(60'000));
                loaded = std::max(loaded, processStatus(pid, "VmRSS:"));
            }
        }
        // Every session over, its memory handed back.
        const QDeadlineTimer deadline(RawClient::kWaitMs);
        while (server.log().count(" end=") < kClients + 1 && !deadline.hasExpired())
            QTest::qWait(20);
        // The memory goes back once the main thread has seen the last session end.
        qint64 after = 0;
        QTest::qWaitFor([&] { return (after = processStatus(pid, "VmRSS:")) - idle < (loaded - idle) / 8; }, 10000);
        QVERIFY2(after - idle < (loaded - idle) / 8,
                 qPrintable(QStringLiteral("idle %1 KiB, loaded %2 KiB, after %3 KiB").arg(idle).arg(loaded).arg(after)));
    }

    void filesCreatedForTheServerOnly_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("file");
        QTest::newRow("call log") << QStringList { QStringLiteral("--db"), QStringLiteral("served.db"), QStringLiteral("--call-log"),
                                                   QStringLiteral("calls.log") }
                                  << QStringLiteral("calls.log");
        QTest::newRow("demo database") << QStringList { QStringLiteral("--init-demo"), QStringLiteral("demo.db") }
                                       << QStringLiteral("demo.db");
    }
    void filesCreatedForTheServerOnly()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, file);
        QTemporaryDir dir;
        QProcess server;
        server.setWorkingDirectory(dir.path());
        server.setChildProcessModifier([] { umask(022); }); // the usual umask: 0644 files
        server.setProcessChannelMode(QProcess::MergedChannels);
        if (arguments.contains(QStringLiteral("--db"))) // served, so made beforehand
            QCOMPARE(QProcess::execute(QStringLiteral(QLX_SERVER_PATH), { QStringLiteral("--init-demo"), dir.filePath(QStringLiteral("served.db")) }), 0);
        server.start(QStringLiteral(QLX_SERVER_PATH), arguments + QStringList { QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0") });
        QVERIFY(server.waitForStarted());
        QByteArray said;
        while (!said.contains("listening on ") && !said.contains("demo database") && server.waitForReadyRead(60000))
            said += server.readAll();
        server.kill();
        server.waitForFinished();
        struct stat created {};
        QCOMPARE(::stat(QFile::encodeName(dir.filePath(file)).constData(), &created), 0);
        QCOMPARE(created.st_mode & 0777, mode_t(0600));
    }

    void aDatabaseOthersMayReadIsWarnedAbout()
    {
        ServerProcess server(seedTables);
        QVERIFY(QFile::setPermissions(server.databaseFile(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                                                 | QFile::ReadOther));
        QProcess warned;
        warned.setProcessChannelMode(QProcess::MergedChannels);
        warned.start(QStringLiteral(QLX_SERVER_PATH), { QStringLiteral("--db"), server.databaseFile(), QStringLiteral("--listen"),
                                                        QStringLiteral("127.0.0.1:0") });
        QByteArray said;
        while (!said.contains("listening on ") && warned.waitForReadyRead(60000))
            said += warned.readAll();
        warned.kill();
        warned.waitForFinished();
        QVERIFY2(said.contains(QStringLiteral("warning: %1 may be read by other users (mode 0644); chmod 600 %1")
                                   .arg(server.databaseFile()).toUtf8()),
                 said.constData());
    }
};

QTEST_GUILESS_MAIN(TestServerLimits)
#include "tst_serverlimits.moc"
