#pragma once

#include "appserver/database/databaseaddress.h"
#include "appserver/rows/scriptrows.h"

#include <QSqlDatabase>
#include <memory>

// The script's rows on the backend's own client library, over the connection
// that `database` holds open.
std::unique_ptr<ScriptRows> openScriptRows(QSqlDatabase &database, DatabaseAddress::Backend backend,
                                           const ScriptRowsRequest &request);
