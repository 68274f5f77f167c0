#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <optional>

// The certificate chain a client presents, bounded: a long one is refused, told
// why, instead of being verified and carried through the session.
namespace ClientChain {

// Certificates a client's chain may hold, its own included.
constexpr int kMostCertificates = 10;
// Bytes (DER) a client's chain may hold, all its certificates together.
constexpr qsizetype kMostBytes = 32 * 1024;
// OpenSSL's own bound on the certificate message of a handshake
// (SSL_MAX_CERT_LIST_DEFAULT), which the sessions' TLS leaves in force: past it the
// handshake ends before the chain could be counted, with this text in the error.
constexpr qsizetype kHandshakeMessageBytes = 100 * 1024;
inline constexpr char kHandshakeOverflowText[] = "excessive message size";

struct Refusal
{
    QString client; // in the client's language
    QString log;
};

// A refusal when `chain` (the client's certificate and those it sent with it) is over
// either limit.
std::optional<Refusal> refusal(const QList<QSslCertificate> &chain);

} // namespace ClientChain
