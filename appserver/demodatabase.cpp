#include "demodatabase.h"

#include "backendsql.h"
#include "translationdb.h"

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
};

const DemoTable kDemoTables[] = {
    { "IDIOMA", { "IDIDIOMA", "DSIDIOMA", "IDIPROP", "DTGERIDITRAD", "NRORDEM" }, QStringLiteral("DTGERIDITRAD") },
    { "PROGTRAD", { "CDPROGTRAD", "IDMARCADO" }, QString() },
    { "TRADUCAO", { "CDPROGTRAD", "CDCHAVE", "NMCAMPO", "IDIDIOMA", "DSTRADUCAO", "DTALTERACAO" },
      QStringLiteral("DTALTERACAO") },
};

// Copies every demo row, in the order it was added, with its moments converted.
void copyDemoRows(QSqlDatabase &from, TranslationDb &to)
{
    for (const DemoTable &table : kDemoTables) {
        QStringList values;
        for (const QString &column : table.columns)
            values << (column == table.momentColumn ? backendsql::moment(to.backend()) : QStringLiteral("?"));
        QSqlQuery source(from);
        source.setForwardOnly(true);
        if (!source.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(table.columns.join(QLatin1Char(',')),
                                                                             QLatin1String(table.name))))
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

} // namespace

void createDemoDatabase(const QString &address)
{
    if (DatabaseAddress::parse(address).backend == DatabaseAddress::Backend::SQLite) {
        QFile::remove(address);
        TranslationDb db(address, QStringLiteral("demo"));
        db.runScript(QStringLiteral(":/appserver/demo.sql"));
        return;
    }
    TranslationDb source(QStringLiteral(":memory:"), QStringLiteral("demo-source"));
    source.runScript(QStringLiteral(":/appserver/demo.sql"));
    TranslationDb target(address, QStringLiteral("demo"));
    target.database().transaction();
    try {
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
