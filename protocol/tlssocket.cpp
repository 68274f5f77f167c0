#include "protocol/tlssocket.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>
#include <utility>
#include <unistd.h>

namespace protocol {

namespace {

// A socket BIO that sends with MSG_NOSIGNAL: a server that is gone gives an error,
// not a SIGPIPE that would end the program.
int socketWrite(BIO *bio, const char *data, int size)
{
    BIO_clear_retry_flags(bio);
    const ssize_t sent = ::send(BIO_get_fd(bio, nullptr), data, size_t(size), MSG_NOSIGNAL);
    if (sent < 0 && (errno == EAGAIN || errno == EINTR))
        BIO_set_retry_write(bio);
    return int(sent);
}

int socketRead(BIO *bio, char *data, int size)
{
    BIO_clear_retry_flags(bio);
    const ssize_t received = ::recv(BIO_get_fd(bio, nullptr), data, size_t(size), 0);
    if (received < 0 && (errno == EAGAIN || errno == EINTR))
        BIO_set_retry_read(bio);
    return int(received);
}

const BIO_METHOD *noSignalSocket()
{
    static BIO_METHOD *const method = [] {
        BIO_METHOD *created = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                           "qlx socket");
        const BIO_METHOD *base = BIO_s_socket();
        BIO_meth_set_write(created, socketWrite);
        BIO_meth_set_read(created, socketRead);
        BIO_meth_set_ctrl(created, BIO_meth_get_ctrl(base)); // the descriptor and flushes, as the socket BIO's
        BIO_meth_set_create(created, BIO_meth_get_create(base));
        BIO_meth_set_destroy(created, BIO_meth_get_destroy(base));
        return created;
    }();
    return method;
}

// Qt's name for what OpenSSL found wrong with a certificate.
QSslError::SslError sslErrorOf(int verifyError)
{
    switch (verifyError) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT: return QSslError::UnableToGetIssuerCertificate;
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE: return QSslError::UnableToDecryptCertificateSignature;
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY: return QSslError::UnableToDecodeIssuerPublicKey;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE: return QSslError::CertificateSignatureFailed;
    case X509_V_ERR_CERT_NOT_YET_VALID: return QSslError::CertificateNotYetValid;
    case X509_V_ERR_CERT_HAS_EXPIRED: return QSslError::CertificateExpired;
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD: return QSslError::InvalidNotBeforeField;
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD: return QSslError::InvalidNotAfterField;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT: return QSslError::SelfSignedCertificate;
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN: return QSslError::SelfSignedCertificateInChain;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY: return QSslError::UnableToGetLocalIssuerCertificate;
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return QSslError::UnableToVerifyFirstCertificate;
    case X509_V_ERR_CERT_REVOKED: return QSslError::CertificateRevoked;
    case X509_V_ERR_INVALID_CA: return QSslError::InvalidCaCertificate;
    case X509_V_ERR_PATH_LENGTH_EXCEEDED: return QSslError::PathLengthExceeded;
    case X509_V_ERR_INVALID_PURPOSE: return QSslError::InvalidPurpose;
    case X509_V_ERR_CERT_UNTRUSTED: return QSslError::CertificateUntrusted;
    case X509_V_ERR_CERT_REJECTED: return QSslError::CertificateRejected;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return QSslError::HostNameMismatch;
    default: return QSslError::UnspecifiedError;
    }
}

QSslCertificate certificateOf(X509 *certificate)
{
    if (!certificate)
        return QSslCertificate();
    const int length = i2d_X509(certificate, nullptr);
    if (length <= 0)
        return QSslCertificate();
    QByteArray der(length, Qt::Uninitialized);
    auto *at = reinterpret_cast<unsigned char *>(der.data());
    i2d_X509(certificate, &at);
    return QSslCertificate(der, QSsl::Der);
}

// OpenSSL's own words for the failures it queued, oldest first.
QString openSslErrors()
{
    QStringList texts;
    char text[256];
    while (const unsigned long error = ERR_get_error()) {
        ERR_error_string_n(error, text, sizeof text);
        texts << QString::fromUtf8(text);
    }
    return texts.join(QStringLiteral("; "));
}

int streamIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

TlsSocket *socketOf(SSL *ssl)
{
    return static_cast<TlsSocket *>(SSL_get_ex_data(ssl, streamIndex()));
}

TlsSocket *socketOf(X509_STORE_CTX *store)
{
    return socketOf(static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx())));
}

QString peerClosedText()
{
    return QCoreApplication::translate("QNativeSocketEngine", "The remote host closed the connection");
}

} // namespace

