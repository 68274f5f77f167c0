#pragma once

#include "runtime/core/export.h"

// On Wayland, ends the process at once with `status`, its output flushed, without
// the application's teardown; elsewhere it returns and the program ends as usual.
// Qt 6.4's Wayland client can hang for good (or crash) while it disconnects from
// the compositor: its event thread waits on a read the main thread prepared and
// never makes. The compositor drops a client's windows when its connection
// closes, so nothing is lost. Call it once the program's own work is done: its
// windows freed, its module unloaded, its files closed.
QLX_EXPORT void EndNowOnWayland(int status);
