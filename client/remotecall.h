#pragma once

#include "hostlib/core/netconnection.h"
#include "runtime/core/clientdataset.h"

#include <functional>

// The one way every remote call of the screen is made: the method called by name
// on the connection's remote object, its result checked by CheckResultServ and
// the data packet loaded into the target record set. A failure leaves the
// target as it was. A large answer comes in parts: `progress` hears after each
// how many records have arrived. The methods only read, so a call that loses its
// server before the whole answer has come (not a time-out: the next server would
// likely be as slow) is made again on the next configured server, its rows
// so far dropped and counted anew from none; a failure answer is never repeated.
using TRecordsProgress = std::function<void(qsizetype records)>;
// How many times a call that lost its server is made again, each on the next server.
constexpr int kLostCallRepeats = 1;
void CallRemote(TNetConnection &connection, const QString &method, std::vector<TRemoteArg> arguments,
                TClientDataSet &target, const TRecordsProgress &progress = {});
