#include "appserver/network/clientprefix.h"

#include <algorithm>

namespace {

QString shown(const QHostAddress &network, int bits, int whole)
{
    return bits == whole ? network.toString() : QStringLiteral("%1/%2").arg(network.toString()).arg(bits);
}

} // namespace

QString ClientPrefix::of(const QHostAddress &address) const
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 mask = ~quint32(0) << (32 - v4Bits); // v4Bits: 1 to 32
        return shown(QHostAddress(address.toIPv4Address() & mask), v4Bits, 32);
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        Q_IPV6ADDR bytes = address.toIPv6Address();
        for (int i = 0; i < 16; ++i) {
            const int kept = std::clamp(v6Bits - 8 * i, 0, 8);
            bytes[i] &= quint8(0xff00 >> kept);
        }
        return shown(QHostAddress(bytes), v6Bits, 128);
    }
    return QString();
}
