#pragma once

#include "runtime/core/tlsclient.h"

#include <QSslCipher>
#include <QSslSocket>

// Seconds a handshake may take before the session is given up.
constexpr int kHandshakeWaitMs = 10000;

// The protocol and cipher suite a server's TLS session settles on with the
// screen's own TLS client (its configuration, its certificates); empty when the
// handshake does not end.
struct TlsSession
{
    QString protocol;
    QString suite;
};

inline TlsSession negotiatedSession(int port, const TTlsFiles &files)
{
    const std::unique_ptr<QSslSocket> socket = NewTlsSocket(files);
    socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(port));
    if (!socket->waitForEncrypted(kHandshakeWaitMs))
        return {};
    const QSslCipher cipher = socket->sessionCipher();
    const TlsSession session { socket->sessionProtocol() == QSsl::TlsV1_3 ? QStringLiteral("TLS 1.3")
                                   : socket->sessionProtocol() == QSsl::TlsV1_2 ? QStringLiteral("TLS 1.2")
                                                                               : cipher.protocolString(),
                               cipher.name() };
    socket->disconnectFromHost();
    return session;
}
