#pragma once

#include <QHostAddress>
#include <QString>
#include <QtGlobal>

// A client's address as the server counts and logs it: an IPv4 client that came
// over a dual-stack IPv6 socket (::ffff:a.b.c.d) is its IPv4 address.
struct PeerAddress
{
    QHostAddress address; // null where the connection is already gone
    quint16 port = 0;

    static PeerAddress of(qintptr descriptor);
    // "a.b.c.d:port" or "[IPv6]:port"; empty for a connection already gone.
    QString text() const;
};
