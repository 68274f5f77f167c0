#pragma once

#include <QString>

// Creates the demo database at `address` (a SQLite file, replaced; or a PostgreSQL
// database, whose three tables are dropped and made anew): the schema, then three
// languages, four tables and their texts changed over 2025 and 2026. The demo rows
// are written once, in demo.sql; a PostgreSQL demo copies them over.
void createDemoDatabase(const QString &address);
