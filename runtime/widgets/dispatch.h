#pragma once

#include "runtime/core/export.h"

#include <functional>

// Runs an event handler as the runtime's message loop does: EAbort ends the action
// quietly, any other exception goes to the application's exception handling.
// No exception crosses Qt's event loop. Handlers fired by the program's own
// assignments are called directly instead, so that their exceptions reach the
// code that made the assignment.
QLX_EXPORT void DispatchEvent(const std::function<void()> &handler);
