#pragma once

#include "appserver/rows/scriptrows.h"

#include <QByteArrayList>

struct sqlite3;
struct sqlite3_stmt;

// The script's rows on SQLite, through the sqlite3 C API on the connection QtSql
// opened. TRADUCAO is clustered on (language, table, key, column), so a scan of
// the primary key yields rows in script order and the first one at once. For a
// recent "since" the (language, moment) index finds the few rows faster, sorted
// afterwards; SQLite's planner cannot see the bound moment's selectivity, so the
// choice is made by counting, through that index, up to kRecentRows rows.
class SqliteScriptRows : public ScriptRows
{
public:
    // An answer of fewer rows than this is read through the moment index.
    static constexpr int kRecentRows = 20'000;

    enum class Plan { KeyOrder, MomentIndex };

    SqliteScriptRows(sqlite3 *database, const ScriptRowsRequest &request);
    ~SqliteScriptRows() override;
    SqliteScriptRows(const SqliteScriptRows &) = delete;
    SqliteScriptRows &operator=(const SqliteScriptRows &) = delete;

    bool next(Translation &row) override;
    QString error() const override { return m_error; }

    // The plan for a request; a probe of at most kRecentRows index entries.
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
