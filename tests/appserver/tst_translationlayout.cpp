// TRADUCAO's layout on both backends: a language's rows come in script order from
// the key with no sort for an early "since", through the moment index for a
// recent one (on SQLite, for a middle one, by the share of rows since it), the
// same rows either way; databases made with the earlier layout move to it keeping
// every row.
#include "tests/support/postgrescluster.h"

#include "appserver/database/translationdb.h"
#include "appserver/database/translationlayout.h"
#include "appserver/rows/postgresscriptrows.h"
#include "appserver/rows/sqlitescriptrows.h"

#include <QSqlDriver>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <sqlite3.h>

using Backend = DatabaseAddress::Backend;

namespace {

constexpr int kRows = 40000;
constexpr int kPlanRows = 240000; // SQLite's plans: a share near the crossover holds more than a few rows
constexpr int kTables = 8;
constexpr double kFirstMoment = 45000;
constexpr double kLastMoment = 46000; // moments spread evenly up to here
constexpr double kRecentSince = 45999; // later than all but a thousandth of the rows
constexpr double kShareMargin = 0.01; // middle moments this far either side of the plans' crossover

// A moment leaving about `share` of a language's rows at or after it.
constexpr double sinceForShare(double share) { return kLastMoment - (kLastMoment - kFirstMoment) * share; }

// TRADUCAO as servers before the clustered layout made it.
const char *const kEarlierSqlite =
    "CREATE TABLE TRADUCAO (CDPROGTRAD VARCHAR(20) NOT NULL, CDCHAVE VARCHAR(60) NOT NULL, NMCAMPO VARCHAR(30) NOT NULL, "
    "IDIDIOMA CHAR(3) NOT NULL, DSTRADUCAO VARCHAR(4000) NOT NULL %1, DTALTERACAO REAL NOT NULL, "
    "PRIMARY KEY (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA))";
const char *const kEarlierPostgres =
    "CREATE TABLE TRADUCAO (CDPROGTRAD VARCHAR(20) COLLATE \"C\" NOT NULL, CDCHAVE VARCHAR(60) COLLATE \"C\" NOT NULL, "
    "NMCAMPO VARCHAR(30) COLLATE \"C\" NOT NULL, IDIDIOMA VARCHAR(3) COLLATE \"C\" NOT NULL, "
    "DSTRADUCAO VARCHAR(4000) COLLATE \"C\" NOT NULL, DTALTERACAO TIMESTAMP NOT NULL, "
    "PRIMARY KEY (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA))";

void run(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        QTest::qFail(qPrintable(query.lastError().text() + QStringLiteral(" in ") + sql.left(200)), __FILE__, __LINE__);
}

QString tableCode(int i) { return QStringLiteral("TAB%1").arg(i % kTables + 1); }

// Two languages' rows, inserted out of key order, moments spread over 1000 days.
void seed(QSqlDatabase &db, Backend backend, int rows = kRows)
{
    const QString moment = backend == Backend::SQLite ? QStringLiteral("%1")
                                                      : QStringLiteral("TIMESTAMP '1899-12-30' + %1 * INTERVAL '1 day'");
    run(db, QStringLiteral("INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA) VALUES ('ENG', 'Inglês'), ('ESP', 'Espanhol')"));
    for (int i = 0; i < kTables; ++i)
        run(db, QStringLiteral("INSERT INTO PROGTRAD (CDPROGTRAD) VALUES ('%1')").arg(tableCode(i)));
    run(db, QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1 - 1) "
        "INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) "
        "SELECT 'TAB' || ((i * 7919) % %1 % %2 + 1), 'K' || ((i * 7919) % %1), 'DS', "
        "CASE WHEN i % 2 = 0 THEN 'ENG' ELSE 'ESP' END, 'Texto ' || i, %3 FROM n")
            .arg(rows).arg(kTables).arg(moment.arg(QStringLiteral("(%1 + ((i * 7919) % %2) * 1000.0 / %2)").arg(kFirstMoment).arg(rows))));
}

// Every row as text, in key order, day counts to the last bit.
QStringList everyRow(QSqlDatabase &db, Backend backend)
{
    QSqlQuery query(db);
    query.exec(QStringLiteral("SELECT CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, %1 FROM TRADUCAO "
                              "ORDER BY CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA")
                   .arg(backend == Backend::SQLite ? QStringLiteral("DTALTERACAO") : QStringLiteral("DTALTERACAO::text")));
    QStringList rows;
    while (query.next()) {
        QStringList values;
        for (int i = 0; i < 5; ++i)
            values << query.value(i).toString();
        values << (backend == Backend::SQLite ? QString::number(query.value(5).toDouble(), 'g', 17) : query.value(5).toString());
        rows << values.join(QLatin1Char('|'));
    }
    return rows;
}

