#pragma once

#include "appserver/network/clientprefix.h"

#include "protocol/frame.h"

// What one server lets its clients take; each can be set on the command line.
struct ServerLimits
{
    static constexpr int kDefaultMaxClients = 64;
    static constexpr int kDefaultMaxClientsPerPrefix = 8;
    static constexpr int kDefaultMaxHandshakes = 16;
    static constexpr int kDefaultHandshakeTimeout = 10; // seconds
    static constexpr int kDefaultIdleTimeout = 300; // seconds
    // As much as a client takes into its record set by default (4 GiB).
    static constexpr qint64 kDefaultMaxAnswer = qint64(4) << 30;
    // The most each option takes (the answer's is the most a client can be set to take, 1 TiB).
    static constexpr int kMostClients = 100000;
    static constexpr int kMostIdleTimeout = 86400;
    static constexpr qint64 kMostAnswer = qint64(1) << 40;

    // Sessions served at once; a connection over it is answered "busy" and closed.
    int maxClients = kDefaultMaxClients;
    // Sessions served at once for one client network (`clientPrefix`); one more is
    // answered "busy" too.
    int maxClientsPerPrefix = kDefaultMaxClientsPerPrefix;
    ClientPrefix clientPrefix;
    // Sessions whose handshake is not over (TLS not established, or no whole request
    // yet in plaintext); one more is answered "busy", so that silent connections
    // never hold the slots of the clients that speak.
    int maxHandshakes = kDefaultMaxHandshakes;
    // A session whose handshake is not over by then is closed.
    int handshakeTimeout = kDefaultHandshakeTimeout;
    // A session that for this long has neither received a whole request nor sent a
    // byte of an answer is closed.
    int idleTimeout = kDefaultIdleTimeout;
    // The largest answer sent, all its frames counted; a larger one is reported as a
    // failure naming its size.
    qint64 maxAnswer = kDefaultMaxAnswer;
};
