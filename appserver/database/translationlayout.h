#pragma once

#include "appserver/database/databaseaddress.h"

#include <QSqlDatabase>
#include <QString>
#include <functional>

// TRADUCAO's key led by the language, so that a language's rows are read in the
// script's order. A database made before keeps its rows and moves to that layout
// when the server opens it.
namespace translationlayout {

// Whether TRADUCAO has the layout (true also when the table is still missing).
bool current(QSqlDatabase &database, DatabaseAddress::Backend backend);

// Moves an older TRADUCAO to the layout, every row kept, in one transaction that
// holds the database's write lock (on PostgreSQL the advisory lock `schemaLock`);
// on SQLite `createSchema` makes the new table from the schema. A database that
// cannot take the change (read-only, a role without the right, rows an older
// schema let in) is left as it was, and the failure returned: it still answers,
// only more slowly. Empty on success.
QString migrate(QSqlDatabase &database, DatabaseAddress::Backend backend, int schemaLock,
                const std::function<void()> &createSchema);

} // namespace translationlayout
