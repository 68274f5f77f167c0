// The reference server: its answers on a real database, the script lines it
// composes, and how it survives clients that break the protocol.
#include "tests/support/metricspage.h"
#include "tests/support/rawclient.h"
#include "tests/support/serverprocess.h"

#include <QCborMap>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace protocol;

namespace {

void seedTranslations(QSqlDatabase &db)
{
    exec(db, QStringLiteral("INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA) VALUES ('ENG', 'Inglês')"));
    exec(db, QStringLiteral("INSERT INTO PROGTRAD (CDPROGTRAD) VALUES ('PRODUTO'), ('UNIDADE'), ('LONGO')"));
    exec(db, QStringLiteral("INSERT INTO TRADUCAO VALUES ('PRODUTO', '1', 'DS', 'ENG', 'Kids'' shoes', 100), "
                            "('PRODUTO', '2', 'DS', 'ENG', 'Line one' || char(10) || 'line two', 200), "
                            "('UNIDADE', 'UN', 'DS', 'ENG', 'Unit', 50), "
                            "('LONGO', 'X', 'DS', 'ENG', '%1', 300)").arg(QString(3800, QLatin1Char('y'))));
}

// Frame bytes of the last answer RawClient received, headers included.
qint64 answerBytes(const RawClient &client)
{
    qint64 bytes = kFrameHeaderSize + client.responseSize;
    for (qsizetype part : client.partSizes)
        bytes += kFrameHeaderSize + part;
    return bytes;
}

const QStringList kWithMetrics { QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0") };

} // namespace

class TestAppServer : public QObject
{
    Q_OBJECT

private slots:
    void tablesArePaddedToTwentyAndListsNormalised()
    {
        ServerProcess server(seedTranslations);
        RawClient client(server.port());
        const Response all = client.call(QStringLiteral("GetTabela"), { text(QString()), text(QStringLiteral("T")) });
        QCOMPARE(packetStrings(all), (QByteArrayList { "N", "LONGO               ", "N", "PRODUTO             ",
                                                       "N", "UNIDADE             " }));
        const Response listed = client.call(QStringLiteral("GetTabela"),
                                            { text(QStringLiteral("UNIDADE"), ArgumentKind::StrRef), text(QString()) });
        QCOMPARE(packetStrings(listed), (QByteArrayList { "N", "UNIDADE             " }));
        QCOMPARE(listed.refs, QStringList { QStringLiteral("UNIDADE             ") });
    }

    void scriptLinesSinceAMoment_data()
    {
        QTest::addColumn<QString>("tables");
        QTest::addColumn<double>("since");
        QTest::addColumn<int>("lines");
        QTest::newRow("all of PRODUTO") << QStringLiteral("PRODUTO             ") << 0.0 << 2;
        QTest::newRow("changed at the moment counts") << QStringLiteral("PRODUTO             ") << 200.0 << 1;
        QTest::newRow("two tables") << QStringLiteral("PRODUTO             UNIDADE             ") << 60.0 << 2;
        QTest::newRow("empty list") << QString() << 0.0 << 0;
    }
    void scriptLinesSinceAMoment()
    {
        QFETCH(QString, tables);
        QFETCH(double, since);
        QFETCH(int, lines);
        ServerProcess server(seedTranslations);
        RawClient client(server.port());
        const Response response = client.call(QStringLiteral("GetPropriedCds"),
                                              { text(QStringLiteral("ENG")), text(tables, ArgumentKind::StrRef), date(since) });
        QVERIFY(response.result.toMap().value(QLatin1String("ok")).toBool());
        const QByteArrayList got = packetStrings(response);
        QCOMPARE(got.size(), lines);
        for (const QByteArray &line : got) {
            QVERIFY(!line.contains('\n'));
            QVERIFY(line.startsWith("INSERT INTO TRADUCAO"));
        }
    }

