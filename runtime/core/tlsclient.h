#pragma once

#include "runtime/core/export.h"

#include "protocol/tlscontext.h"

#include <QString>
#include <memory>

namespace protocol {
class TlsSocket;
}

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

// Reads and checks `files` into the context of one connection's TLS (a client's
// TlsSocket); raises ESocketError naming the file when one cannot be read or does not
// hold what it should.
QLX_EXPORT protocol::TlsContext ReadTlsFiles(const TTlsFiles &files);

// Raises ESocketError naming the server ("host:port") and the reason why the handshake
// of a TLS stream connected to `host` ended without encryption.
[[noreturn]] QLX_EXPORT void RefuseTls(const protocol::TlsSocket &stream, const QString &host, const QString &server);

// Raises ESocketError: the server ("host:port") ended the connection once it had the
// client's certificate, without a word (a certificate refused past the handshake, or
// a chain longer than the server takes); `detail` is how the connection ended.
[[noreturn]] QLX_EXPORT void RefuseAfterClientCertificate(const QString &server, const QString &detail);
