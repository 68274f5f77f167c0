#include "runtime/core/callwait.h"

#include <QtGlobal>
#include <algorithm>
#include <array>

namespace {

std::array<TCallWaitHooks, kMostCallWaitHooks> hooks {};
int hookCount = 0;

bool same(const TCallWaitHooks &a, const TCallWaitHooks &b)
{
    return a.enter == b.enter && a.leave == b.leave;
}

} // namespace

void AddCallWaitHooks(TCallWaitHooks added)
{
    Q_ASSERT(hookCount < kMostCallWaitHooks);
    if (hookCount < kMostCallWaitHooks)
        hooks[size_t(hookCount++)] = added;
}

void RemoveCallWaitHooks(TCallWaitHooks removed)
{
    const auto end = hooks.begin() + hookCount;
    const auto kept = std::remove_if(hooks.begin(), end, [&removed](const TCallWaitHooks &held) { return same(held, removed); });
    hookCount = int(kept - hooks.begin());
}

TCallWaitScope::TCallWaitScope()
{
    for (int i = 0; i < hookCount; ++i) {
        if (hooks[size_t(i)].enter)
            hooks[size_t(i)].enter();
    }
}

TCallWaitScope::~TCallWaitScope()
{
    for (int i = hookCount - 1; i >= 0; --i) {
        if (hooks[size_t(i)].leave)
            hooks[size_t(i)].leave();
    }
}
