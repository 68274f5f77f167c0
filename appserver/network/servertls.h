#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>
#include <memory>
#include <optional>

struct ssl_ctx_st;

// The server's side of TLS: its certificate chain and key, and, for mutual TLS, the
// authority whose certificates the clients must present.
struct ServerTlsFiles
{
    QString certFile;
    QString keyFile;
    QString clientCaFile; // empty: any client may connect, without a certificate
};

// The TLS 1.3 cipher suites a session agrees to, the first the client also offers.
constexpr const char *kTls13Suites = "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";

// The server's TLS, from one reading of its files.
struct ServerTls
{
    std::shared_ptr<ssl_ctx_st> sessions; // OpenSSL's, for the sessions' TLS on their own descriptor
    QSslConfiguration configuration;      // Qt's, for the busy answers
    bool clientCertificates = false; // a client must present one of the authority's
};

// What every session's handshake uses; none when no certificate is given. Raises
// std::invalid_argument naming the file that cannot be used.
std::optional<ServerTls> loadServerTls(const ServerTlsFiles &files);

// Why a client's certificate is refused, in the client's language; empty when
// `errors` say nothing against it.
QString clientCertificateRefusal(const QList<QSslError> &errors);

// A certificate's subject as the audit trail shows it: "CN=desk-01,O=Team".
QString certificateSubject(const QSslCertificate &certificate);

// A TLS handshake begins with a handshake record, this byte; a plaintext client
// begins with a request's frame header, whose first byte is 0 (requests are far
// under 2^24 bytes).
constexpr unsigned char kTlsHandshakeRecord = 0x16;
