#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

struct ssl_ctx_st;

namespace protocol {

struct TlsContextFree
{
    void operator()(ssl_ctx_st *context) const;
};
// OpenSSL's settings for the TLS sessions of one side (TlsSocket), TLS 1.2 or later.
using TlsContext = std::unique_ptr<ssl_ctx_st, TlsContextFree>;

enum class TlsSide { Client, Server };

// A context for `side`; a null one when OpenSSL cannot make it (tlsContextError says why).
TlsContext newTlsContext(TlsSide side);
// Trusts the certificates of `pem` only, not the system's authorities.
void trustOnly(ssl_ctx_st *context, const QByteArray &pem);
// The side's own certificate (the first of `chainPem`, the rest sent with it) and its
// unencrypted key; false when OpenSSL takes either not (tlsContextError says why).
bool useCertificate(ssl_ctx_st *context, const QByteArray &chainPem, const QByteArray &keyPem);
// OpenSSL's words for the last failure of the calls above, and forgets it.
QString tlsContextError();

} // namespace protocol
