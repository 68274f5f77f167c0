#include "appserver/database/backendsql.h"

namespace backendsql {

QString dayCount(Backend backend, const QString &column)
{
    if (backend == Backend::SQLite)
        return column;
    // Whole microseconds (exact in a float8) divided once: the nearest day count.
    return QStringLiteral("((EXTRACT(EPOCH FROM (%1 - TIMESTAMP '1899-12-30')) * 1000000)::float8 / 86400000000)")
        .arg(column);
}

QString moment(Backend backend)
{
    if (backend == Backend::SQLite)
        return QStringLiteral("?");
    return QStringLiteral("(TIMESTAMP '1899-12-30' + CAST(? AS DOUBLE PRECISION) * INTERVAL '1 day')");
}

QString insertionOrder(Backend backend)
{
    return backend == Backend::SQLite ? QStringLiteral("rowid") : QStringLiteral("NRINCLUSAO");
}

QString schemaResource(Backend backend)
{
    return backend == Backend::SQLite ? QStringLiteral(":/appserver/schema.sql")
                                      : QStringLiteral(":/appserver/schema-postgresql.sql");
}

} // namespace backendsql