    void failuresTheServerReports_data()
    {
        QTest::addColumn<QString>("tables");
        QTest::addColumn<QString>("named");
        QTest::newRow("unknown table") << QStringLiteral("NENHUMA") << QStringLiteral("NENHUMA");
        QTest::newRow("line over 4000 bytes") << QStringLiteral("LONGO") << QStringLiteral("4000");
    }
    void failuresTheServerReports()
    {
        QFETCH(QString, tables);
        QFETCH(QString, named);
        ServerProcess server([](QSqlDatabase &db) {
            seedTranslations(db);
            exec(db, QStringLiteral("UPDATE TRADUCAO SET DSTRADUCAO = DSTRADUCAO || '%1' WHERE CDPROGTRAD = 'LONGO'")
                         .arg(QString(200, QLatin1Char('z'))));
        });
        RawClient client(server.port());
        const Response response = client.call(QStringLiteral("GetPropriedCds"),
                                              { text(QStringLiteral("ENG")), text(tables, ArgumentKind::StrRef), date(0) });
        const QCborMap result = response.result.toMap();
        QCOMPARE(result.value(QLatin1String("ok")).toBool(), false);
        QVERIFY2(result.value(QLatin1String("message")).toString().contains(named),
                 qPrintable(result.value(QLatin1String("message")).toString()));
    }

    // Rows stored before the schema constrained the columns (or by another tool) reach
    // no client: the call fails naming the row.
    void rowsTheServerRefusesToSend_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QStringList>("named");
        const QString lines = QStringLiteral("GetPropriedCds"); // of PRODUTO, else of LONGO when its row is the one changed
        QTest::newRow("language name over 30") << QStringLiteral("UPDATE IDIOMA SET DSIDIOMA = '%1'").arg(QString(31, QLatin1Char('n')))
                                               << QStringLiteral("GetIdioma") << QStringList { "DSIDIOMA", "ENG", "30" };
        QTest::newRow("language code over 3") << QStringLiteral("UPDATE IDIOMA SET IDIPROP = 'ENGL'")
                                              << QStringLiteral("GetIdioma") << QStringList { "IDIPROP", "ENG" };
        QTest::newRow("language name with U+0081")
            << QStringLiteral("UPDATE IDIOMA SET DSIDIOMA = 'In' || char(129)") << QStringLiteral("GetIdioma")
            << QStringList { "DSIDIOMA", "ENG", "Windows-1252" };
        QTest::newRow("table code over 20") << QStringLiteral("UPDATE PROGTRAD SET CDPROGTRAD = 'UNIDADE_DE_MEDIDA_XYZ' WHERE CDPROGTRAD = 'UNIDADE'")
                                            << QStringLiteral("GetTabela") << QStringList { "UNIDADE_DE_MEDIDA_XYZ", "20" };
        QTest::newRow("mark over 1") << QStringLiteral("UPDATE PROGTRAD SET IDMARCADO = 'SN' WHERE CDPROGTRAD = 'LONGO'")
                                     << QStringLiteral("GetTabela") << QStringList { "IDMARCADO", "LONGO" };
        QTest::newRow("NUL in a translation")
            << QStringLiteral("UPDATE TRADUCAO SET DSTRADUCAO = 'a' || char(0) || 'b' WHERE CDCHAVE = '1'") << lines
            << QStringList { "PRODUTO 1 DS", "NUL" };
        QTest::newRow("NUL past eight plain bytes")
            << QStringLiteral("UPDATE TRADUCAO SET DSTRADUCAO = 'abcdefghijkl' || char(0) WHERE CDCHAVE = '2'") << lines
            << QStringList { "PRODUTO 2 DS", "NUL" };
        QTest::newRow("U+FEFF in a translation")
            << QStringLiteral("UPDATE TRADUCAO SET DSTRADUCAO = char(65279) || 'Kids' WHERE CDCHAVE = '1'") << lines
            << QStringList { "PRODUTO 1 DS", "Windows-1252" };
        QTest::newRow("unmappable beside a real SUB")
            << QStringLiteral("UPDATE TRADUCAO SET DSTRADUCAO = char(26) || char(8364) || char(8594) WHERE CDCHAVE = '1'") << lines
            << QStringList { "PRODUTO 1 DS", "Windows-1252" };
        QTest::newRow("U+009D in a translation")
            << QStringLiteral("UPDATE TRADUCAO SET DSTRADUCAO = 'x' || char(157) WHERE CDCHAVE = '2'") << lines
            << QStringList { "PRODUTO 2 DS", "Windows-1252" };
        QTest::newRow("infinite moment")
            << QStringLiteral("UPDATE TRADUCAO SET DTALTERACAO = 1e999 WHERE CDCHAVE = '1'") << lines
            << QStringList { "PRODUTO 1 DS", "data de alteração inf" };
        QTest::newRow("moment in year 10000")
            << QStringLiteral("UPDATE TRADUCAO SET DTALTERACAO = 2958466 WHERE CDCHAVE = '2'") << lines
            << QStringList { "PRODUTO 2 DS", "data de alteração 2958466" };
        QTest::newRow("moment stored as text")
            << QStringLiteral("UPDATE TRADUCAO SET DTALTERACAO = 'ontem' WHERE CDCHAVE = '1'") << lines
            << QStringList { "PRODUTO 1 DS", "data de alteração" };
        QTest::newRow("key holding %1 in the over-limit message")
            << QStringLiteral("UPDATE TRADUCAO SET CDCHAVE = 'X%1%2', DSTRADUCAO = DSTRADUCAO || '%3' WHERE CDPROGTRAD = 'LONGO'")
                   .arg(QLatin1String("%1"), QLatin1String("%2"), QString(200, QLatin1Char('z')))
            << lines << QStringList { "LONGO X%1%2 DS excede 4000 bytes (" };
    }
    void rowsTheServerRefusesToSend()
    {
        QFETCH(QString, stored);
        QFETCH(QString, method);
        QFETCH(QStringList, named);
        ServerProcess server([&](QSqlDatabase &db) {
            seedTranslations(db);
            exec(db, QStringLiteral("PRAGMA ignore_check_constraints = ON"));
            exec(db, stored);
        });
        RawClient client(server.port());
        QList<Argument> args;
        if (method == QLatin1String("GetTabela"))
            args = { text(QString()), text(QStringLiteral("T")) };
        else if (method == QLatin1String("GetPropriedCds"))
            args = { text(QStringLiteral("ENG")), text(stored.contains(QLatin1String("LONGO")) ? QStringLiteral("LONGO") : QStringLiteral("PRODUTO")), date(0) };
        const QCborMap result = client.call(method, args).result.toMap();
        QCOMPARE(result.value(QLatin1String("ok")), QCborValue(false));
        const QString message = result.value(QLatin1String("message")).toString();
        for (const QString &part : named)
            QVERIFY2(message.contains(part), qPrintable(message));
    }

