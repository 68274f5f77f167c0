#include "appserver/database/demodatabase.h"

#include "appserver/database/backendsql.h"
#include "appserver/database/translationdb.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <stdexcept>

namespace {

struct DemoTable
{
    const char *name;
    QStringList columns;
    QString momentColumn; // the one column that holds a day count, or none
    const char *order; // the order rows were added in, or the key's
};

const DemoTable kDemoTables[] = {
    { "IDIOMA", { "IDIDIOMA", "DSIDIOMA", "IDIPROP", "DTGERIDITRAD", "NRORDEM" }, QStringLiteral("DTGERIDITRAD"),
      "rowid" },
    { "PROGTRAD", { "CDPROGTRAD", "IDMARCADO" }, QString(), "rowid" },
    { "TRADUCAO", { "CDPROGTRAD", "CDCHAVE", "NMCAMPO", "IDIDIOMA", "DSTRADUCAO", "DTALTERACAO" },
      QStringLiteral("DTALTERACAO"), "IDIDIOMA, CDPROGTRAD, CDCHAVE, NMCAMPO" },
};

// Copies every demo row, in its table's order, with its moments converted.
void copyDemoRows(QSqlDatabase &from, TranslationDb &to)
{
    for (const DemoTable &table : kDemoTables) {
        QStringList values;
        for (const QString &column : table.columns)
            values << (column == table.momentColumn ? backendsql::moment(to.backend()) : QStringLiteral("?"));
        QSqlQuery source(from);
        source.setForwardOnly(true);
        if (!source.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                             .arg(table.columns.join(QLatin1Char(',')), QLatin1String(table.name), QLatin1String(table.order))))
            throw std::runtime_error("demo data unreadable: " + source.lastError().text().toStdString());
        QSqlQuery target(to.database());
        target.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                           .arg(QLatin1String(table.name), table.columns.join(QLatin1Char(',')),
                                values.join(QLatin1Char(','))));
        while (source.next()) {
            for (int column = 0; column < table.columns.size(); ++column)
                target.addBindValue(source.value(column));
            if (!target.exec())
                throw std::runtime_error("demo data not written: " + target.lastError().text().toStdString());
        }
    }
}

// The tables among `tables` that hold rows, each with its count: "TRADUCAO (18 rows)".
// `quoted`: names taken from the catalogue, which any text may be.
QStringList tablesHoldingRows(QSqlDatabase &database, const QStringList &tables, bool quoted)
{
    QStringList holding;
    for (const QString &table : tables) {
        const QString name = quoted ? QStringLiteral("\"%1\"").arg(QString(table).replace(QLatin1Char('"'), QStringLiteral("\"\"")))
                                    : table;
        QSqlQuery count(database);
        if (!count.exec(QStringLiteral("SELECT count(*) FROM %1").arg(name)) || !count.next())
            throw std::runtime_error("cannot count the rows of " + table.toStdString() + ": "
                                     + count.lastError().text().toStdString());
        if (const qint64 rows = count.value(0).toLongLong(); rows > 0)
            holding << QStringLiteral("%1 (%2 rows)").arg(table).arg(rows);
    }
    return holding;
}

[[noreturn]] void refuse(const QString &address, const QStringList &holding)
{
    throw DemoRefused(QStringLiteral("the database %1 holds data: %2. --init-demo leaves it as it is; "
                                     "--force-demo replaces it with the demo's.")
                          .arg(address, holding.join(QStringLiteral(", ")))
                          .toStdString());
}

// A SQLite file that may be replaced: none, an empty one, or a database whose
// tables are all empty (or `replaceData`). Anything else is left alone.
void checkSqliteFile(const QString &file, bool replaceData)
{
    QFile existing(file);
    if (!existing.exists() || existing.size() == 0)
        return;
    if (!existing.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + file.toStdString() + ": " + existing.errorString().toStdString());
    if (existing.read(16) != QByteArray("SQLite format 3", 16))
        throw std::runtime_error(file.toStdString() + " is not a SQLite database; --init-demo leaves it as it is");
    existing.close();
    QStringList holding;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("demo-check"));
        database.setDatabaseName(file);
        database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!database.open())
            throw std::runtime_error("cannot open " + file.toStdString() + ": " + database.lastError().text().toStdString());
        QSqlQuery names(database);
        QStringList tables;
        if (!names.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
                                       "ESCAPE '\\' ORDER BY name")))
            throw std::runtime_error("cannot read " + file.toStdString() + ": " + names.lastError().text().toStdString());
        while (names.next())
            tables << names.value(0).toString();
        holding = tablesHoldingRows(database, tables, true);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("demo-check"));
    if (!holding.isEmpty() && !replaceData)
        refuse(file, holding);
}

} // namespace

void createDemoDatabase(const QString &address, bool replaceData)
{
    if (DatabaseAddress::parse(address).backend == DatabaseAddress::Backend::SQLite) {
        checkSqliteFile(address, replaceData);
        // A journal left by the replaced database would be rolled back into the new one.
        for (const char *suffix : { "", "-journal", "-wal", "-shm" })
            QFile::remove(address + QLatin1String(suffix));
        TranslationDb db(address, QStringLiteral("demo"));
        db.runScript(QStringLiteral(":/appserver/demo.sql"));
        return;
    }
    TranslationDb source(QStringLiteral(":memory:"), QStringLiteral("demo-source"));
    source.runScript(QStringLiteral(":/appserver/demo.sql"));
    TranslationDb target(address, QStringLiteral("demo"));
    target.database().transaction();
    try {
        // Nobody writes a row between the count and the drop.
        QSqlQuery lock(target.database());
        if (!lock.exec(QStringLiteral("LOCK TABLE IDIOMA, PROGTRAD, TRADUCAO IN ACCESS EXCLUSIVE MODE")))
            throw std::runtime_error("cannot lock the tables: " + lock.lastError().text().toStdString());
        const QStringList holding = tablesHoldingRows(target.database(),
                                                      { QStringLiteral("IDIOMA"), QStringLiteral("PROGTRAD"), QStringLiteral("TRADUCAO") },
                                                      false);
        if (!holding.isEmpty() && !replaceData)
            refuse(address, holding);
        target.dropSchema();
        target.runScript(backendsql::schemaResource(target.backend()));
        copyDemoRows(source.database(), target);
    } catch (...) {
        target.database().rollback();
        throw;
    }
    if (!target.database().commit())
        throw std::runtime_error("demo not committed: " + target.database().lastError().text().toStdString());
}
