#include "protocol/tlscontext.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <utility>

namespace protocol {

namespace {

struct BioFree
{
    void operator()(BIO *bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

Bio memory(const QByteArray &bytes)
{
    return Bio(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
}

int noPassword(char *, int, int, void *)
{
    return 0; // never asks on the terminal
}

// Each certificate of `pem`, in order, handed to `take`, which owns it.
template <typename Take>
void eachCertificate(const QByteArray &pem, Take take)
{
    const Bio bio = memory(pem);
    while (X509 *certificate = bio ? PEM_read_bio_X509(bio.get(), nullptr, noPassword, nullptr) : nullptr)
        take(certificate);
    ERR_clear_error(); // the end of the PEM
}

} // namespace

void TlsContextFree::operator()(ssl_ctx_st *context) const
{
    SSL_CTX_free(context);
}

TlsContext newTlsContext(TlsSide side)
{
    TlsContext context(SSL_CTX_new(side == TlsSide::Client ? TLS_client_method() : TLS_server_method()));
    if (context)
        SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    return context;
}

void trustOnly(ssl_ctx_st *context, const QByteArray &pem)
{
    X509_STORE *store = X509_STORE_new();
    eachCertificate(pem, [store](X509 *certificate) {
        X509_STORE_add_cert(store, certificate);
        X509_free(certificate);
    });
    SSL_CTX_set_cert_store(context, store); // frees the one it had
}

bool useCertificate(ssl_ctx_st *context, const QByteArray &chainPem, const QByteArray &keyPem)
{
    bool first = true;
    bool used = true;
    eachCertificate(chainPem, [context, &first, &used](X509 *certificate) {
        if (std::exchange(first, false)) {
            used = SSL_CTX_use_certificate(context, certificate) == 1;
            X509_free(certificate);
        } else if (SSL_CTX_add0_chain_cert(context, certificate) != 1) {
            used = false;
            X509_free(certificate);
        }
    });
    const Bio keyBio = memory(keyPem);
    EVP_PKEY *key = keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, noPassword, nullptr) : nullptr;
    used = used && !first && key && SSL_CTX_use_PrivateKey(context, key) == 1;
    EVP_PKEY_free(key);
    return used;
}

QString tlsContextError()
{
    char text[256] = "";
    if (const unsigned long error = ERR_get_error())
        ERR_error_string_n(error, text, sizeof text);
    ERR_clear_error();
    return QString::fromUtf8(text);
}

} // namespace protocol