    void schemaRefusesValuesOverTheirSize_data()
    {
        QTest::addColumn<QString>("insert");
        QTest::newRow("language name") << QStringLiteral("INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA) VALUES ('ESP', '%1')")
                                              .arg(QString(31, QChar(0xE7)));
        QTest::newRow("language code") << QStringLiteral("INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA) VALUES ('ESPA', 'x')");
        QTest::newRow("table code") << QStringLiteral("INSERT INTO PROGTRAD (CDPROGTRAD) VALUES ('%1')").arg(QString(21, QLatin1Char('T')));
        QTest::newRow("key") << QStringLiteral("INSERT INTO TRADUCAO VALUES ('PRODUTO', '%1', 'DS', 'ENG', 'x', 1)")
                                    .arg(QString(61, QLatin1Char('k')));
        QTest::newRow("translation") << QStringLiteral("INSERT INTO TRADUCAO VALUES ('PRODUTO', 'K', 'DS', 'ENG', '%1', 1)")
                                            .arg(QString(4001, QLatin1Char('t')));
    }
    void schemaRefusesValuesOverTheirSize()
    {
        QFETCH(QString, insert);
        bool refused = false;
        ServerProcess server([&](QSqlDatabase &db) {
            seedTranslations(db);
            refused = !QSqlQuery(db).exec(insert);
        });
        QVERIFY(refused);
    }

