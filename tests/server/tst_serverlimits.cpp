// The server under clients that take more than their share: too many of them, idle
// ones, ones that do not read, outsized requests, and a process out of descriptors.
#include "rawclient.h"
#include "serverprocess.h"

#include <QCborStreamWriter>
#include <QDir>
#include <QRegularExpression>
#include <memory>

#include <csignal>
#include <sys/resource.h>

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
bool servedWithin(int port, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        RawClient client(port);
        if (servedLanguages(client.call(QStringLiteral("GetIdioma"), {})))
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

// The "answers" count of the server's last dropped-client line.
int answersOfLastDrop(const QByteArray &log)
{
    const QRegularExpression drop(QStringLiteral("client dropped after (\\d+) answers"));
    int answers = -1;
    for (auto match = drop.globalMatch(QString::fromUtf8(log)); match.hasNext();)
        answers = match.next().captured(1).toInt();
    return answers;
}

} // namespace

class TestServerLimits : public QObject
{
    Q_OBJECT

private slots:
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
        QTest::newRow("sends nothing") << QStringLiteral("silent");
        QTest::newRow("sends a request a byte at a time") << QStringLiteral("slow");
        QTest::newRow("does not read its answer") << QStringLiteral("deaf");
    }
    void idleSessionsClosed()
    {
        QFETCH(QString, client);
        ServerProcess server(seedLines(client == QLatin1String("deaf") ? 12000 : 0, 3000), false,
                             { QStringLiteral("--idle-timeout"), QStringLiteral("1") });
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
        QVERIFY2(server.waitForLog("answers: idle for 1 s"), server.log().constData());
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
        QVERIFY2(server.waitForLog("answers: idle for 1 s", 60000), server.log().constData());
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
        QVERIFY(servedWithin(server.port(), 10000));
    }

    void answerOverTheLimitReportedAsFailure()
    {
        ServerProcess server(seedTables, false, { QStringLiteral("--max-answer"), QStringLiteral("2000") });
        RawClient client(server.port());
        const Response large = client.call(QStringLiteral("GetPropriedCds"),
                                           { text(QStringLiteral("ENG")), text(QStringLiteral("PRODUTO"), ArgumentKind::StrRef), date(0) });
        QVERIFY(!large.isException);
        const QCborMap result = large.result.toMap();
        QCOMPARE(result.value(QLatin1String("ok")).toBool(true), false);
        QVERIFY2(QRegularExpression(QStringLiteral("^A resposta de \\d{4} bytes excede o limite de 2000 bytes de uma mensagem\\.$"))
                     .match(result.value(QLatin1String("message")).toString()).hasMatch(),
                 qPrintable(result.value(QLatin1String("message")).toString()));
        QCOMPARE(large.refs, QStringList { QStringLiteral("PRODUTO") });
        QVERIFY(servedLanguages(client.call(QStringLiteral("GetIdioma"), {})));
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
        // Address space for a little more heap, not for a new thread's stack.
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        QVERIFY(status.open(QIODevice::ReadOnly));
        const QString size = QString::fromLatin1(status.readAll()).split(QLatin1Char('\n')).filter(QStringLiteral("VmSize:")).value(0);
        const rlim_t bytes = rlim_t(size.simplified().split(QLatin1Char(' ')).value(1).toLongLong()) * 1024 + 1024 * 1024;
        rlimit original {};
        QCOMPARE(prlimit(pid_t(pid), RLIMIT_AS, nullptr, &original), 0);
        const rlimit lowered { bytes, original.rlim_max };
        const int before = openDescriptors(pid);
        QCOMPARE(prlimit(pid_t(pid), RLIMIT_AS, &lowered, nullptr), 0);

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

        QCOMPARE(prlimit(pid_t(pid), RLIMIT_AS, &original, nullptr), 0);
        QVERIFY(servedWithin(server.port(), 10000));
    }

    void outOfDescriptorsKeepsServing()
    {
        ServerProcess server(seedTables);
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
        QVERIFY(server.log().contains("accepting paused"));
        QVERIFY(server.running());

        clients.clear();
        QVERIFY(servedWithin(server.port(), 10000));
    }
};

QTEST_GUILESS_MAIN(TestServerLimits)
#include "tst_serverlimits.moc"