TlsSocket::TlsSocket(int descriptor, ssl_ctx_st *context, Side side, const QString &host)
    : m_descriptor(descriptor)
    , m_side(side)
{
    m_readable = new QSocketNotifier(qintptr(descriptor), QSocketNotifier::Read, this);
    m_writable = new QSocketNotifier(qintptr(descriptor), QSocketNotifier::Write, this);
    m_readable->setEnabled(false);
    m_writable->setEnabled(false);
    connect(m_readable, &QSocketNotifier::activated, this, &TlsSocket::readable);
    connect(m_writable, &QSocketNotifier::activated, this, &TlsSocket::writable);
    open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    // Reads and writes take what is there and never wait.
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);

    if (side == Side::Client) // the context is this connection's own
        SSL_CTX_set_cert_verify_callback(context, &TlsSocket::verifyChain, nullptr);
    m_ssl = SSL_new(context);
    BIO *socket = m_ssl ? BIO_new(noSignalSocket()) : nullptr;
    if (!socket) {
        end(openSslErrors());
        return;
    }
    BIO_set_fd(socket, descriptor, BIO_NOCLOSE);
    SSL_set_bio(m_ssl, socket, socket);
    SSL_set_ex_data(m_ssl, streamIndex(), this);
    SSL_set_mode(m_ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_set_read_ahead(m_ssl, 1);
    SSL_set_default_read_buffer_len(m_ssl, kReadAheadBytes);
    if (side == Side::Server) {
        if (SSL_CTX_get_verify_mode(context) & SSL_VERIFY_PEER)
            SSL_set_verify(m_ssl, SSL_VERIFY_PEER, &TlsSocket::verify);
        SSL_set_accept_state(m_ssl);
    } else {
        const QByteArray name = host.toUtf8();
        // An address is checked against the certificate's addresses, a name against its names.
        SSL_set1_host(m_ssl, name.constData());
        if (!name.isEmpty() && X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), name.constData()) != 1)
            SSL_set_tlsext_host_name(m_ssl, name.constData());
        SSL_set_verify(m_ssl, SSL_VERIFY_PEER, &TlsSocket::verify);
        SSL_set_cert_cb(
            m_ssl,
            [](SSL *ssl, void *) {
                socketOf(ssl)->m_certificateAsked = true;
                return 1;
            },
            nullptr);
        SSL_set_connect_state(m_ssl);
    }
    ERR_clear_error();
    handshake();
}

TlsSocket::~TlsSocket()
{
    blockSignals(true); // nothing is told of a socket on its way out
    close();
    SSL_free(m_ssl);
}

int TlsSocket::verifyChain(x509_store_ctx_st *store, void *)
{
    // Checked to the end, every failure kept (verify); then the handshake ends with
    // the alert of the last one, before the client's last message, if any was found.
    X509_verify_cert(store);
    return socketOf(store)->m_verifyErrors.isEmpty() ? 1 : 0;
}

int TlsSocket::verify(int preverified, x509_store_ctx_st *store)
{
    if (preverified)
        return 1;
    TlsSocket *stream = socketOf(store);
    const QSslError error(sslErrorOf(X509_STORE_CTX_get_error(store)),
                          certificateOf(X509_STORE_CTX_get_current_cert(store)));
    if (!stream->m_verifyErrors.contains(error))
        stream->m_verifyErrors << error;
    return 1;
}

void TlsSocket::handshake()
{
    ERR_clear_error();
    if (!settle(SSL_do_handshake(m_ssl)))
        return;
    // A server that asks for a certificate takes a client without one, to tell it why.
    if (m_side == Side::Server && (SSL_get_verify_mode(m_ssl) & SSL_VERIFY_PEER) && !SSL_get0_peer_certificate(m_ssl))
        m_verifyErrors << QSslError(QSslError::NoPeerCertificate);
    m_stage = Stage::Open;
    emit stageChanged();
}

void TlsSocket::readable()
{
    m_readable->setEnabled(false); // until a read asks the kernel for more
    if (m_stage == Stage::Handshake) {
        handshake();
        return;
    }
    if (!m_unsent.isEmpty())
        sendUnsent(); // a write that waited for the peer's bytes
    emit readyRead();
}

bool TlsSocket::settle(int result)
{
    if (result > 0)
        return true;
    const int systemError = errno;
    const int error = SSL_get_error(m_ssl, result);
    switch (error) {
    case SSL_ERROR_WANT_READ:
        m_readable->setEnabled(true);
        return false;
    case SSL_ERROR_WANT_WRITE:
        m_writable->setEnabled(true);
        return false;
    case SSL_ERROR_ZERO_RETURN:
        m_peerEnded = true;
        end(peerClosedText());
        return false;
    case SSL_ERROR_SYSCALL:
        if (const QString queued = openSslErrors(); !queued.isEmpty()) {
            end(queued);
            return false;
        }
        m_peerEnded = true;
        if (result == 0 || systemError == 0 || systemError == ECONNRESET || systemError == EPIPE)
            end(peerClosedText());
        else
            end(QString::fromLocal8Bit(std::strerror(systemError)));
        return false;
    default:
        end(openSslErrors());
        return false;
    }
}

