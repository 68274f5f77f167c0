#pragma once

#include "appserver/database/databaseaddress.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

// Whether a failed statement lost the session's connection, so that opening it anew
// may help: on PostgreSQL an error of SQLSTATE class 08 (connection exception), an
// administrator's shutdown or a crash (57P01, 57P02), a server not yet taking
// connections (57P03), or a connection libpq reports broken; on SQLite a busy
// database or an I/O error. Any other failure (a permission, a syntax error, a table
// gone) would fail again the same way.
namespace ConnectionLoss {

bool lost(const QSqlError &error, DatabaseAddress::Backend backend, QSqlDatabase &database);
// The driver's text and code, for the log; never empty.
QString describe(const QSqlError &error);

} // namespace ConnectionLoss