QStringList allTables()
{
    QStringList tables;
    for (int i = 0; i < kTables; ++i)
        tables << tableCode(i);
    return tables;
}

QString plan(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        return QStringLiteral("(no plan: %1)").arg(query.lastError().text());
    QStringList lines;
    while (query.next())
        lines << query.value(query.record().count() - 1).toString();
    return lines.join(QLatin1Char('\n'));
}

// SQLite's plan for a query with unbound parameters.
QString sqlitePlan(QSqlDatabase &db, const QByteArray &sql)
{
    sqlite3 *handle = *static_cast<sqlite3 *const *>(db.driver()->handle().constData());
    sqlite3_stmt *explain = nullptr;
    if (sqlite3_prepare_v2(handle, "EXPLAIN QUERY PLAN " + sql, -1, &explain, nullptr) != SQLITE_OK)
        return QStringLiteral("(no plan: %1)").arg(QString::fromUtf8(sqlite3_errmsg(handle)));
    QStringList lines;
    while (sqlite3_step(explain) == SQLITE_ROW)
        lines << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(explain, 3)));
    sqlite3_finalize(explain);
    return lines.join(QLatin1Char('\n'));
}

// The answer's rows through one SQLite plan, each as text.
QStringList sqliteRows(sqlite3 *handle, const ScriptRowsRequest &request, SqliteScriptRows::Plan plan)
{
    SqliteScriptRows rows(handle, request, plan);
    QStringList read;
    Translation row;
    while (rows.next(row))
        read << QString::fromUtf8(row.table.data(), qsizetype(row.table.size())) + QLatin1Char('|')
                + QString::fromUtf8(row.key.data(), qsizetype(row.key.size())) + QLatin1Char('|')
                + QString::fromUtf8(row.column.data(), qsizetype(row.column.size())) + QLatin1Char('|')
                + QString::fromUtf8(row.text.data(), qsizetype(row.text.size())) + QLatin1Char('|')
                + QString::number(row.changedAt, 'g', 17);
    if (!rows.error().isEmpty())
        read << rows.error();
    return read;
}

// The PostgreSQL query with its values written in, as the planner sees them.
QString withValues(QByteArray sql, const ScriptRowsRequest &request)
{
    const QByteArrayList values = PostgresScriptRows::values(request);
    for (qsizetype i = values.size(); i >= 1; --i)
        sql.replace("$" + QByteArray::number(i), i == 2 ? values.at(i - 1) : "'" + values.at(i - 1) + "'");
    return QString::fromUtf8(sql);
}

} // namespace

class TestTranslationLayout : public QObject
{
    Q_OBJECT

    PostgresCluster m_cluster;
    QString m_clusterFailure;
    QTemporaryDir m_dir;
    int m_databases = 0;
    QString m_sqlitePlans;

    QString freshAddress(Backend backend)
    {
        const QString name = QStringLiteral("layout%1").arg(++m_databases);
        if (backend == Backend::SQLite)
            return m_dir.filePath(name + QStringLiteral(".db"));
        if (!m_cluster.createDatabase(name))
            qWarning("cannot create the database %s", qPrintable(name));
        return m_cluster.uri(name);
    }

    // One SQLite database seeded with kPlanRows for every plan case.
    QString sqlitePlansAddress()
    {
        if (m_sqlitePlans.isEmpty()) {
            const QString address = freshAddress(Backend::SQLite);
            TranslationDb db(address, QStringLiteral("seeding"));
            seed(db.database(), Backend::SQLite, kPlanRows);
            m_sqlitePlans = address;
        }
        return m_sqlitePlans;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (!m_cluster.start(m_clusterFailure) && m_clusterFailure.isEmpty())
            m_clusterFailure = QStringLiteral("PostgreSQL did not start");
    }

