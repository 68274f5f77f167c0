#pragma once

#include "appserver/rows/scriptrows.h"

#include <QByteArrayList>

struct sqlite3;
struct sqlite3_stmt;

// The script's rows on SQLite, through the sqlite3 C API on the connection QtSql
// opened. TRADUCAO is clustered on (language, table, key, column), so a scan of
// the primary key yields rows in script order and the first one at once. For a
// recent "since" the (language, moment) index finds the few rows faster, sorted
// afterwards. SQLite's planner cannot see the bound moment's selectivity (no
// STAT4 in Debian's build, and customers' databases are never analysed), so the
// choice counts through that index: a few rows since the moment, or a few before
// it, settle it at once; between, the share since the moment of the language's
// total (languagetotals) does.
class SqliteScriptRows : public ScriptRows
{
public:
    // The share of the language's rows since the moment below which reading them
    // through the moment index and sorting costs less than walking the whole
    // language in key order. Measured with bench_sqlite_plan on the 1M-row
    // database (one language, rows since the moment 1 % to 10 %, plans
    // interleaved): both cost the same at about 3 % (0.14 s of CPU; an index row
    // costs about 30 key-order rows, spent in lookups of the key's pages). On the
    // 10M-row database the crossover is between 2 % and 3 %.
    static constexpr double kMomentIndexShare = 0.03;
    // Fewer rows than this since the moment cost at most about 10 ms through the
    // index, whatever the language's size: they take it without its total; fewer
    // before the moment take the key order.
    static constexpr qint64 kFewRows = 2'000;

    enum class Plan { KeyOrder, MomentIndex };

    SqliteScriptRows(sqlite3 *database, const ScriptRowsRequest &request);
    SqliteScriptRows(sqlite3 *database, const ScriptRowsRequest &request, Plan plan);
    ~SqliteScriptRows() override;
    SqliteScriptRows(const SqliteScriptRows &) = delete;
    SqliteScriptRows &operator=(const SqliteScriptRows &) = delete;

    bool next(Translation &row) override;
    QString error() const override { return m_error; }

    // The plan for a request: counts of at most kFewRows index entries on each side
    // of the moment, then of kMomentIndexShare of the language's, whose total is
    // counted now and then.
    static Plan choosePlan(sqlite3 *database, const ScriptRowsRequest &request);
    // The query of a plan for `tables` table codes (bound as ?3, ?4, ...).
    static QByteArray query(Plan plan, qsizetype tables);

private:
    bool fail(const char *what);

    sqlite3 *m_database;
    bool m_storedAsUtf8;
    sqlite3_stmt *m_statement = nullptr;
    QByteArrayList m_bound; // the bound texts, alive while the statement runs
    QString m_error;
};
