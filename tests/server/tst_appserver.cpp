// The reference server: its answers on a real database, the script lines it
// composes, and how it survives clients that break the protocol.
#include "rawclient.h"
#include "serverprocess.h"

#include <QCborMap>

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
        // The long answer was not ready when the short one came.
        QCOMPARE(busy.socket.bytesAvailable() + busy.socket.waitForReadyRead(0), 0);
        const std::optional<Response> lines = busy.receive();
        QVERIFY2(lines, server.log().constData());
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
};

QTEST_GUILESS_MAIN(TestAppServer)
#include "tst_appserver.moc"
