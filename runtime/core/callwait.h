#pragma once

#include "runtime/core/export.h"

// What runs around every remote call while it waits with the event loop running:
// nothing in a program without a display; the widgets runtime holds the windows'
// input and close requests off for that time (see callguard.h), and the routines
// put up the busy window when a wait goes on (see busyanimation.h).
struct TCallWaitHooks
{
    void (*enter)() = nullptr;
    void (*leave)() = nullptr;
};
// At most kMostCallWaitHooks pairs, entered in the order added and left in reverse.
constexpr int kMostCallWaitHooks = 4;
QLX_EXPORT void AddCallWaitHooks(TCallWaitHooks hooks);
QLX_EXPORT void RemoveCallWaitHooks(TCallWaitHooks hooks);

// The hooks' enter and leave around one call.
class QLX_EXPORT TCallWaitScope
{
public:
    TCallWaitScope();
    ~TCallWaitScope();
    TCallWaitScope(const TCallWaitScope &) = delete;
    TCallWaitScope &operator=(const TCallWaitScope &) = delete;
};
