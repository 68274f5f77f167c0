#include "runtime/core/tlsclient.h"

#include "runtime/core/exceptions.h"

#include "protocol/tlscontext.h"
#include "protocol/tlskey.h"
#include "protocol/tlssocket.h"
#include "protocol/untrustedissuer.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <algorithm>

namespace {

QByteArray readPem(const QString &file, const QString &what)
{
    QFile pem(file);
    if (!pem.open(QIODevice::ReadOnly))
        throw ESocketError(QStringLiteral("Não foi possível ler %1 %2: %3.").arg(what, file, pem.errorString()));
    return pem.readAll();
}

QList<QSslCertificate> certificates(const QByteArray &pem, const QString &file, const QString &what)
{
    const QList<QSslCertificate> found = QSslCertificate::fromData(pem, QSsl::Pem);
    if (found.isEmpty())
        throw ESocketError(QStringLiteral("O arquivo %1 de %2 não tem um certificado PEM.").arg(file, what));
    return found;
}

QSslKey privateKey(const QByteArray &pem, const QString &file)
{
    const QSslKey key = protocol::privateKeyFromPem(pem);
    if (!key.isNull())
        return key;
    throw ESocketError(QStringLiteral("O arquivo %1 (tls-key) não tem uma chave privada PEM RSA ou EC sem senha.").arg(file));
}

// How much an error says about why the server is not trusted: the lowest first.
int rank(QSslError::SslError error)
{
    if (protocol::isUntrustedIssuer(error))
        return 0;
    switch (error) {
    case QSslError::CertificateExpired:
    case QSslError::CertificateNotYetValid:
        return 1;
    case QSslError::HostNameMismatch:
        return 2;
    default:
        return 3;
    }
}

QString names(const QSslCertificate &certificate)
{
    QStringList names = certificate.subjectInfo(QSslCertificate::CommonName);
    for (const QString &name : certificate.subjectAlternativeNames().values())
        if (!names.contains(name))
            names << name;
    return names.join(QStringLiteral(", "));
}

QString reason(const QSslError &error, const QString &peerName)
{
    const QString day = QStringLiteral("yyyy-MM-dd");
    switch (rank(error.error())) {
    case 0:
        return QStringLiteral("o certificado do servidor não foi assinado pela autoridade confiável (tls-ca)");
    case 1:
        return error.error() == QSslError::CertificateExpired
            ? QStringLiteral("o certificado do servidor expirou em %1").arg(error.certificate().expiryDate().toString(day))
            : QStringLiteral("o certificado do servidor só vale a partir de %1")
                  .arg(error.certificate().effectiveDate().toString(day));
    case 2:
        return QStringLiteral("o certificado do servidor não é do nome %1 (é de %2)")
            .arg(peerName, names(error.certificate()));
    default:
        return error.errorString();
    }
}

// What OpenSSL's text says of the alert the server sent in the handshake, when it
// says anything.
QString alertReason(const QString &text)
{
    if (text.contains(QLatin1String("certificate required"), Qt::CaseInsensitive))
        return QStringLiteral("o servidor exige um certificado do cliente (tls-cert e tls-key)");
    if (text.contains(QLatin1String("unknown ca"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("bad certificate"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("certificate unknown"), Qt::CaseInsensitive))
        return QStringLiteral("o servidor não aceitou o certificado do cliente (tls-cert)");
    if (text.contains(QLatin1String("certificate expired"), Qt::CaseInsensitive))
        return QStringLiteral("o certificado do cliente expirou (tls-cert)");
    if (text.contains(QLatin1String("wrong version number"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("packet length too long"), Qt::CaseInsensitive))
        return QStringLiteral("o servidor não respondeu em TLS (ele não usa TLS?)");
    return {};
}

[[noreturn]] void refuse(const QString &server, const QString &why)
{
    throw ESocketError(QStringLiteral("Conexão TLS com o servidor de aplicação %1 recusada: %2.").arg(server, why));
}

[[noreturn]] void refuseContext(const char *step)
{
    throw ESocketError(QStringLiteral("Não foi possível preparar o TLS (%1): %2.")
                           .arg(QLatin1String(step), protocol::tlsContextError()));
}

// What the connection needs of `files`, read and checked.
protocol::TlsContext tlsContext(const TTlsFiles &files)
{
    if (files.CertFile.isEmpty() != files.KeyFile.isEmpty())
        throw ESocketError(QStringLiteral("O certificado do cliente precisa de tls-cert e de tls-key, os dois."));
    const QString authority = QStringLiteral("a autoridade confiável (tls-ca)");
    const QByteArray authorityPem = readPem(files.CaFile, authority);
    certificates(authorityPem, files.CaFile, authority);
    QByteArray chainPem;
    QByteArray keyPem;
    if (!files.CertFile.isEmpty()) {
        const QString certificate = QStringLiteral("o certificado do cliente (tls-cert)");
        chainPem = readPem(files.CertFile, certificate);
        keyPem = readPem(files.KeyFile, QStringLiteral("a chave do certificado do cliente (tls-key)"));
        certificates(chainPem, files.CertFile, certificate);
        privateKey(keyPem, files.KeyFile);
        if (!protocol::keyMatchesCertificate(chainPem, keyPem))
            throw ESocketError(QStringLiteral("A chave %1 (tls-key) não é a do certificado %2 (tls-cert).")
                                   .arg(files.KeyFile, files.CertFile));
    }

    protocol::TlsContext context = protocol::newTlsContext(protocol::TlsSide::Client);
    if (!context)
        refuseContext("SSL_CTX_new");
    // Only the team's own authority is trusted, not the system's.
    protocol::trustOnly(context.get(), authorityPem);
    if (!chainPem.isEmpty() && !protocol::useCertificate(context.get(), chainPem, keyPem))
        refuseContext("tls-cert, tls-key");
    return context;
}

} // namespace

protocol::TlsContext ReadTlsFiles(const TTlsFiles &files)
{
    return tlsContext(files);
}

void RefuseTls(const protocol::TlsSocket &stream, const QString &host, const QString &server)
{
    QList<QSslError> errors = stream.verifyErrors();
    if (!errors.isEmpty()) {
        std::stable_sort(errors.begin(), errors.end(),
                         [](const QSslError &a, const QSslError &b) { return rank(a.error()) < rank(b.error()); });
        refuse(server, reason(errors.constFirst(), host));
    }
    if (const QString alert = alertReason(stream.errorString()); !alert.isEmpty())
        refuse(server, alert);
    if (stream.peerEnded() && stream.certificateAsked())
        RefuseAfterClientCertificate(server, stream.errorString());
    if (stream.peerEnded())
        refuse(server, QStringLiteral("o servidor encerrou a conexão na negociação (ele não usa TLS?)"));
    refuse(server, stream.errorString());
}

void RefuseAfterClientCertificate(const QString &server, const QString &detail)
{
    refuse(server, QStringLiteral("o servidor encerrou a conexão sem responder, depois de receber o certificado do "
                                  "cliente; confira se ele aceita esse certificado e se a sua cadeia não é longa demais "
                                  "(tls-cert) (%1)").arg(detail));
}
