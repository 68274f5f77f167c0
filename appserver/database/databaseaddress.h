#pragma once

#include <QString>

// Where the server's database lives: a SQLite file (a plain path, the default) or
// a PostgreSQL database named by a libpq URI, postgresql://user@host:port/dbname
// (query parameters are libpq keywords, e.g. ?sslmode=require), or by libpq's
// keyword/value string, "host=dbhost port=5432 dbname=translations user=reader". A
// text that begins with a word and "=" is such a string, never a file name. A
// password is never taken from the address: libpq reads it from PGPASSWORD or ~/.pgpass.
struct DatabaseAddress
{
    enum class Backend { SQLite, PostgreSQL };

    // Seconds libpq waits for a PostgreSQL connection unless the URI's connect_timeout says otherwise.
    static constexpr int kConnectTimeoutSeconds = 10;

    Backend backend = Backend::SQLite;
    QString file;     // SQLite
    QString host;     // PostgreSQL: empty for libpq's default (its local socket)
    int port = -1;    // PostgreSQL: -1 for libpq's default
    QString user;     // PostgreSQL: empty for libpq's default
    QString database; // PostgreSQL
    QString options;  // PostgreSQL: libpq keywords as the QPSQL driver takes them, "key='value';..."

    // Reads a --db or --init-demo value; an address that cannot be used throws
    // std::invalid_argument with a message that says why.
    static DatabaseAddress parse(const QString &text);
    // The address as it may be shown: a password in it, wherever it was written
    // (user:password@, ?password= or password=), replaced by "****".
    static QString masked(const QString &text);
};
