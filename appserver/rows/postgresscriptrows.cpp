#include "appserver/rows/postgresscriptrows.h"

#include "appserver/database/backendsql.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <libpq-fe.h>
#include <limits>
#include <vector>

namespace {

std::string_view textOf(const PGresult *row, int column)
{
    return std::string_view(PQgetvalue(row, 0, column), size_t(PQgetlength(row, 0, column)));
}

// PostgreSQL writes a float8 in a form that reads back exactly ("Infinity" and
// "NaN" included); anything else is no moment.
double dayCountOf(std::string_view text)
{
    double value = std::numeric_limits<double>::quiet_NaN();
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size())
        return std::numeric_limits<double>::quiet_NaN();
    return value;
}

} // namespace

QByteArray PostgresScriptRows::query(bool anyTable)
{
    // The listed tables as a range of the key, so that an index scan yields the
    // rows in its order (a list would be searched table by table, then sorted);
    // rows of the range's unlisted tables are skipped as they come.
    return "SELECT CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, "
        + backendsql::dayCount(DatabaseAddress::Backend::PostgreSQL, QStringLiteral("DTALTERACAO")).toUtf8()
        + " FROM TRADUCAO WHERE IDIDIOMA = $1 AND DTALTERACAO >= TIMESTAMP '1899-12-30' + $2::float8 * INTERVAL '1 day' "
        + (anyTable ? QByteArrayLiteral("AND CDPROGTRAD BETWEEN $3 AND $4") : QByteArrayLiteral("AND FALSE"))
        + " ORDER BY CDPROGTRAD, CDCHAVE, NMCAMPO";
}

QByteArrayList PostgresScriptRows::values(const ScriptRowsRequest &request)
{
    QByteArrayList values { request.language.toUtf8(), QByteArray::number(request.since, 'g', 17) };
    const std::vector<std::string> codes = sortedCodes(request);
    if (!codes.empty())
        values << QByteArray::fromStdString(codes.front()) << QByteArray::fromStdString(codes.back());
    return values;
}

std::vector<std::string> PostgresScriptRows::sortedCodes(const ScriptRowsRequest &request)
{
    std::vector<std::string> codes;
    for (const QString &table : request.tables)
        codes.push_back(table.toStdString());
    std::sort(codes.begin(), codes.end()); // byte by byte, as COLLATE "C"
    return codes;
}

PostgresScriptRows::PostgresScriptRows(pg_conn *connection, const ScriptRowsRequest &request)
    : m_connection(connection)
    , m_tables(sortedCodes(request))
{
    const QByteArrayList values = PostgresScriptRows::values(request);
    std::vector<const char *> pointers;
    for (const QByteArray &value : values)
        pointers.push_back(value.constData());
    const QByteArray sql = query(!m_tables.empty());
    if (!PQsendQueryParams(connection, sql.constData(), int(pointers.size()), nullptr, pointers.data(), nullptr,
                           nullptr, 0)) {
        fail();
        return;
    }
    m_running = true;
    if (!PQsetSingleRowMode(connection))
        fail();
}

PostgresScriptRows::~PostgresScriptRows()
{
    PQclear(m_row);
    if (m_running) {
        // Stopped early: the server need not produce the rest.
        if (PGcancel *cancel = PQgetCancel(m_connection)) {
            char reason[256];
            PQcancel(cancel, reason, int(sizeof reason));
            PQfreeCancel(cancel);
        }
        drain();
    }
}

void PostgresScriptRows::drain()
{
    while (PGresult *rest = PQgetResult(m_connection))
        PQclear(rest);
    m_running = false;
}

bool PostgresScriptRows::fail()
{
    m_error = QString::fromUtf8(PQerrorMessage(m_connection)).trimmed();
    if (m_running)
        drain();
    return false;
}

bool PostgresScriptRows::next(Translation &row)
{
    do {
        if (!nextInRange(row))
            return false;
    } while (!std::binary_search(m_tables.begin(), m_tables.end(), row.table));
    return true;
}

bool PostgresScriptRows::nextInRange(Translation &row)
{
    PQclear(m_row);
    m_row = nullptr;
    if (!m_running)
        return false;
    m_row = PQgetResult(m_connection);
    if (!m_row) {
        m_running = false;
        return false;
    }
    switch (PQresultStatus(m_row)) {
    case PGRES_SINGLE_TUPLE:
        break;
    case PGRES_TUPLES_OK: // the end
        drain();
        return false;
    default:
        m_error = QString::fromUtf8(PQresultErrorMessage(m_row)).trimmed();
        drain();
        return false;
    }
    row.table = textOf(m_row, 0);
    row.key = textOf(m_row, 1);
    row.column = textOf(m_row, 2);
    row.language = textOf(m_row, 3);
    row.text = textOf(m_row, 4);
    row.changedAt = PQgetisnull(m_row, 0, 5) ? std::numeric_limits<double>::quiet_NaN() : dayCountOf(textOf(m_row, 5));
    return true;
}
