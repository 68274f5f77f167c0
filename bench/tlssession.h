#pragma once

#include "runtime/core/tlsclient.h"
#include "protocol/tlssocket.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>
#include <unistd.h>

// Milliseconds a handshake may take before the session is given up.
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
    const protocol::TlsContext context = ReadTlsFiles(files);
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    if (!socket.waitForConnected(kHandshakeWaitMs))
        return {};
    const int descriptor = ::dup(int(socket.socketDescriptor()));
    socket.abort();
    const auto stream = std::make_unique<protocol::TlsSocket>(descriptor, context.get(), protocol::TlsSocket::Side::Client,
                                                              QStringLiteral("127.0.0.1"));
    QEventLoop loop;
    QObject::connect(stream.get(), &protocol::TlsSocket::stageChanged, &loop, &QEventLoop::quit);
    QTimer::singleShot(kHandshakeWaitMs, &loop, &QEventLoop::quit);
    if (stream->stage() == protocol::TlsSocket::Stage::Handshake)
        loop.exec();
    if (stream->stage() != protocol::TlsSocket::Stage::Open)
        return {};
    const QString protocol = stream->protocolName();
    return { protocol == QLatin1String("TLSv1.3") ? QStringLiteral("TLS 1.3")
                 : protocol == QLatin1String("TLSv1.2") ? QStringLiteral("TLS 1.2")
                                                        : protocol,
             stream->suite() };
}
