#pragma once

#include <QSslError>

namespace protocol {

// True for the verification errors that mean a certificate was not signed by an
// authority the peer trusts (unknown, self-signed or broken chain, bad signature).
bool isUntrustedIssuer(QSslError::SslError error);

} // namespace protocol
