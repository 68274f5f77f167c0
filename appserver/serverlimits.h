#pragma once

#include <frame.h>

// What one server lets its clients take; each can be set on the command line.
struct ServerLimits
{
    static constexpr int kDefaultMaxClients = 64;
    static constexpr int kDefaultIdleTimeout = 300; // seconds
    // An answer no client of this protocol would take (their frame limit) is not sent.
    static constexpr qint64 kDefaultMaxAnswer = protocol::kDefaultFrameLimit;
    // The most each option takes (the answer's is the frame header's reach).
    static constexpr int kMostClients = 100000;
    static constexpr int kMostIdleTimeout = 86400;

    // Sessions served at once; a connection over it is answered "busy" and closed.
    int maxClients = kDefaultMaxClients;
    // A session that for this long has neither received a whole request nor sent a
    // byte of an answer is closed.
    int idleTimeout = kDefaultIdleTimeout;
    // The largest answer sent; a larger one is reported as a failure naming its size.
    // A session reads no request while its answer is going out, so this also bounds
    // the bytes waiting to go out on each session.
    qint64 maxAnswer = kDefaultMaxAnswer;
};