    void plansForEarlyAndRecentSince_data()
    {
        using Plan = SqliteScriptRows::Plan;
        const double share = SqliteScriptRows::kMomentIndexShare;
        QTest::addColumn<Backend>("backend");
        QTest::addColumn<double>("since");
        QTest::addColumn<Plan>("sqliteChoice");
        QTest::addColumn<QStringList>("inPlan");
        QTest::addColumn<QStringList>("notInPlan");
        QTest::newRow("SQLite, early: key order, no sort") << Backend::SQLite << 0.0 << Plan::KeyOrder
            << QStringList { QStringLiteral("USING PRIMARY KEY (IDIDIOMA=? AND CDPROGTRAD=?)") }
            << QStringList { QStringLiteral("TEMP B-TREE"), QStringLiteral("TRADUCAO_ALTERACAO") };
        QTest::newRow("SQLite, middle, a share above the crossover: key order") << Backend::SQLite
            << sinceForShare(share + kShareMargin) << Plan::KeyOrder
            << QStringList { QStringLiteral("USING PRIMARY KEY (IDIDIOMA=? AND CDPROGTRAD=?)") }
            << QStringList { QStringLiteral("TEMP B-TREE"), QStringLiteral("TRADUCAO_ALTERACAO") };
        QTest::newRow("SQLite, middle, a share below the crossover: moment index") << Backend::SQLite
            << sinceForShare(share - kShareMargin) << Plan::MomentIndex
            << QStringList { QStringLiteral("USING INDEX TRADUCAO_ALTERACAO (IDIDIOMA=? AND DTALTERACAO>?)"),
                             QStringLiteral("USE TEMP B-TREE FOR ORDER BY") }
            << QStringList {};
        QTest::newRow("SQLite, recent: moment index") << Backend::SQLite << kRecentSince << Plan::MomentIndex
            << QStringList { QStringLiteral("USING INDEX TRADUCAO_ALTERACAO (IDIDIOMA=? AND DTALTERACAO>?)") }
            << QStringList {};
        QTest::newRow("PostgreSQL, early: key order, no sort") << Backend::PostgreSQL << 0.0 << Plan::KeyOrder
            << QStringList { QStringLiteral("Index Scan using traducao_pkey") }
            << QStringList { QStringLiteral("Sort"), QStringLiteral("traducao_alteracao") };
        QTest::newRow("PostgreSQL, recent: moment index") << Backend::PostgreSQL << kRecentSince << Plan::MomentIndex
            << QStringList { QStringLiteral("traducao_alteracao") } << QStringList {};
    }
    void plansForEarlyAndRecentSince()
    {
        QFETCH(Backend, backend);
        QFETCH(double, since);
        QFETCH(SqliteScriptRows::Plan, sqliteChoice);
        QFETCH(QStringList, inPlan);
        QFETCH(QStringList, notInPlan);
        if (backend == Backend::PostgreSQL && !m_clusterFailure.isEmpty())
            QSKIP(qPrintable(m_clusterFailure));
        TranslationDb db(backend == Backend::SQLite ? sqlitePlansAddress() : freshAddress(backend), QStringLiteral("plans"));
        if (backend == Backend::PostgreSQL)
            seed(db.database(), backend);
        const ScriptRowsRequest request { QStringLiteral("ENG"), since, allTables() };
        QString shown;
        if (backend == Backend::SQLite) {
            sqlite3 *handle = *static_cast<sqlite3 *const *>(db.database().driver()->handle().constData());
            const SqliteScriptRows::Plan chosen = SqliteScriptRows::choosePlan(handle, request);
            QCOMPARE(chosen, sqliteChoice);
            shown = sqlitePlan(db.database(), SqliteScriptRows::query(chosen, kTables));
            // Either plan answers the same rows in the same order.
            const QStringList byKey = sqliteRows(handle, request, SqliteScriptRows::Plan::KeyOrder);
            QVERIFY(!byKey.isEmpty());
            QCOMPARE(sqliteRows(handle, request, SqliteScriptRows::Plan::MomentIndex), byKey);
        } else {
            run(db.database(), QStringLiteral("ANALYZE"));
            shown = plan(db.database(), QStringLiteral("EXPLAIN ") + withValues(PostgresScriptRows::query(true), request));
        }
        for (const QString &part : inPlan)
            QVERIFY2(shown.contains(part), qPrintable(shown));
        for (const QString &part : notInPlan)
            QVERIFY2(!shown.contains(part), qPrintable(shown));
    }

