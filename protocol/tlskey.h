#pragma once

#include <QByteArray>
#include <QSslKey>

namespace protocol {

// The unencrypted PEM private key (RSA or EC) of a TLS side; a null key when the
// bytes hold none.
QSslKey privateKeyFromPem(const QByteArray &pem);

// True when the unencrypted PEM private key `keyPem` is the key of the first
// certificate in `certificatePem`. Either side of a connection checks its own pair
// with it before TLS starts: a key that is not its certificate's would fail every
// handshake with a message that hides why.
bool keyMatchesCertificate(const QByteArray &certificatePem, const QByteArray &keyPem);

} // namespace protocol
