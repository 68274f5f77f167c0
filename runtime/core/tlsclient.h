#pragma once

#include "runtime/core/export.h"

#include <QString>
#include <memory>

class QSslSocket;

// The PEM files of a TLS connection to an application server. TLS is on when the
// authority is set: the server's certificate must be signed by it and issued for
// the host name (or address) the client connects to.
struct QLX_EXPORT TTlsFiles
{
    QString CaFile;   // the authority trusted for the server's certificate
    QString CertFile; // the client's own certificate, for a server that asks for one
    QString KeyFile;  // its private key, unencrypted

    bool Enabled() const { return !CaFile.isEmpty(); }
};

// A socket set up to verify the server against `files`; raises ESocketError naming
// the file when one cannot be read or does not hold what it should.
QLX_EXPORT std::unique_ptr<QSslSocket> NewTlsSocket(const TTlsFiles &files);

// Raises ESocketError naming the server ("host:port") and the reason why the handshake
// of a TLS socket connected to `host` ended without encryption.
[[noreturn]] QLX_EXPORT void RefuseTls(QSslSocket &socket, const QString &host, const QString &server);
