#pragma once

#include "appserver/database/databaseaddress.h"

#include <QSqlDatabase>
#include <QString>

// The server's database: one connection per client session, on SQLite or PostgreSQL.
// The server keeps nothing of its own between calls: every answer is read from the
// database, so several servers may share one PostgreSQL database.
class TranslationDb
{
public:
    // Opens the database at `address` (a SQLite file or a postgresql:// URI) under a
    // connection name of its own and creates the schema where it is missing.
    TranslationDb(const QString &address, const QString &connectionName);
    ~TranslationDb();
    TranslationDb(const TranslationDb &) = delete;
    TranslationDb &operator=(const TranslationDb &) = delete;

    QSqlDatabase &database() { return m_database; }
    DatabaseAddress::Backend backend() const { return m_address.backend; }

    // Runs an SQL script (statements ended by ";" at a line's end, "--" comment lines).
    void runScript(const QString &resource);
    // Drops the tables of the schema (the demo starts afresh).
    void dropSchema();

private:
    void createSchema();

    DatabaseAddress m_address;
    QString m_connectionName;
    QSqlDatabase m_database;
};