    void survivesBadClients_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("answered");
        QTest::newRow("malformed frame") << frameOf("\xff\xfe garbage") << true;
        QTest::newRow("oversized length") << QByteArray::fromHex("7fffffff") << false;
        QTest::newRow("unknown method") << frameOf(encodeRequest({ QStringLiteral("QLX02600.rdmGeraArquivo"), QStringLiteral("Drop"), {} })) << true;
        QTest::newRow("unknown object") << frameOf(encodeRequest({ QStringLiteral("Other"), QStringLiteral("GetIdioma"), {} })) << true;
        QTest::newRow("wrong arguments") << frameOf(encodeRequest({ QStringLiteral("QLX02600.rdmGeraArquivo"), QStringLiteral("GetTabela"), { date(1) } })) << true;
        QTest::newRow("disconnect mid-request") << frameOf(encodeRequest({ QStringLiteral("QLX02600.rdmGeraArquivo"), QStringLiteral("GetIdioma"), {} })).left(9) << false;
    }
    void survivesBadClients()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, answered);
        ServerProcess server(seedTranslations);
        {
            RawClient bad(server.port());
            bad.send(bytes);
            if (answered) {
                const std::optional<Response> response = bad.receive();
                QVERIFY(response);
                QVERIFY(response->isException);
            }
        }
        RawClient next(server.port());
        const Response languages = next.call(QStringLiteral("GetIdioma"), {});
        QCOMPARE(packetStrings(languages).value(1), QByteArray("Ingl\xeas"));
    }

    void aLongGenerationHoldsUpNoOtherClient()
    {
        ServerProcess server([](QSqlDatabase &db) {
            seedTranslations(db);
            exec(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300000) "
                                    "INSERT INTO TRADUCAO SELECT 'UNIDADE', 'K' || i, 'DS', 'ENG', 'Text number ' || i, 400 FROM n"));
        });
        RawClient busy(server.port());
        busy.send(frameOf(encodeRequest({ QStringLiteral("QLX02600.rdmGeraArquivo"), QStringLiteral("GetPropriedCds"),
                                          { text(QStringLiteral("ENG")), text(QStringLiteral("UNIDADE"), ArgumentKind::StrRef), date(0) } })));
        RawClient other(server.port());
        const Response languages = other.call(QStringLiteral("GetIdioma"), {});
        QCOMPARE(packetStrings(languages).value(1), QByteArray("Ingl\xeas"));
        const std::optional<Response> lines = busy.receive();
        QVERIFY2(lines, server.log().constData());
        QCOMPARE(busy.parts.values.size() + packetStrings(*lines).size(), 300001);
    }

    // SIGTERM drains: no new client, the answer under way goes out whole, an idle
    // session ends, and the server exits 0.
    void sigtermLetsTheAnswerUnderWayFinish()
    {
        ServerProcess server([](QSqlDatabase &db) {
            seedTranslations(db);
            exec(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300000) "
                                    "INSERT INTO TRADUCAO SELECT 'UNIDADE', 'K' || i, 'DS', 'ENG', 'Text number ' || i, 400 FROM n"));
        });
        RawClient idle(server.port());
        QVERIFY(!idle.call(QStringLiteral("GetIdioma"), {}).isException);
        RawClient busy(server.port());
        busy.send(frameOf(encodeRequest({ QStringLiteral("QLX02600.rdmGeraArquivo"), QStringLiteral("GetPropriedCds"),
                                          { text(QStringLiteral("ENG")), text(QStringLiteral("UNIDADE"), ArgumentKind::StrRef), date(0) } })));
        QVERIFY(busy.socket.waitForReadyRead(RawClient::kWaitMs)); // the answer has begun and is not read
        QCOMPARE(::kill(pid_t(server.pid()), SIGTERM), 0);
        QVERIFY2(server.waitForLog("stopping: no new sessions"), server.log().constData());

        QTcpSocket newcomer;
        newcomer.connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
        QVERIFY(!newcomer.waitForConnected(RawClient::kWaitMs));
        QCOMPARE(newcomer.error(), QAbstractSocket::ConnectionRefusedError);
        QVERIFY(idle.socket.state() == QAbstractSocket::UnconnectedState || idle.socket.waitForDisconnected(RawClient::kWaitMs));

        const std::optional<Response> lines = busy.receive();
        QVERIFY2(lines && !lines->isException, server.log().constData());
        QCOMPARE(busy.parts.values.size() + packetStrings(*lines).size(), 300001);
        QCOMPARE(server.exitCode(RawClient::kWaitMs), 0);
        QVERIFY2(server.log().contains("stopped: every answer under way finished"), server.log().constData());
    }

    // Under systemd (NOTIFY_SOCKET) the server says it is ready once listening, feeds
    // the watchdog it is asked for, and tells a reload and a stop.
    void tellsSystemdItsState()
    {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("notify")));
        const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const auto closeNotify = qScopeGuard([notify] { ::close(notify); });
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        QCOMPARE(::bind(notify, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ServerProcess server({}, true, {}, [&path] {
            ::setenv("NOTIFY_SOCKET", path.constData(), 1);
            ::setenv("WATCHDOG_USEC", "200000", 1);
        });
        QVERIFY(server.port() != 0);
        QByteArray told;
        const auto waitFor = [&](const QByteArray &state) {
            return QTest::qWaitFor([&] {
                char datagram[512];
                for (ssize_t got; (got = ::recv(notify, datagram, sizeof datagram, MSG_DONTWAIT)) > 0;)
                    told += QByteArray(datagram, int(got)) + '\n';
                return told.contains(state);
            }, RawClient::kWaitMs);
        };
        QVERIFY2(waitFor("READY=1"), told.constData());
        told.clear();
        QVERIFY2(waitFor("WATCHDOG=1"), told.constData());
        QCOMPARE(::kill(pid_t(server.pid()), SIGHUP), 0); // no TLS: nothing to reload, still ready
        QVERIFY2(server.waitForLog("nothing to reload"), server.log().constData());
        QCOMPARE(::kill(pid_t(server.pid()), SIGTERM), 0);
        QVERIFY2(waitFor("STOPPING=1"), told.constData());
        QCOMPARE(server.exitCode(RawClient::kWaitMs), 0);
    }

    void scriptLineValues_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<double>("changedAt");
        QTest::addColumn<QByteArray>("values");
        QTest::newRow("quote doubled") << QStringLiteral("Kids' shoes") << 100.0 << QByteArray("'Kids'' shoes', 100)");
        QTest::newRow("line break alone") << QStringLiteral("\n") << 100.0 << QByteArray("'' || char(10) || '', 100)");
        QTest::newRow("CR LF inside") << QStringLiteral("a\r\nb") << 100.0
                                      << QByteArray("'a' || char(13) || '' || char(10) || 'b', 100)");
        QTest::newRow("empty text") << QStringLiteral("") << 100.0 << QByteArray("'', 100)");
        QTest::newRow("Windows-1252 letters") << QStringLiteral("Ação €") << 100.0 << QByteArray("'A\xe7\xe3o \x80', 100)");
        QTest::newRow("day count in 17 digits") << QStringLiteral("x") << 46000.1 << QByteArray("'x', 46000.099999999999)");
        QTest::newRow("time of day") << QStringLiteral("x") << 46000.0 + 13.0 / 24 << QByteArray("'x', 46000.541666666664)");
    }
    void scriptLineValues()
    {
        QFETCH(QString, stored);
        QFETCH(double, changedAt);
        QFETCH(QByteArray, values);
        ServerProcess server([&](QSqlDatabase &db) {
            seedTranslations(db);
            QSqlQuery insert(db);
            insert.prepare(QStringLiteral("INSERT INTO TRADUCAO VALUES ('UNIDADE', 'K', 'DS', 'ENG', ?, ?)"));
            insert.addBindValue(stored);
            insert.addBindValue(changedAt);
            QVERIFY(insert.exec());
        });
        RawClient client(server.port());
        const Response response = client.call(QStringLiteral("GetPropriedCds"),
            { text(QStringLiteral("ENG")), text(QStringLiteral("UNIDADE"), ArgumentKind::StrRef), date(60) });
        const QByteArray line = packetStrings(response).value(0);
        QVERIFY2(line.contains("VALUES ('UNIDADE', 'K', 'DS', 'ENG', " + values + " ON CONFLICT"), line.constData());
    }

    void largeAnswersComeInParts_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("inParts");
        QTest::newRow("small answer in one frame") << 100 << false;
        QTest::newRow("large answer") << 30000 << true;
    }
    void largeAnswersComeInParts()
    {
        QFETCH(int, rows);
        QFETCH(bool, inParts);
        ServerProcess server([rows](QSqlDatabase &db) {
            seedTranslations(db);
            exec(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                    "INSERT INTO TRADUCAO SELECT 'UNIDADE', printf('K%08d', i), 'DS', 'ENG', "
                                    "'Text number ' || i, 400 FROM n").arg(rows));
        });
        RawClient client(server.port());
        const Response response = client.call(QStringLiteral("GetPropriedCds"),
            { text(QStringLiteral("ENG")), text(QStringLiteral("UNIDADE"), ArgumentKind::StrRef), date(60) });
        QVERIFY(response.result.toMap().value(QLatin1String("ok")).toBool());
        QCOMPARE(response.refs, QStringList { QStringLiteral("UNIDADE") });
        QCOMPARE(!client.partSizes.isEmpty(), inParts);
        for (qsizetype size : client.partSizes)
            QVERIFY(size < (1 << 20) + 5000); // about a MiB of whole lines each
        const QByteArrayList lines = client.parts.values + packetStrings(response);
        QCOMPARE(lines.size(), rows);
        for (int i = 1; i <= rows; ++i) // in order, none lost or repeated
            QVERIFY(lines.at(i - 1).contains(QStringLiteral("'K%1'").arg(i, 8, 10, QLatin1Char('0')).toLatin1()));
    }

    void failureAfterPartsReachesTheClient_data()
    {
        QTest::addColumn<QString>("lastText");
        QTest::addColumn<QString>("named");
        QTest::newRow("line over 4000 bytes") << QString(3900, QLatin1Char('w')) << QStringLiteral("excede 4000");
        QTest::newRow("character outside Windows-1252") << QStringLiteral("中文") << QStringLiteral("Windows-1252");
    }
    void failureAfterPartsReachesTheClient()
    {
        QFETCH(QString, lastText);
        QFETCH(QString, named);
        ServerProcess server([&](QSqlDatabase &db) {
            seedTranslations(db);
            exec(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
                                    "INSERT INTO TRADUCAO SELECT 'UNIDADE', printf('K%08d', i), 'DS', 'ENG', "
                                    "'Text number ' || i, 400 FROM n"));
            QSqlQuery insert(db);
            insert.prepare(QStringLiteral("INSERT INTO TRADUCAO VALUES ('UNIDADE', 'ZZ', 'DS', 'ENG', ?, 400)"));
            insert.addBindValue(lastText);
            QVERIFY(insert.exec());
        });
        RawClient client(server.port());
        const Response response = client.call(QStringLiteral("GetPropriedCds"),
            { text(QStringLiteral("ENG")), text(QStringLiteral("UNIDADE"), ArgumentKind::StrRef), date(0) });
        QVERIFY(!client.partSizes.isEmpty());
        const QCborMap result = response.result.toMap();
        QCOMPARE(result.value(QLatin1String("ok")).toBool(), false);
        const QString message = result.value(QLatin1String("message")).toString();
        QVERIFY2(message.contains(named) && message.contains(QStringLiteral("UNIDADE ZZ DS")), qPrintable(message));
        QCOMPARE(response.refs, QStringList { QStringLiteral("UNIDADE") });
    }

    void stalledClientHoldsTheQueryUntilItGoes()
    {
        ServerProcess server([](QSqlDatabase &db) {
            seedTranslations(db);
            exec(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300000) "
                                    "INSERT INTO TRADUCAO SELECT 'UNIDADE', 'K' || i, 'DS', 'ENG', 'Text number ' || i, 400 FROM n"));
        });
        QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
        writer.setDatabaseName(server.databaseFile());
        QVERIFY(writer.open());
        const auto tryWrite = [&writer] {
            return QSqlQuery(writer).exec(QStringLiteral("UPDATE IDIOMA SET NRORDEM = NRORDEM + 1"));
        };
        {
            RawClient stalled(server.port());
            stalled.send(frameOf(encodeRequest({ QStringLiteral("QLX02600.rdmGeraArquivo"), QStringLiteral("GetPropriedCds"),
                                                 { text(QStringLiteral("ENG")), text(QStringLiteral("UNIDADE")), date(0) } })));
            QVERIFY(stalled.socket.waitForReadyRead(RawClient::kWaitMs)); // the answer has begun and is not read
            // The query is still open, paused by the client that takes nothing.
            QVERIFY(!tryWrite());
        }
        // Gone: the query ends and the database is free again.
        QSqlQuery(writer).exec(QStringLiteral("PRAGMA busy_timeout = 10000"));
        QVERIFY(tryWrite());
        writer.close();
        writer = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("writer"));
    }

    void scriptAppliesToAScratchDatabase()
    {
        ServerProcess server(seedTranslations);
        RawClient client(server.port());
        const Response response = client.call(QStringLiteral("GetPropriedCds"),
            { text(QStringLiteral("ENG")), text(QStringLiteral("PRODUTO"), ArgumentKind::StrRef), date(0) });
        QSqlDatabase target = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("target"));
        target.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(target.open());
        exec(target, QStringLiteral("CREATE TABLE TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO, "
                                    "PRIMARY KEY (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA))"));
        for (int pass = 0; pass < 2; ++pass) { // applying twice updates, never duplicates
            for (const QByteArray &line : packetStrings(response))
                exec(target, QString::fromLatin1(line));
        }
        QSqlQuery query(QStringLiteral("SELECT DSTRADUCAO FROM TRADUCAO ORDER BY CDCHAVE"), target);
        QStringList texts;
        while (query.next())
            texts << query.value(0).toString();
        QCOMPARE(texts, (QStringList { QStringLiteral("Kids' shoes"), QStringLiteral("Line one\nline two") }));
    }

    void metricsCountEveryCall_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QList<Argument>>("args");
        QTest::addColumn<QByteArray>("counted"); // the labels of the call's counter
        QTest::addColumn<bool>("scriptLines");
        QTest::newRow("languages") << QStringLiteral("GetIdioma") << QList<Argument> {}
                                   << QByteArray("method=\"GetIdioma\",outcome=\"ok\"") << false;
        QTest::newRow("tables") << QStringLiteral("GetTabela") << QList<Argument> { text(QString()), text(QStringLiteral("T")) }
                                << QByteArray("method=\"GetTabela\",outcome=\"ok\"") << false;
        QTest::newRow("a generation")
            << QStringLiteral("GetPropriedCds")
            << QList<Argument> { text(QStringLiteral("ENG")), text(QStringLiteral("PRODUTO             UNIDADE             "), ArgumentKind::StrRef), date(0) }
            << QByteArray("method=\"GetPropriedCds\",outcome=\"ok\"") << true;
        QTest::newRow("a generation the server refuses")
            << QStringLiteral("GetPropriedCds")
            << QList<Argument> { text(QStringLiteral("ENG")), text(QStringLiteral("NENHUMA"), ArgumentKind::StrRef), date(0) }
            << QByteArray("method=\"GetPropriedCds\",outcome=\"failure\"") << false;
        QTest::newRow("unknown method") << QStringLiteral("GetNothing\nforged") << QList<Argument> {}
                                        << QByteArray("method=\"other\",outcome=\"exception\"") << false;
    }
    void metricsCountEveryCall()
    {
        QFETCH(QString, method);
        QFETCH(QList<Argument>, args);
        QFETCH(QByteArray, counted);
        QFETCH(bool, scriptLines);
        ServerProcess server(seedTranslations, false, kWithMetrics);
        QVERIFY(server.metricsPort() > 0);
        RawClient client(server.port());
        const Response response = client.call(method, args);
        const qint64 lines = scriptLines ? packetStrings(response).size() + client.parts.values.size() : 0;
        const qint64 bytes = answerBytes(client);

        const HttpAnswer scraped = get(server.metricsPort(), "/metrics");
        QCOMPARE(scraped.status, 200);
        QVERIFY(scraped.head.contains("Content-Type: text/plain; version=0.0.4; charset=utf-8"));
        const QByteArray &page = scraped.body;
        QCOMPARE(sample(page, "qlx_calls_total{" + counted + '}'), 1.0);
        double calls = 0;
        for (const QByteArray &line : page.split('\n')) {
            if (line.startsWith("qlx_calls_total{"))
                calls += line.mid(line.lastIndexOf(' ') + 1).toDouble();
        }
        QCOMPARE(calls, 1.0);
        QCOMPARE(sample(page, "qlx_script_lines_sent_total"), double(lines));
        QCOMPARE(sample(page, "qlx_answer_bytes_sent_total"), double(bytes));
        const QByteArray methodLabel = counted.left(counted.indexOf(','));
        QCOMPARE(sample(page, "qlx_call_duration_seconds_count{" + methodLabel + '}'), 1.0);
        QCOMPARE(sample(page, "qlx_call_duration_seconds_bucket{" + methodLabel + ",le=\"+Inf\"}"), 1.0);
        QCOMPARE(sample(page, "qlx_sessions_open"), 1.0);
        QCOMPARE(sample(page, "qlx_sessions_in_handshake"), 0.0);
        QVERIFY2(!page.contains("forged"), "a client's text is never a label");

        const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
        if (promtool.isEmpty())
            QSKIP("promtool is not installed (Debian's prometheus package): the page's format is not checked");
        QProcess check;
        check.start(promtool, { QStringLiteral("check"), QStringLiteral("metrics") });
        check.write(page);
        check.closeWriteChannel();
        QVERIFY(check.waitForFinished(RawClient::kWaitMs));
        QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
    }

    void metricsCountRefusedConnections_data()
    {
        QTest::addColumn<QString>("cap");
        QTest::addColumn<QByteArray>("cause");
        QTest::newRow("clients") << QStringLiteral("--max-clients") << QByteArray("max-clients");
        QTest::newRow("clients of one network") << QStringLiteral("--max-clients-per-prefix")
                                                << QByteArray("max-clients-per-prefix");
    }
    void metricsCountRefusedConnections()
    {
        QFETCH(QString, cap);
        QFETCH(QByteArray, cause);
        ServerProcess server(seedTranslations, false, kWithMetrics + QStringList { cap, QStringLiteral("1") });
        RawClient holder(server.port());
        QVERIFY(!holder.call(QStringLiteral("GetIdioma"), {}).isException);
        RawClient refused(server.port());
        const std::optional<Response> busy = refused.receive();
        QVERIFY(busy && busy->exceptionClass == QStringLiteral("EServerBusy"));

        const QByteArray page = get(server.metricsPort(), "/metrics").body;
        QCOMPARE(sample(page, "qlx_connections_refused_total{cause=\"" + cause + "\"}"), 1.0);
        QCOMPARE(sample(page, "qlx_sessions_open"), 1.0);
    }

    void metricsAddressAnswersOnlyWhatItServes_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::newRow("another path") << QByteArray("GET /metricz HTTP/1.1\r\n\r\n") << 404;
        QTest::newRow("another method") << QByteArray("POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << 405;
        QTest::newRow("not HTTP") << QByteArray("hello\r\n\r\n") << 400;
        QTest::newRow("over-long path") << "GET /" + QByteArray(20000, 'a') + " HTTP/1.1\r\n\r\n" << 414;
        QTest::newRow("over-long headers") << "GET /metrics HTTP/1.1\r\nX: " + QByteArray(20000, 'a') + "\r\n\r\n" << 431;
        QTest::newRow("a query after the path") << QByteArray("GET /healthz?probe=1 HTTP/1.1\r\n\r\n") << 200;
    }
    void metricsAddressAnswersOnlyWhatItServes()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        ServerProcess server(seedTranslations, false, kWithMetrics);
        const HttpAnswer answer = http(server.metricsPort(), request);
        QCOMPARE(answer.status, status);
        QVERIFY(answer.head.contains("Connection: close"));
        QCOMPARE(answer.head.contains("Allow: GET"), status == 405);
        QVERIFY(RawClient(server.port()).call(QStringLiteral("GetIdioma"), {}).result.toMap().value(QLatin1String("ok")).toBool());
    }

    void healthFollowsTheDatabase_data()
    {
        QTest::addColumn<QByteArray>("replacement"); // of the database file; empty: removed
        QTest::addColumn<QString>("reason");
        QTest::newRow("file removed") << QByteArray() << QStringLiteral("cannot open the database");
        QTest::newRow("file no database") << QByteArray(4096, 'x') << QStringLiteral("did not answer");
    }
    void healthFollowsTheDatabase()
    {
        QFETCH(QByteArray, replacement);
        QFETCH(QString, reason);
        ServerProcess server(seedTranslations, false, kWithMetrics);
        const HttpAnswer healthy = get(server.metricsPort(), "/healthz");
        QCOMPARE(healthy.status, 200);
        QCOMPARE(healthy.body, QByteArray("ok\n"));

        const QString file = server.databaseFile();
        QVERIFY(QFile::rename(file, file + QStringLiteral(".away")));
        if (!replacement.isEmpty()) {
            QFile garbage(file);
            QVERIFY(garbage.open(QIODevice::WriteOnly));
            garbage.write(replacement);
        }
        HttpAnswer sick;
        QTRY_VERIFY_WITH_TIMEOUT((sick = get(server.metricsPort(), "/healthz")).status == 503, 10000);
        QVERIFY2(sick.body.endsWith('\n') && sick.body.count('\n') == 1, sick.body.constData());
        QVERIFY2(sick.body.contains(reason.toUtf8()), sick.body.constData());

        QFile::remove(file);
        QVERIFY(QFile::rename(file + QStringLiteral(".away"), file));
        QTRY_COMPARE_WITH_TIMEOUT(get(server.metricsPort(), "/healthz").status, 200, 10000);
    }

    void metricsAddressNeedsAPort_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("no port") << QStringLiteral("127.0.0.1");
        QTest::newRow("port over 65535") << QStringLiteral("127.0.0.1:70000");
        QTest::newRow("no host") << QStringLiteral(":9102");
    }
    void metricsAddressNeedsAPort()
    {
        QFETCH(QString, address);
        ServerProcess database(seedTranslations);
        QProcess server;
        server.start(QStringLiteral(QLX_SERVER_PATH), { QStringLiteral("--db"), database.databaseFile(), QStringLiteral("--listen"),
                                                        QStringLiteral("127.0.0.1:0"), QStringLiteral("--metrics"), address });
        QVERIFY(server.waitForFinished(RawClient::kWaitMs));
        QCOMPARE(server.exitCode(), 2);
        const QByteArray said = server.readAllStandardError();
        QVERIFY2(said.contains("--metrics \"" + address.toUtf8() + '"'), said.constData());
    }
};

QTEST_GUILESS_MAIN(TestAppServer)
#include "tst_appserver.moc"
