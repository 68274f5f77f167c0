#pragma once

#include "appserver/database/databaseaddress.h"

#include <QSqlDatabase>

// How far a PostgreSQL hot standby's data is behind its primary. A server on a
// standby reads what the standby has replayed: a translation changed on the
// primary within that delay may be missing from its answers.
namespace ReplayLag {

// A standby further behind than this is logged at every call.
constexpr int kReplayLagWarningSeconds = 60;

// Logs the standby's replay delay when it is over kReplayLagWarningSeconds. Nothing
// on SQLite or on a primary; a standby streaming from its primary with everything
// it received replayed is not behind, however long ago the last change was. A
// failed question is no failure of the call: the call's own statements report it.
void warnWhenBehind(QSqlDatabase &database, DatabaseAddress::Backend backend);

} // namespace ReplayLag
