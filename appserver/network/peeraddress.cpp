#include "appserver/network/peeraddress.h"

#include <arpa/inet.h>
#include <sys/socket.h>

PeerAddress PeerAddress::of(qintptr descriptor)
{
    sockaddr_storage peer {};
    socklen_t size = sizeof peer;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr *>(&peer), &size) != 0)
        return {};
    PeerAddress result;
    result.address = QHostAddress(reinterpret_cast<const sockaddr *>(&peer));
    result.port = ntohs(peer.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 *>(&peer)->sin6_port
                                                   : reinterpret_cast<const sockaddr_in *>(&peer)->sin_port);
    bool mapped = false;
    if (const quint32 v4 = result.address.toIPv4Address(&mapped); mapped)
        result.address = QHostAddress(v4);
    return result;
}

QString PeerAddress::text() const
{
    if (address.isNull())
        return QString();
    return (address.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2"))
        .arg(address.toString())
        .arg(port);
}
