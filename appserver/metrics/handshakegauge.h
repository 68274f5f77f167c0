#pragma once

#include "appserver/metrics/servermetrics.h"

// A session's place in qlx_sessions_in_handshake: counted from its making until it
// leaves (a TLS handshake done, a plaintext client's first request) or ends.
class HandshakeGauge
{
public:
    HandshakeGauge() { ServerMetrics::handshakeStarted(); }
    ~HandshakeGauge() { leave(); }
    HandshakeGauge(const HandshakeGauge &) = delete;
    HandshakeGauge &operator=(const HandshakeGauge &) = delete;

    void leave()
    {
        if (m_left)
            return;
        m_left = true;
        ServerMetrics::handshakeEnded();
    }

private:
    bool m_left = false;
};
