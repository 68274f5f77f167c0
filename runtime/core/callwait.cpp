#include "runtime/core/callwait.h"

namespace {

TCallWaitHooks hooks {};

} // namespace

void SetCallWaitHooks(TCallWaitHooks installed)
{
    hooks = installed;
}

TCallWaitScope::TCallWaitScope()
{
    if (hooks.enter)
        hooks.enter();
}

TCallWaitScope::~TCallWaitScope()
{
    if (hooks.leave)
        hooks.leave();
}
