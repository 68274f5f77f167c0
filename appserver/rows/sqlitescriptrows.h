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
// choice compares the rows since the moment, counted through that index, with the
// language's total (languagetotals).
class SqliteScriptRows : public ScriptRows
{
public:
    // The share of the language's rows since the moment below which reading them
    // through the moment index and sorting costs less than walking the whole
    // language in key order. Measured with bench_sqlite_plan on the 1M-row
    // database (one language, rows since the moment 1 % to 10 %, plans
    // interleaved): both cost the same at about 3 % (0.17 s of CPU; an index row
    // costs about 25 key-order rows, spent in lookups of the key's pages).
    static constexpr double kMomentIndexShare = 0.03;

    enum class Plan { KeyOrder, MomentIndex };

    SqliteScriptRows(sqlite3 *database, const ScriptRowsRequest &request);
    SqliteScriptRows(sqlite3 *database, const ScriptRowsRequest &request, Plan plan);
    ~SqliteScriptRows() override;
    SqliteScriptRows(const SqliteScriptRows &) = delete;
    SqliteScriptRows &operator=(const SqliteScriptRows &) = delete;

    bool next(Translation &row) override;
    QString error() const override { return m_error; }

    // The plan for a request: a count of at most kMomentIndexShare of the
    // language's index entries, besides the language's total now and then.
    static Plan choosePlan(sqlite3 *database, const ScriptRowsRequest &request);
    // The query of a plan for `tables` table codes (bound as ?3, ?4, ...).
    static QByteArray query(Plan plan, qsizetype tables);

private:
    bool fail(const char *what);

    sqlite3 *m_database;
    sqlite3_stmt *m_statement = nullptr;
    QByteArrayList m_bound; // the bound texts, alive while the statement runs
    QString m_error;
};