qint64 TlsSocket::bytesAvailable() const
{
    if (m_stage != Stage::Open)
        return 0;
    if (const int pending = SSL_pending(m_ssl); pending > 0)
        return pending;
    // Opens the next record without taking it; from the kernel if OpenSSL has none whole.
    auto *self = const_cast<TlsSocket *>(this);
    char first = 0;
    size_t peeked = 0;
    ERR_clear_error();
    if (!self->settle(SSL_peek_ex(m_ssl, &first, 1, &peeked)))
        return 0;
    return std::max(SSL_pending(m_ssl), 1);
}

template <typename Step>
qint64 TlsSocket::transfer(qint64 size, Step step)
{
    qint64 done = 0;
    while (m_stage == Stage::Open && done < size) {
        size_t moved = 0;
        ERR_clear_error();
        const size_t slice = size_t(std::min<qint64>(size - done, std::numeric_limits<int>::max()));
        if (!settle(step(done, slice, &moved)))
            break;
        done += qint64(moved);
    }
    return done;
}

qint64 TlsSocket::readData(char *data, qint64 maxSize)
{
    return transfer(maxSize, [this, data](qint64 at, size_t slice, size_t *read) {
        return SSL_read_ex(m_ssl, data + at, slice, read);
    });
}

qint64 TlsSocket::writeData(const char *data, qint64 size)
{
    if (m_stage != Stage::Open || m_closeAfterWriting)
        return -1;
    // Sealed straight from the writer's bytes; only what the kernel cannot take yet is kept.
    const qint64 sent = m_unsent.isEmpty() ? send(data, size) : 0;
    m_unsent.append(data + sent, size - sent);
    if (m_unsent.size() > size - sent)
        sendUnsent();
    return size;
}

qint64 TlsSocket::send(const char *data, qint64 size)
{
    const qint64 sent = transfer(size, [this, data](qint64 at, size_t slice, size_t *written) {
        return SSL_write_ex(m_ssl, data + at, slice, written);
    });
    if (sent > 0 && std::exchange(m_unreported, m_unreported + sent) == 0)
        QMetaObject::invokeMethod(this, &TlsSocket::reportWritten, Qt::QueuedConnection);
    return sent;
}

void TlsSocket::sendUnsent()
{
    m_unsent.remove(0, qsizetype(send(m_unsent.constData(), m_unsent.size())));
    if (m_unsent.isEmpty() && m_closeAfterWriting)
        close();
}

void TlsSocket::writable()
{
    m_writable->setEnabled(false);
    if (m_stage == Stage::Handshake)
        handshake();
    else
        sendUnsent();
}

void TlsSocket::reportWritten()
{
    if (const qint64 written = std::exchange(m_unreported, 0); written > 0)
        emit bytesWritten(written);
}

QString TlsSocket::protocolName() const
{
    return QString::fromLatin1(SSL_get_version(m_ssl));
}

QString TlsSocket::suite() const
{
    return QString::fromLatin1(SSL_CIPHER_get_name(SSL_get_current_cipher(m_ssl)));
}

void TlsSocket::close()
{
    if (m_descriptor < 0)
        return;
    const bool wasOpen = m_stage == Stage::Open;
    if (wasOpen) {
        ERR_clear_error();
        SSL_shutdown(m_ssl); // the close_notify, if the kernel takes it now
        ERR_clear_error();
    }
    m_stage = Stage::Closed;
    m_readable->setEnabled(false);
    m_writable->setEnabled(false);
    ::close(m_descriptor);
    m_descriptor = -1;
    QIODevice::close();
    if (wasOpen)
        emit stageChanged();
}

void TlsSocket::closeAfterWriting()
{
    m_closeAfterWriting = true;
    if (m_unsent.isEmpty() || m_stage != Stage::Open)
        close();
}

QList<QSslCertificate> TlsSocket::peerChain() const
{
    QList<QSslCertificate> chain;
    X509 *own = m_ssl ? SSL_get0_peer_certificate(m_ssl) : nullptr;
    if (own)
        chain << certificateOf(own);
    // A server's list leaves out the client's own certificate; a client's has the server's first.
    if (STACK_OF(X509) *sent = m_ssl ? SSL_get_peer_cert_chain(m_ssl) : nullptr) {
        for (int i = 0; i < sk_X509_num(sent); ++i) {
            X509 *certificate = sk_X509_value(sent, i);
            if (certificate != own)
                chain << certificateOf(certificate);
        }
    }
    return chain;
}

void TlsSocket::end(const QString &reason)
{
    if (m_stage == Stage::Closed)
        return;
    setErrorString(reason);
    m_stage = Stage::Closed;
    m_readable->setEnabled(false);
    m_writable->setEnabled(false);
    emit stageChanged();
}

} // namespace protocol
