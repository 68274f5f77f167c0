#pragma once

#include "appserver/rows/scriptrows.h"

#include <QByteArrayList>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

// The script's rows on PostgreSQL, through libpq on the connection QtSql opened.
// The query goes as one unnamed statement with its values (the planner sees
// them, so with its statistics it picks the key's order for an early "since" and
// the moment index for a recent one), and rows come one at a time as the server
// produces them: the first at once, none held in memory.
class PostgresScriptRows : public ScriptRows
{
public:
    PostgresScriptRows(pg_conn *connection, const ScriptRowsRequest &request);
    ~PostgresScriptRows() override;
    PostgresScriptRows(const PostgresScriptRows &) = delete;
    PostgresScriptRows &operator=(const PostgresScriptRows &) = delete;

    bool next(Translation &row) override;
    QString error() const override { return m_error; }

    // The query (for no table or some), and the values of its parameters.
    static QByteArray query(bool anyTable);
    static QByteArrayList values(const ScriptRowsRequest &request);

private:
    static std::vector<std::string> sortedCodes(const ScriptRowsRequest &request);
    // The next row of the listed tables' range.
    bool nextInRange(Translation &row);
    bool fail();
    // Reads what is left of the answer, so that the connection serves the next call.
    void drain();

    pg_conn *m_connection;
    std::vector<std::string> m_tables; // sorted
    pg_result *m_row = nullptr;
    bool m_running = false;
    QString m_error;
};
