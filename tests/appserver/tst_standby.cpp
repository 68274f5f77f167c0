// A server on a PostgreSQL hot standby: a primary with the demo database, a
// streaming standby made by pg_basebackup -R, the read-only role on both. The
// standby's server gives the primary's server's bytes, follows a change made on
// the primary, logs its replay lag only when it is behind, and goes on serving
// once the primary is stopped.
#include "tests/support/listeningserver.h"
#include "tests/support/postgrescluster.h"

#include "appserver/database/replaylag.h"
#include "protocol/datapacket.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRegularExpression>

using namespace protocol;

namespace {

// How long a change made on the primary may take to reach the standby's server.
constexpr int kReplicationMs = 30'000;

const QString kAllTables = QStringLiteral("CATEGORIA           MENSAGEM            PRODUTO             UNIDADE");
const char *const kLanguages[] = { "POR", "ENG", "ESP" };

// The answer to GetPropriedCds for every change of a language, as the server sends it.
QByteArray script(int port, const QString &language)
{
    return RawCaller(port).call(QStringLiteral("GetPropriedCds"),
                                { { ArgumentKind::Str, language, 0 }, { ArgumentKind::StrRef, kAllTables, 0 },
                                  { ArgumentKind::Date, QString(), 0 } });
}

bool exec(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    return false;
}

} // namespace

class TestStandby : public QObject
{
    Q_OBJECT

    PostgresCluster m_primary;
    PostgresCluster m_standby;
    std::unique_ptr<ListeningServer> m_onPrimary;
    std::unique_ptr<ListeningServer> m_onStandby;
    QElapsedTimer m_sinceLastChange; // the last transaction the standby replayed

    void addTranslation(const QString &key)
    {
        {
            QSqlDatabase db = m_primary.open(QStringLiteral("translations"), QStringLiteral("change"));
            QVERIFY(exec(db, QStringLiteral("INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, "
                                            "DTALTERACAO) VALUES ('PRODUTO', '%1', 'DSPRODUTO', 'ENG', 'Trail shoes', now())")
                                 .arg(key)));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("change"));
        m_sinceLastChange.start();
    }

private slots:
    void initTestCase()
    {
        QString failure;
        if (PostgresCluster::binDirectory().isEmpty())
            QSKIP("PostgreSQL is not installed: install the postgresql package to run this test");
        QVERIFY2(m_primary.start(failure), qPrintable(failure));
        QVERIFY(m_primary.createDatabase(QStringLiteral("translations")));
        QCOMPARE(QProcess::execute(QStringLiteral(QLX_SERVER_PATH),
                                   { QStringLiteral("--init-demo"), m_primary.uri(QStringLiteral("translations")) }),
                 0);
        {
            QSqlDatabase db = m_primary.open(QStringLiteral("translations"), QStringLiteral("roles"));
            const QString password = PostgresCluster::password();
            QVERIFY(exec(db, QStringLiteral("CREATE ROLE qlx02600_replica LOGIN REPLICATION PASSWORD '%1'").arg(password)));
            QVERIFY(exec(db, QStringLiteral("CREATE ROLE qlx02600_reader LOGIN PASSWORD '%1'").arg(password)));
            QVERIFY(exec(db, QStringLiteral("GRANT SELECT ON idioma, progtrad, traducao TO qlx02600_reader")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("roles"));
        QVERIFY2(m_standby.startStandby(m_primary, QStringLiteral("qlx02600_replica"), failure), qPrintable(failure));
        // The reader's grants came with the data: nothing is done on the standby.
        const QString reader = QStringLiteral("qlx02600_reader");
        m_onPrimary = std::make_unique<ListeningServer>(
            QStringList { QStringLiteral("--db"), m_primary.uri(QStringLiteral("translations"), reader) });
        m_onStandby = std::make_unique<ListeningServer>(
            QStringList { QStringLiteral("--db"), m_standby.uri(QStringLiteral("translations"), reader) });
        QVERIFY2(m_onPrimary->port() > 0, m_onPrimary->log().constData());
        QVERIFY2(m_onStandby->port() > 0, m_onStandby->log().constData());
    }

    void theStandbyServesThePrimarysBytes_data()
    {
        QTest::addColumn<QString>("language");
        for (const char *language : kLanguages)
            QTest::newRow(language) << QString::fromLatin1(language);
    }
    void theStandbyServesThePrimarysBytes()
    {
        QFETCH(QString, language);
        const QByteArray answer = script(m_onPrimary->port(), language);
        QVERIFY(answer.size() > 100);
        QCOMPARE(script(m_onStandby->port(), language), answer);
    }

    void aChangeOnThePrimaryReachesTheStandby()
    {
        const QByteArray before = script(m_onPrimary->port(), QStringLiteral("ENG"));
        addTranslation(QStringLiteral("9001"));
        const QByteArray after = script(m_onPrimary->port(), QStringLiteral("ENG"));
        QVERIFY(after != before);
        const QDeadlineTimer deadline(kReplicationMs);
        while (script(m_onStandby->port(), QStringLiteral("ENG")) != after && !deadline.hasExpired())
            QTest::qWait(100);
        QCOMPARE(script(m_onStandby->port(), QStringLiteral("ENG")), after);
    }

    // An idle primary sends nothing: a standby that has replayed all it received is
    // current, however old its last change.
    void aCurrentStandbyLogsNoLag()
    {
        const qint64 past = (ReplayLag::kReplayLagWarningSeconds + 1) * 1000LL - m_sinceLastChange.elapsed();
        if (past > 0)
            QTest::qWait(int(past));
        QVERIFY(!script(m_onStandby->port(), QStringLiteral("ENG")).isEmpty());
        QVERIFY2(!m_onStandby->log().contains("standby replay lag"), m_onStandby->log().constData());
    }

    void theStandbyServesWithoutItsPrimary()
    {
        QByteArrayList answers;
        for (const char *language : kLanguages)
            answers << script(m_onPrimary->port(), QString::fromLatin1(language));
        QString failure;
        QVERIFY2(m_primary.stop(failure), qPrintable(failure));
        for (int i = 0; i < answers.size(); ++i)
            QCOMPARE(script(m_onStandby->port(), QString::fromLatin1(kLanguages[i])), answers.at(i));
        // Cut off from its primary, the standby cannot tell what it misses: the age
        // of its last change is its lag.
        const QRegularExpressionMatch lag = QRegularExpression(QStringLiteral("standby replay lag (\\d+) s \\(over 60 s\\)"))
                                                .match(QString::fromUtf8(m_onStandby->log()));
        QVERIFY2(lag.hasMatch(), m_onStandby->log().constData());
        QVERIFY(lag.captured(1).toInt() > ReplayLag::kReplayLagWarningSeconds);
    }
};

QTEST_GUILESS_MAIN(TestStandby)
#include "tst_standby.moc"
