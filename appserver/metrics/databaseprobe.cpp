#include "appserver/metrics/databaseprobe.h"

#include "appserver/database/databaseaddress.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const QString kConnectionName = QStringLiteral("health");

} // namespace

DatabaseProbe::DatabaseProbe(QString databaseAddress)
    : m_databaseAddress(std::move(databaseAddress))
{
}

void DatabaseProbe::probe()
{
    const DatabaseHealth::Status status = ask();
    QSqlDatabase::removeDatabase(kConnectionName);
    emit probed(status);
}

DatabaseHealth::Status DatabaseProbe::ask()
{
    const DatabaseAddress address = DatabaseAddress::parse(m_databaseAddress); // checked at start
    const bool sqlite = address.backend == DatabaseAddress::Backend::SQLite;
    QSqlDatabase database = QSqlDatabase::addDatabase(sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"),
                                                      kConnectionName);
    const int limitSeconds = (DatabaseHealth::kAnswerTimeLimitMs + 999) / 1000;
    if (sqlite) {
        database.setDatabaseName(address.file);
        database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1")
                                       .arg(DatabaseHealth::kAnswerTimeLimitMs));
    } else {
        database.setHostName(address.host);
        database.setPort(address.port);
        database.setUserName(address.user);
        database.setDatabaseName(address.database);
        // libpq takes the last of a keyword given twice.
        database.setConnectOptions(address.options + QStringLiteral(";connect_timeout=%1").arg(limitSeconds));
    }
    if (!database.open())
        return { false, QStringLiteral("cannot open the database: %1").arg(database.lastError().text().simplified()) };
    QSqlQuery query(database);
    if (!sqlite && !query.exec(QStringLiteral("SET statement_timeout = %1").arg(DatabaseHealth::kAnswerTimeLimitMs)))
        return { false, QStringLiteral("the database refused a setting: %1").arg(query.lastError().text().simplified()) };
    if (!query.exec(QStringLiteral("SELECT 1 FROM IDIOMA LIMIT 1")))
        return { false, QStringLiteral("the database did not answer: %1").arg(query.lastError().text().simplified()) };
    return { true, QString() };
}
