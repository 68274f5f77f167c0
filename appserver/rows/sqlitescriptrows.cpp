#include "appserver/rows/sqlitescriptrows.h"

#include "appserver/rows/languagetotals.h"

#include <cmath>
#include <limits>
#include <sqlite3.h>

namespace {

// A text column's UTF-8 bytes. In a UTF-8 database they are taken as stored
// (sqlite3_column_blob): sqlite3_column_text would first copy each one to end it
// with a NUL, which the lines never need. Other encodings are converted.
std::string_view textOf(sqlite3_stmt *statement, int column, bool storedAsUtf8)
{
    const void *bytes = storedAsUtf8 ? sqlite3_column_blob(statement, column) : sqlite3_column_text(statement, column);
    return bytes ? std::string_view(static_cast<const char *>(bytes), size_t(sqlite3_column_bytes(statement, column)))
                 : std::string_view();
}

// Whether the database keeps its texts in UTF-8 (PRAGMA encoding).
bool storesUtf8(sqlite3 *database)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(database, "PRAGMA encoding", -1, &statement, nullptr) != SQLITE_OK)
        return false;
    const bool utf8 = sqlite3_step(statement) == SQLITE_ROW
        && std::string_view(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0))) == "UTF-8";
    sqlite3_finalize(statement);
    return utf8;
}

bool bindText(sqlite3_stmt *statement, int index, const QByteArray &text)
{
    return sqlite3_bind_text(statement, index, text.constData(), int(text.size()), SQLITE_STATIC) == SQLITE_OK;
}

// The language's index entries on one side of a moment ("<" or ">="), counted up
// to `limit`; -1 without the moment index.
qint64 countSide(sqlite3 *database, const char *side, const QByteArray &language, double moment, qint64 limit)
{
    sqlite3_stmt *count = nullptr;
    const QByteArray sql = QByteArrayLiteral("SELECT count(*) FROM (SELECT 1 FROM TRADUCAO INDEXED BY TRADUCAO_ALTERACAO "
                                             "WHERE IDIDIOMA = ?1 AND DTALTERACAO ") + side + " ?2 LIMIT ?3)";
    if (sqlite3_prepare_v3(database, sql.constData(), int(sql.size()), 0, &count, nullptr) != SQLITE_OK)
        return -1;
    bindText(count, 1, language);
    sqlite3_bind_double(count, 2, moment);
    sqlite3_bind_int64(count, 3, limit);
    const qint64 counted = sqlite3_step(count) == SQLITE_ROW ? sqlite3_column_int64(count, 0) : -1;
    sqlite3_finalize(count);
    return counted;
}

} // namespace

SqliteScriptRows::Plan SqliteScriptRows::choosePlan(sqlite3 *database, const ScriptRowsRequest &request)
{
    const QByteArray language = request.language.toUtf8();
    const qint64 since = countSide(database, ">=", language, request.since, kFewRows);
    if (since < 0)
        return Plan::KeyOrder; // an older layout without the index: the key order still answers
    if (since < kFewRows)
        return Plan::MomentIndex;
    if (countSide(database, "<", language, request.since, kFewRows) < kFewRows)
        return Plan::KeyOrder; // more than half the language
    const qint64 total = languagetotals::of(database, language);
    const qint64 enough = qint64(std::ceil(kMomentIndexShare * double(total)));
    return countSide(database, ">=", language, request.since, enough) < enough ? Plan::MomentIndex : Plan::KeyOrder;
}

QByteArray SqliteScriptRows::query(Plan plan, qsizetype tables)
{
    QByteArray codes;
    for (qsizetype i = 0; i < tables; ++i)
        codes += (i ? ",?" : "?") + QByteArray::number(i + 3);
    // The unary + keeps the moment index out of the key-order plan.
    return QByteArrayLiteral("SELECT CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO FROM TRADUCAO ")
        + (plan == Plan::MomentIndex ? "INDEXED BY TRADUCAO_ALTERACAO WHERE IDIDIOMA = ?1 AND DTALTERACAO >= ?2 "
                                     : "WHERE IDIDIOMA = ?1 AND +DTALTERACAO >= ?2 ")
        + "AND CDPROGTRAD IN (" + (tables ? codes : QByteArrayLiteral("NULL")) + ") "
        + "ORDER BY CDPROGTRAD, CDCHAVE, NMCAMPO";
}

SqliteScriptRows::SqliteScriptRows(sqlite3 *database, const ScriptRowsRequest &request)
    : SqliteScriptRows(database, request, choosePlan(database, request))
{
}

SqliteScriptRows::SqliteScriptRows(sqlite3 *database, const ScriptRowsRequest &request, Plan plan)
    : m_database(database)
    , m_storedAsUtf8(storesUtf8(database))
{
    const QByteArray sql = query(plan, request.tables.size());
    if (sqlite3_prepare_v3(database, sql.constData(), int(sql.size()), 0, &m_statement, nullptr) != SQLITE_OK) {
        fail("prepare");
        return;
    }
    m_bound << request.language.toUtf8();
    for (const QString &table : request.tables)
        m_bound << table.toUtf8();
    bool bound = bindText(m_statement, 1, m_bound.at(0)) && sqlite3_bind_double(m_statement, 2, request.since) == SQLITE_OK;
    for (qsizetype i = 1; i < m_bound.size(); ++i)
        bound = bound && bindText(m_statement, int(i + 2), m_bound.at(i));
    if (!bound)
        fail("bind");
}

SqliteScriptRows::~SqliteScriptRows()
{
    sqlite3_finalize(m_statement);
}

bool SqliteScriptRows::fail(const char *what)
{
    m_error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromUtf8(sqlite3_errmsg(m_database)));
    sqlite3_finalize(m_statement);
    m_statement = nullptr;
    return false;
}

bool SqliteScriptRows::next(Translation &row)
{
    if (!m_statement)
        return false;
    const int step = sqlite3_step(m_statement);
    if (step == SQLITE_DONE) {
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
        return false;
    }
    if (step != SQLITE_ROW)
        return fail("step");
    row.table = textOf(m_statement, 0, m_storedAsUtf8);
    row.key = textOf(m_statement, 1, m_storedAsUtf8);
    row.column = textOf(m_statement, 2, m_storedAsUtf8);
    row.language = textOf(m_statement, 3, m_storedAsUtf8);
    row.text = textOf(m_statement, 4, m_storedAsUtf8);
    // A moment stored as text or NULL is no moment: the line reports it.
    const int kind = sqlite3_column_type(m_statement, 5);
    row.changedAt = kind == SQLITE_FLOAT || kind == SQLITE_INTEGER ? sqlite3_column_double(m_statement, 5)
                                                                   : std::numeric_limits<double>::quiet_NaN();
    return true;
}
