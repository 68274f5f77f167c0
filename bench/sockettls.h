#pragma once

#include <QString>
#include <algorithm>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Bytes handed to the sending side at a time, as the server hands TLS its answer.
constexpr size_t kSocketTlsSlice = 64 * 1024;
// Bytes the receiving side asks for at a time.
constexpr size_t kSocketTlsRead = 1024 * 1024;

// CPU seconds of the whole process, user and system.
inline double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds this process takes to carry `bytes` over a local socket pair, sent in
// slices from one thread and read on another: in plaintext, or as TLS 1.3 records of
// `suite` with OpenSSL straight on the sockets (no memory buffers in between), the
// server's side using `certificate` and `key`. -1 when TLS cannot be set up.
inline double socketCarryCpuSeconds(qint64 bytes, const QString &suite = {}, const QString &certificate = {},
                                    const QString &key = {})
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return -1;
    SSL_CTX *serverContext = nullptr;
    SSL_CTX *clientContext = nullptr;
    SSL *sender = nullptr;
    SSL *receiver = nullptr;
    const bool secure = !suite.isEmpty();
    if (secure) {
        serverContext = SSL_CTX_new(TLS_server_method());
        clientContext = SSL_CTX_new(TLS_client_method());
        const QByteArray suites = suite.toLatin1();
        const bool ready = serverContext && clientContext
            && SSL_CTX_set_min_proto_version(serverContext, TLS1_3_VERSION) == 1
            && SSL_CTX_set_ciphersuites(serverContext, suites.constData()) == 1
            && SSL_CTX_set_ciphersuites(clientContext, suites.constData()) == 1
            && SSL_CTX_use_certificate_chain_file(serverContext, certificate.toLocal8Bit().constData()) == 1
            && SSL_CTX_use_PrivateKey_file(serverContext, key.toLocal8Bit().constData(), SSL_FILETYPE_PEM) == 1;
        if (ready) {
            sender = SSL_new(serverContext);
            receiver = SSL_new(clientContext);
        }
        if (!sender || !receiver || SSL_set_fd(sender, pair[0]) != 1 || SSL_set_fd(receiver, pair[1]) != 1) {
            SSL_free(sender);
            SSL_free(receiver);
            SSL_CTX_free(serverContext);
            SSL_CTX_free(clientContext);
            close(pair[0]);
            close(pair[1]);
            ERR_clear_error();
            return -1;
        }
    }
    const double before = processCpuSeconds();
    bool sent = true;
    std::thread sending([&] {
        std::vector<char> slice(kSocketTlsSlice, 'x');
        if (secure && SSL_accept(sender) != 1) {
            sent = false;
            shutdown(pair[0], SHUT_WR);
            return;
        }
        for (qint64 done = 0; done < bytes;) {
            const int size = int(std::min<qint64>(qint64(slice.size()), bytes - done));
            const long put = secure ? SSL_write(sender, slice.data(), size) : write(pair[0], slice.data(), size_t(size));
            if (put <= 0) {
                sent = false;
                break;
            }
            done += put;
        }
        shutdown(pair[0], SHUT_WR);
    });
    qint64 received = 0;
    std::vector<char> buffer(kSocketTlsRead);
    if (!secure || SSL_connect(receiver) == 1) {
        for (;;) {
            const long got = secure ? SSL_read(receiver, buffer.data(), int(buffer.size()))
                                    : read(pair[1], buffer.data(), buffer.size());
            if (got <= 0)
                break;
            received += got;
        }
    }
    sending.join();
    const double cpu = processCpuSeconds() - before;
    SSL_free(sender);
    SSL_free(receiver);
    SSL_CTX_free(serverContext);
    SSL_CTX_free(clientContext);
    close(pair[0]);
    close(pair[1]);
    ERR_clear_error();
    return sent && received == bytes ? cpu : -1;
}
