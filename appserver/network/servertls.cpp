#include "appserver/network/servertls.h"

#include "protocol/tlscontext.h"
#include "protocol/tlskey.h"
#include "protocol/untrustedissuer.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <openssl/ssl.h>
#include <stdexcept>

namespace {

QByteArray readPem(const QString &file, const char *option)
{
    QFile pem(file);
    if (!pem.open(QIODevice::ReadOnly))
        throw std::invalid_argument(QStringLiteral("cannot read %1 %2: %3")
                                        .arg(QLatin1String(option), file, pem.errorString()).toStdString());
    return pem.readAll();
}

QList<QSslCertificate> certificates(const QByteArray &pem, const QString &file, const char *option)
{
    const QList<QSslCertificate> found = QSslCertificate::fromData(pem, QSsl::Pem);
    if (found.isEmpty())
        throw std::invalid_argument(
            QStringLiteral("%1 %2 holds no PEM certificate").arg(QLatin1String(option), file).toStdString());
    return found;
}

QSslKey privateKey(const QByteArray &pem, const QString &file)
{
    const QSslKey key = protocol::privateKeyFromPem(pem);
    if (!key.isNull())
        return key;
    throw std::invalid_argument(
        QStringLiteral("--tls-key %1 holds no unencrypted PEM RSA or EC private key").arg(file).toStdString());
}

// OpenSSL's context for the sessions, from the same files as Qt's configuration.
std::shared_ptr<ssl_ctx_st> sessionContext(const QByteArray &chainPem, const QByteArray &keyPem,
                                           const QByteArray &clientAuthorityPem)
{
    protocol::TlsContext context = protocol::newTlsContext(protocol::TlsSide::Server);
    const auto refuse = [](const char *step) {
        throw std::invalid_argument(
            QStringLiteral("TLS cannot be set up (%1): %2").arg(QLatin1String(step), protocol::tlsContextError()).toStdString());
    };
    if (!context)
        refuse("SSL_CTX_new");
    if (SSL_CTX_set_ciphersuites(context.get(), kTls13Suites) != 1)
        refuse("ciphersuites");
    SSL_CTX_set_options(context.get(), SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION);
    if (!protocol::useCertificate(context.get(), chainPem, keyPem))
        refuse("--tls-cert, --tls-key");
    if (!clientAuthorityPem.isEmpty()) {
        protocol::trustOnly(context.get(), clientAuthorityPem);
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    }
    return std::shared_ptr<ssl_ctx_st>(context.release(), protocol::TlsContextFree());
}

} // namespace

std::optional<ServerTls> loadServerTls(const ServerTlsFiles &files)
{
    if (files.certFile.isEmpty() && files.keyFile.isEmpty() && files.clientCaFile.isEmpty())
        return std::nullopt;
    if (files.certFile.isEmpty() || files.keyFile.isEmpty())
        throw std::invalid_argument("TLS needs both --tls-cert and --tls-key");
    if (!QSslSocket::supportsSsl())
        throw std::invalid_argument(
            QStringLiteral("TLS is not available: %1").arg(QSslSocket::activeBackend()).toStdString());
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    // TLS 1.3's suites in the server's order: AES-128-GCM, the suite every TLS 1.3 peer
    // has, seals a script's bytes with about a fifth less CPU than AES-256-GCM.
    configuration.setBackendConfigurationOption("Ciphersuites", QByteArray(kTls13Suites));
    const QByteArray certificatePem = readPem(files.certFile, "--tls-cert");
    const QByteArray keyPem = readPem(files.keyFile, "--tls-key");
    configuration.setLocalCertificateChain(certificates(certificatePem, files.certFile, "--tls-cert"));
    configuration.setPrivateKey(privateKey(keyPem, files.keyFile));
    // A key that is not the certificate's would fail every client's handshake.
    if (!protocol::keyMatchesCertificate(certificatePem, keyPem))
        throw std::invalid_argument(QStringLiteral("--tls-key %1 is not the key of the certificate in --tls-cert %2")
                                        .arg(files.keyFile, files.certFile).toStdString());
    QByteArray clientAuthorityPem;
    if (files.clientCaFile.isEmpty()) {
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    } else {
        // Only certificates of the team's authority are taken, not the system's.
        clientAuthorityPem = readPem(files.clientCaFile, "--tls-client-ca");
        configuration.setCaCertificates(certificates(clientAuthorityPem, files.clientCaFile, "--tls-client-ca"));
        configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    }
    return ServerTls { sessionContext(certificatePem, keyPem, clientAuthorityPem), configuration,
                       !files.clientCaFile.isEmpty() };
}

QString clientCertificateRefusal(const QList<QSslError> &errors)
{
    for (const QSslError &error : errors) {
        switch (error.error()) {
        case QSslError::NoPeerCertificate:
            return QStringLiteral("o servidor exige um certificado do cliente (tls-cert e tls-key)");
        case QSslError::CertificateExpired:
            return QStringLiteral("o certificado do cliente expirou em %1")
                .arg(error.certificate().expiryDate().toString(QStringLiteral("yyyy-MM-dd")));
        case QSslError::CertificateNotYetValid:
            return QStringLiteral("o certificado do cliente só vale a partir de %1")
                .arg(error.certificate().effectiveDate().toString(QStringLiteral("yyyy-MM-dd")));
        default:
            if (protocol::isUntrustedIssuer(error.error()))
                return QStringLiteral("o servidor não aceitou o certificado do cliente: não foi assinado pela autoridade "
                                      "do servidor");
            break;
        }
    }
    if (errors.isEmpty())
        return {};
    return QStringLiteral("o servidor não aceitou o certificado do cliente (%1)").arg(errors.constFirst().errorString());
}

QString certificateSubject(const QSslCertificate &certificate)
{
    QStringList parts;
    for (const QByteArray &attribute : certificate.subjectInfoAttributes()) {
        for (const QString &value : certificate.subjectInfo(attribute))
            parts << QStringLiteral("%1=%2").arg(QString::fromLatin1(attribute), value);
    }
    return parts.join(QLatin1Char(','));
}
