#pragma once

#include "appserver/database/databaseaddress.h"

#include <QString>

// The SQL that differs between the backends. SQLite keeps a moment as a day count
// from 30 December 1899 (REAL); PostgreSQL keeps it as a timestamp, and both give
// it back as the day count the protocol carries.
namespace backendsql {

using Backend = DatabaseAddress::Backend;

// A moment column read as a day count.
QString dayCount(Backend backend, const QString &column);
// A bound day count (or null) as the value of a moment column.
QString moment(Backend backend);
// The column that keeps the order in which rows were added.
QString insertionOrder(Backend backend);
// The resource holding the backend's schema.
QString schemaResource(Backend backend);

} // namespace backendsql
