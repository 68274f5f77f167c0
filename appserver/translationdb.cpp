#include "translationdb.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <stdexcept>

static void initResources()
{
    Q_INIT_RESOURCE(appserver);
}

TranslationDb::TranslationDb(const QString &fileName, const QString &connectionName)
    : m_connectionName(connectionName)
{
    initResources();
    m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    m_database.setDatabaseName(fileName);
    m_database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!m_database.open())
        throw std::runtime_error("cannot open " + fileName.toStdString() + ": "
                                 + m_database.lastError().text().toStdString());
    runScript(QStringLiteral(":/appserver/schema.sql"));
}

TranslationDb::~TranslationDb()
{
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

void TranslationDb::runScript(const QString &resource)
{
    QFile file(resource);
    file.open(QIODevice::ReadOnly);
    QString script;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (!line.trimmed().startsWith(QLatin1String("--")))
            script += line + QLatin1Char('\n');
    }
    for (const QString &statement : script.split(QStringLiteral(";\n"), Qt::SkipEmptyParts)) {
        if (statement.trimmed().isEmpty())
            continue;
        QSqlQuery query(m_database);
        if (!query.exec(statement))
            throw std::runtime_error("database script failed: " + query.lastError().text().toStdString());
    }
}

void TranslationDb::createDemo(const QString &fileName)
{
    QFile::remove(fileName);
    TranslationDb db(fileName, QStringLiteral("demo"));
    db.runScript(QStringLiteral(":/appserver/demo.sql"));
}
