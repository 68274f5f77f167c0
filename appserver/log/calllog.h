#pragma once

#include "protocol/message.h"

#include <QString>

// The call log (--call-log FILE): one line of JSON for every call the object
// receives, {"method": M, "args": [{"kind": K, "value": V}...]}, in the order the
// calls arrive, from every client. Off until a file is named.
namespace CallLog {

// Starts the log in `fileName`, emptied; false (with `error` set) when it cannot be written.
bool open(const QString &fileName, QString &error);
void record(const protocol::Request &request);

} // namespace CallLog
