#pragma once

#include <QSqlDatabase>
#include <QString>

// The server's database: one connection per client session.
class TranslationDb
{
public:
    // Opens (and creates the schema of) the SQLite file under a connection name of its own.
    TranslationDb(const QString &fileName, const QString &connectionName);
    ~TranslationDb();
    TranslationDb(const TranslationDb &) = delete;
    TranslationDb &operator=(const TranslationDb &) = delete;

    QSqlDatabase &database() { return m_database; }

    // Creates a database file with the schema and the demo data.
    static void createDemo(const QString &fileName);

private:
    void runScript(const QString &resource);

    QString m_connectionName;
    QSqlDatabase m_database;
};
