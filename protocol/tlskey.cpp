#include "protocol/tlskey.h"

#include <memory>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace protocol {

QSslKey privateKeyFromPem(const QByteArray &pem)
{
    for (const QSsl::KeyAlgorithm algorithm : { QSsl::Rsa, QSsl::Ec }) {
        const QSslKey key(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            return key;
    }
    return QSslKey();
}

bool keyMatchesCertificate(const QByteArray &certificatePem, const QByteArray &keyPem)
{
    const auto memory = [](const QByteArray &bytes) {
        return std::unique_ptr<BIO, decltype(&BIO_free)>(BIO_new_mem_buf(bytes.constData(), int(bytes.size())), BIO_free);
    };
    const auto noPassword = [](char *, int, int, void *) { return 0; }; // never asks on the terminal
    const auto certificateBio = memory(certificatePem);
    const auto keyBio = memory(keyPem);
    const std::unique_ptr<X509, decltype(&X509_free)> certificate(
        certificateBio ? PEM_read_bio_X509(certificateBio.get(), nullptr, noPassword, nullptr) : nullptr, X509_free);
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, noPassword, nullptr) : nullptr, EVP_PKEY_free);
    const bool matches = certificate && key && X509_check_private_key(certificate.get(), key.get()) == 1;
    ERR_clear_error(); // a mismatch is an answer here, not an error left for the next TLS call
    return matches;
}

} // namespace protocol
