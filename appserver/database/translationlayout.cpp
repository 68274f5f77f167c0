#include "appserver/database/translationlayout.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace translationlayout {

namespace {

struct Failed
{
    QString reason;
};

QSqlQuery exec(QSqlDatabase &database, const QString &sql)
{
    QSqlQuery query(database);
    if (!query.exec(sql))
        throw Failed { query.lastError().text() };
    return query;
}

} // namespace

bool current(QSqlDatabase &database, DatabaseAddress::Backend backend)
{
    QSqlQuery query(database);
    if (backend == DatabaseAddress::Backend::SQLite) {
        query.exec(QStringLiteral("SELECT sql FROM sqlite_schema WHERE type = 'table' AND name = 'TRADUCAO'"));
        return !query.next() || query.value(0).toString().contains(QLatin1String("WITHOUT ROWID"), Qt::CaseInsensitive);
    }
    // The first column of TRADUCAO's primary key.
    query.exec(QStringLiteral(
        "SELECT a.attname FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = i.indkey[0] "
        "WHERE i.indrelid = to_regclass('traducao') AND i.indisprimary"));
    return !query.next() || query.value(0).toString() == QLatin1String("ididioma");
}

QString migrate(QSqlDatabase &database, DatabaseAddress::Backend backend, int schemaLock,
                const std::function<void()> &createSchema)
{
    const bool sqlite = backend == DatabaseAddress::Backend::SQLite;
    try {
        // Servers starting together: one moves the table, the others find it moved.
        if (sqlite) {
            exec(database, QStringLiteral("BEGIN IMMEDIATE"));
        } else {
            exec(database, QStringLiteral("BEGIN"));
            exec(database, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(schemaLock));
        }
    } catch (const Failed &failed) {
        return failed.reason;
    }
    try {
        if (current(database, backend)) {
            // Moved meanwhile.
        } else if (sqlite) {
            // Index names are the database's: the old one goes before the schema makes it anew.
            exec(database, QStringLiteral("DROP INDEX IF EXISTS TRADUCAO_ALTERACAO"));
            exec(database, QStringLiteral("ALTER TABLE TRADUCAO RENAME TO TRADUCAO_ANTERIOR"));
            createSchema();
            exec(database, QStringLiteral(
                "INSERT INTO TRADUCAO (IDIDIOMA, CDPROGTRAD, CDCHAVE, NMCAMPO, DSTRADUCAO, DTALTERACAO) "
                "SELECT IDIDIOMA, CDPROGTRAD, CDCHAVE, NMCAMPO, DSTRADUCAO, DTALTERACAO FROM TRADUCAO_ANTERIOR "
                "ORDER BY IDIDIOMA, CDPROGTRAD, CDCHAVE, NMCAMPO"));
            exec(database, QStringLiteral("DROP TABLE TRADUCAO_ANTERIOR"));
        } else {
            QSqlQuery name = exec(database, QStringLiteral(
                "SELECT conname FROM pg_constraint WHERE conrelid = to_regclass('traducao') AND contype = 'p'"));
            if (!name.next())
                throw Failed { QStringLiteral("TRADUCAO has no primary key") };
            exec(database, QStringLiteral("ALTER TABLE TRADUCAO DROP CONSTRAINT \"%1\", "
                                          "ADD PRIMARY KEY (IDIDIOMA, CDPROGTRAD, CDCHAVE, NMCAMPO)")
                               .arg(name.value(0).toString()));
            exec(database, QStringLiteral("ANALYZE TRADUCAO"));
        }
        exec(database, QStringLiteral("COMMIT"));
    } catch (const Failed &failed) {
        QSqlQuery(database).exec(QStringLiteral("ROLLBACK"));
        return failed.reason;
    } catch (...) {
        QSqlQuery(database).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
    return {};
}

} // namespace translationlayout
