#include "hostlib/core/tlssetting.h"

#include "hostlib/core/hostsetting.h"

#include "runtime/core/exceptions.h"

namespace {

TTlsFiles optionFiles;

} // namespace

void SetTlsOptions(const QString &caFile, const QString &certFile, const QString &keyFile)
{
    optionFiles = { caFile, certFile, keyFile };
}

TTlsFiles ConfiguredTls()
{
    const THostSetting ca = ReadHostSetting(optionFiles.CaFile, QStringLiteral("--tls-ca"), "QLX_TLS_CA",
                                            QStringLiteral("tls-ca"));
    const THostSetting cert = ReadHostSetting(optionFiles.CertFile, QStringLiteral("--tls-cert"), "QLX_TLS_CERT",
                                              QStringLiteral("tls-cert"));
    const THostSetting key = ReadHostSetting(optionFiles.KeyFile, QStringLiteral("--tls-key"), "QLX_TLS_KEY",
                                             QStringLiteral("tls-key"));
    if (ca.text.isEmpty() && !cert.text.isEmpty())
        throw Exception(QStringLiteral("Certificado do cliente em %1 sem a autoridade confiável do servidor "
                                       "(--tls-ca, QLX_TLS_CA ou tls-ca=): a conexão seria sem TLS.")
                            .arg(cert.origin));
    return { ca.text, cert.text, key.text };
}
