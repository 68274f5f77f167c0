#include "appserver/database/connectionloss.h"

#include <QSqlDriver>
#include <QVariant>
#include <libpq-fe.h>
#include <sqlite3.h>

namespace {

// libpq's own failures (the server closed the connection) carry no SQLSTATE: the
// connection's status tells.
bool postgresConnectionBroken(QSqlDatabase &database)
{
    if (!database.driver())
        return false;
    const QVariant handle = database.driver()->handle();
    if (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0)
        return false;
    pg_conn *connection = *static_cast<pg_conn *const *>(handle.constData());
    return !connection || PQstatus(connection) == CONNECTION_BAD;
}

} // namespace

namespace ConnectionLoss {

bool lost(const QSqlError &error, DatabaseAddress::Backend backend, QSqlDatabase &database)
{
    const QString code = error.nativeErrorCode();
    if (backend == DatabaseAddress::Backend::SQLite) {
        bool number = false;
        const int primary = code.toInt(&number) & 0xff; // an extended code's low byte is its primary one
        return number && (primary == SQLITE_BUSY || primary == SQLITE_IOERR);
    }
    if (code.startsWith(QLatin1String("08")) || code == QLatin1String("57P01") || code == QLatin1String("57P02")
        || code == QLatin1String("57P03"))
        return true;
    return postgresConnectionBroken(database);
}

QString describe(const QSqlError &error)
{
    QString text = error.text().simplified();
    if (text.isEmpty())
        text = QStringLiteral("the driver gave no text");
    const QString code = error.nativeErrorCode();
    return QStringLiteral("%1 (code %2)").arg(text, code.isEmpty() ? QStringLiteral("none") : code);
}

} // namespace ConnectionLoss
