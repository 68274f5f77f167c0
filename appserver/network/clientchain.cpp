#include "appserver/network/clientchain.h"

namespace ClientChain {

std::optional<Refusal> refusal(const QList<QSslCertificate> &chain)
{
    qsizetype bytes = 0;
    for (const QSslCertificate &certificate : chain)
        bytes += certificate.toDer().size();
    if (chain.size() <= kMostCertificates && bytes <= kMostBytes)
        return std::nullopt;
    return Refusal {
        QStringLiteral("o certificado do cliente (tls-cert) e a sua cadeia passam do tamanho que o servidor aceita: "
                       "%1 certificados, %2 bytes; no máximo %3 certificados e %4 bytes")
            .arg(chain.size())
            .arg(bytes)
            .arg(kMostCertificates)
            .arg(kMostBytes),
        QStringLiteral("client certificate chain of %1 certificates, %2 bytes, over the limit of %3 certificates "
                       "and %4 bytes")
            .arg(chain.size())
            .arg(bytes)
            .arg(kMostCertificates)
            .arg(kMostBytes),
    };
}

} // namespace ClientChain
