#include "protocol/untrustedissuer.h"

namespace protocol {

bool isUntrustedIssuer(QSslError::SslError error)
{
    switch (error) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateSignatureFailed:
        return true;
    default:
        return false;
    }
}

} // namespace protocol
