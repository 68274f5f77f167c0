#include "hostlib/core/serverorder.h"

#include <algorithm>

namespace {

QList<TServerAddress> failedServers; // the longest failed first

} // namespace

QList<TServerAddress> ServersInTryOrder()
{
    QList<TServerAddress> order = ConfiguredServerAddresses();
    std::stable_sort(order.begin(), order.end(), [](const TServerAddress &a, const TServerAddress &b) {
        // Not failed before failed, then the failures in the order they came.
        return failedServers.indexOf(a) < failedServers.indexOf(b);
    });
    return order;
}

void NoteServerFailed(const TServerAddress &server)
{
    failedServers.removeAll(server);
    failedServers.append(server);
}

void NoteServerAnswered(const TServerAddress &server)
{
    failedServers.removeAll(server);
}
