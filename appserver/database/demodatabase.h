#pragma once

#include <QString>
#include <stdexcept>

// --init-demo found data it would destroy and was not told to replace it.
struct DemoRefused : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// Creates the demo database at `address` (a SQLite file, replaced; or a PostgreSQL
// database, whose three tables are dropped and made anew): the schema, then three
// languages, four tables and their texts changed over 2025 and 2026. The demo rows
// are written once, in demo.sql; a PostgreSQL demo copies them over.
// A database that holds rows is kept, throwing DemoRefused, unless `replaceData`;
// a file that is not a SQLite database is never replaced.
void createDemoDatabase(const QString &address, bool replaceData);