    // Texts are taken as stored in a UTF-8 database and converted in the others.
    void textsReadAlikeInEveryEncoding_data()
    {
        QTest::addColumn<QByteArray>("encoding");
        QTest::newRow("UTF-16le") << QByteArrayLiteral("UTF-16le");
        QTest::newRow("UTF-16be") << QByteArrayLiteral("UTF-16be");
    }
    void textsReadAlikeInEveryEncoding()
    {
        QFETCH(QByteArray, encoding);
        const auto seeded = [this](const QByteArray &pragma) {
            const QString address = freshAddress(Backend::SQLite);
            sqlite3 *empty = nullptr; // the encoding is set before the first table
            sqlite3_open(address.toUtf8().constData(), &empty);
            sqlite3_exec(empty, pragma.constData(), nullptr, nullptr, nullptr);
            sqlite3_exec(empty, "CREATE TABLE made (x); DROP TABLE made", nullptr, nullptr, nullptr);
            sqlite3_close(empty);
            TranslationDb db(address, QStringLiteral("encoding"));
            seed(db.database(), Backend::SQLite, 2000);
            run(db.database(), QStringLiteral("INSERT INTO TRADUCAO VALUES ('TAB1', 'K-ç', 'DS', 'ENG', 'Tradução em € ''x''', 45500)"));
            sqlite3 *handle = *static_cast<sqlite3 *const *>(db.database().driver()->handle().constData());
            return sqliteRows(handle, { QStringLiteral("ENG"), 0, allTables() }, SqliteScriptRows::Plan::KeyOrder);
        };
        const QStringList utf8 = seeded("PRAGMA encoding = 'UTF-8'");
        QVERIFY(utf8.contains(QStringLiteral("TAB1|K-ç|DS|Tradução em € 'x'|45500")));
        QCOMPARE(seeded("PRAGMA encoding = '" + encoding + "'"), utf8);
    }

    void earlierLayoutMovesKeepingEveryRow_data()
    {
        QTest::addColumn<Backend>("backend");
        QTest::addColumn<bool>("refusedRow"); // a row the earlier table took and the schema refuses
        QTest::newRow("SQLite") << Backend::SQLite << false;
        QTest::newRow("SQLite with a refused row: left as it was") << Backend::SQLite << true;
        QTest::newRow("PostgreSQL") << Backend::PostgreSQL << false;
    }
    void earlierLayoutMovesKeepingEveryRow()
    {
        QFETCH(Backend, backend);
        QFETCH(bool, refusedRow);
        if (backend == Backend::PostgreSQL && !m_clusterFailure.isEmpty())
            QSKIP(qPrintable(m_clusterFailure));
        const QString address = freshAddress(backend);
        QStringList before;
        {
            TranslationDb db(address, QStringLiteral("earlier"));
            QSqlDatabase &database = db.database();
            run(database, QStringLiteral("DROP TABLE TRADUCAO"));
            run(database, backend == Backend::SQLite
                              ? QString::fromLatin1(kEarlierSqlite).arg(refusedRow ? QString() : QStringLiteral("CHECK (length(DSTRADUCAO) <= 4000)"))
                              : QString::fromLatin1(kEarlierPostgres));
            run(database, QStringLiteral("CREATE INDEX TRADUCAO_ALTERACAO ON TRADUCAO (IDIDIOMA, DTALTERACAO)"));
            seed(database, backend);
            if (refusedRow)
                run(database, QStringLiteral("INSERT INTO TRADUCAO VALUES ('TAB1', 'LONGA', 'DS', 'ENG', '%1', 45000)")
                                  .arg(QString(4001, QLatin1Char('x'))));
            QVERIFY(!translationlayout::current(database, backend));
            before = everyRow(database, backend);
            QCOMPARE(before.size(), kRows + (refusedRow ? 1 : 0));
        }
        TranslationDb moved(address, QStringLiteral("moved")); // opening moves the table
        QCOMPARE(translationlayout::current(moved.database(), backend), !refusedRow);
        QCOMPARE(everyRow(moved.database(), backend), before);
        // The moment index is there again, and lines still apply over the moved table.
        const QString shown = backend == Backend::SQLite
            ? sqlitePlan(moved.database(), SqliteScriptRows::query(SqliteScriptRows::Plan::MomentIndex, kTables))
            : QStringLiteral("(PostgreSQL keeps its index)");
        QVERIFY2(!shown.contains(QLatin1String("no plan")), qPrintable(shown));
        run(moved.database(), QStringLiteral("INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) "
                                             "VALUES ('TAB1', 'K0', 'DS', 'ENG', 'novo', %1) ON CONFLICT (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA) "
                                             "DO UPDATE SET DSTRADUCAO = excluded.DSTRADUCAO")
                                 .arg(backend == Backend::SQLite ? QStringLiteral("45000") : QStringLiteral("TIMESTAMP '2023-03-15'")));
        QCOMPARE(everyRow(moved.database(), backend).size(), before.size());
    }
};

QTEST_GUILESS_MAIN(TestTranslationLayout)
#include "tst_translationlayout.moc"
