#pragma once

#include <QHostAddress>
#include <QString>

// The network a client is counted in for the cap of one address: the first bits of
// its address, 32 and 64 by default (one IPv4 address, one IPv6 subnet, as a host
// takes as many IPv6 addresses in its /64 as it likes). An IPv4 client over IPv6
// comes here as its IPv4 address (PeerAddress) and is counted as IPv4.
struct ClientPrefix
{
    static constexpr int kDefaultV4Bits = 32;
    static constexpr int kDefaultV6Bits = 64;

    int v4Bits = kDefaultV4Bits;
    int v6Bits = kDefaultV6Bits;

    // "192.0.2.7" for a whole address, "192.0.2.0/24", "2001:db8:1:2::/64"; empty for none.
    QString of(const QHostAddress &address) const;
};
