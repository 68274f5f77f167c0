#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>

class QSocketNotifier;
struct ssl_st;
struct ssl_ctx_st;
struct x509_store_ctx_st;

namespace protocol {

// One side of a TLS session, with OpenSSL straight on a connected socket: a record
// is read from the kernel into OpenSSL's buffer, opened there and copied once, into
// the reader's buffer; a write is sealed from the writer's bytes into OpenSSL's
// buffer and handed to the kernel. The handshake runs on the event loop from the
// start. Reads take what has arrived and never wait; what the kernel cannot take yet
// stays here (bytesToWrite) and goes out as it can, bytesWritten telling, from the
// event loop, as a socket's does.
//
// What is wrong with the peer's certificate is kept (verifyErrors): a client ends
// the handshake on it, with the alert of the last; a server goes on, to tell the
// client why over TLS.
class TlsSocket : public QIODevice
{
    Q_OBJECT

public:
    enum class Side { Client, Server };
    // Bytes OpenSSL takes from the kernel at a time: several records in one call; the
    // rest waits in the kernel, where it holds the peer back.
    static constexpr int kReadAheadBytes = 256 * 1024;
    enum class Stage { Handshake, Open, Closed };

    // Takes `descriptor`, a connected socket, and closes it with the stream. A client
    // checks the server's certificate against the context's authorities and `host`
    // (its context is its own: the check is set on it); a server asks for the client's
    // when the context's verify mode says so, the context shared by its sessions.
    TlsSocket(int descriptor, ssl_ctx_st *context, Side side, const QString &host = QString());
    ~TlsSocket() override;
    TlsSocket(const TlsSocket &) = delete;
    TlsSocket &operator=(const TlsSocket &) = delete;

    Stage stage() const { return m_stage; }
    int descriptor() const { return m_descriptor; }
    const QList<QSslError> &verifyErrors() const { return m_verifyErrors; }
    // The peer ended the connection (or reset it), rather than TLS failing on bytes it sent.
    bool peerEnded() const { return m_peerEnded; }
    // A client's server asked for the client's certificate in the handshake.
    bool certificateAsked() const { return m_certificateAsked; }
    QString protocolName() const; // "TLSv1.3"
    QString suite() const;        // "TLS_AES_128_GCM_SHA256"
    // The peer's certificate first, then those it sent with it; empty when it sent none.
    QList<QSslCertificate> peerChain() const;

    bool isSequential() const override { return true; }
    // Decrypted bytes ready to read; takes what the kernel holds when none are.
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override { return m_unsent.size(); }
    // Closes at once: a close_notify if the kernel takes it now, then the socket.
    void close() override;
    // Closes once what waits to be written has gone out.
    void closeAfterWriting();

signals:
    // The handshake is over, or the connection closed.
    void stageChanged();

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    static int verifyChain(x509_store_ctx_st *store, void *);
    static int verify(int preverified, x509_store_ctx_st *store);
    void handshake();
    void readable();
    void writable();
    // Runs `step` (OpenSSL's read or write of up to `slice` bytes from `at` on) until
    // `size` bytes are through or OpenSSL must wait for the socket; the bytes through.
    template <typename Step>
    qint64 transfer(qint64 size, Step step);
    // Hands `data` to OpenSSL until the kernel takes no more; the bytes taken.
    qint64 send(const char *data, qint64 size);
    void sendUnsent();
    void reportWritten();
    // Takes an OpenSSL call's result: true when it succeeded; else waits for the
    // socket as it asks, or closes the stream on a failure.
    bool settle(int result);
    void end(const QString &reason);

    int m_descriptor;
    Side m_side;
    ssl_st *m_ssl = nullptr;
    Stage m_stage = Stage::Handshake;
    QSocketNotifier *m_readable = nullptr;
    QSocketNotifier *m_writable = nullptr;
    QByteArray m_unsent;
    qint64 m_unreported = 0; // written, bytesWritten not yet emitted
    QList<QSslError> m_verifyErrors;
    bool m_peerEnded = false;
    bool m_certificateAsked = false;
    bool m_closeAfterWriting = false;
};

} // namespace protocol
