#include "appserver/rows/scriptrowsource.h"

#include "appserver/rows/postgresscriptrows.h"
#include "appserver/rows/sqlitescriptrows.h"

#include <QSqlDriver>
#include <QVariant>
#include <algorithm>
#include <stdexcept>

namespace {

// The client library's handle that QtSql's driver holds, checked by its type name
// (the library's typedef or the struct it names).
template<typename Handle>
Handle *driverHandle(QSqlDatabase &database, std::initializer_list<const char *> typeNames)
{
    const QVariant handle = database.driver()->handle();
    const bool known = handle.isValid() && std::any_of(typeNames.begin(), typeNames.end(), [&](const char *name) {
                           return qstrcmp(handle.typeName(), name) == 0;
                       });
    if (!known)
        throw std::runtime_error(std::string("the database driver gives no ") + *typeNames.begin());
    Handle *pointer = *static_cast<Handle *const *>(handle.constData());
    if (!pointer)
        throw std::runtime_error("the database connection is closed");
    return pointer;
}

} // namespace

std::unique_ptr<ScriptRows> openScriptRows(QSqlDatabase &database, DatabaseAddress::Backend backend,
                                           const ScriptRowsRequest &request)
{
    if (backend == DatabaseAddress::Backend::SQLite)
        return std::make_unique<SqliteScriptRows>(driverHandle<sqlite3>(database, { "sqlite3*" }), request);
    return std::make_unique<PostgresScriptRows>(driverHandle<pg_conn>(database, { "PGconn*", "pg_conn*" }), request);
}
