#pragma once

#include "bench/proccpu.h"

#include <QString>
#include <algorithm>
#include <memory>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Bytes handed to the sending side at a time, as the server hands TLS its answer.
constexpr size_t kSocketTlsSlice = 64 * 1024;
// Bytes the receiving side asks for at a time.
constexpr size_t kSocketTlsRead = 1024 * 1024;

// Two ends of one TCP connection over loopback, as a client and the server hold
// theirs; false when the system refuses one.
inline bool loopbackPair(int ends[2])
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool listening = listener >= 0 && bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && listen(listener, 1) == 0 && getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0;
    ends[1] = listening ? socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    if (ends[1] >= 0 && connect(ends[1], reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        ends[0] = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (listener >= 0)
        close(listener);
    return ends[0] >= 0 && ends[1] >= 0;
}

// CPU seconds this process takes to carry `bytes` over a loopback TCP connection, sent in
// slices from one thread and read on another: in plaintext, or as TLS 1.3 records of
// `suite` with OpenSSL straight on the sockets (no memory buffers in between), the
// server's side using `certificate` and `key`. -1 when TLS cannot be set up.
inline double socketCarryCpuSeconds(qint64 bytes, const QString &suite = {}, const QString &certificate = {},
                                    const QString &key = {})
{
    struct SocketPair
    {
        int ends[2] = { -1, -1 };
        ~SocketPair()
        {
            for (int end : ends)
                if (end >= 0)
                    close(end);
            ERR_clear_error();
        }
    } pair;
    if (!loopbackPair(pair.ends))
        return -1;
    using Context = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;
    using Session = std::unique_ptr<SSL, decltype(&SSL_free)>;
    const bool secure = !suite.isEmpty();
    Context serverContext(secure ? SSL_CTX_new(TLS_server_method()) : nullptr, SSL_CTX_free);
    Context clientContext(secure ? SSL_CTX_new(TLS_client_method()) : nullptr, SSL_CTX_free);
    Session sender(nullptr, SSL_free);
    Session receiver(nullptr, SSL_free);
    if (secure) {
        const QByteArray suites = suite.toLatin1();
        const bool ready = serverContext && clientContext
            && SSL_CTX_set_min_proto_version(serverContext.get(), TLS1_3_VERSION) == 1
            && SSL_CTX_set_ciphersuites(serverContext.get(), suites.constData()) == 1
            && SSL_CTX_set_ciphersuites(clientContext.get(), suites.constData()) == 1
            && SSL_CTX_use_certificate_chain_file(serverContext.get(), certificate.toLocal8Bit().constData()) == 1
            && SSL_CTX_use_PrivateKey_file(serverContext.get(), key.toLocal8Bit().constData(), SSL_FILETYPE_PEM) == 1;
        if (ready) {
            sender.reset(SSL_new(serverContext.get()));
            receiver.reset(SSL_new(clientContext.get()));
        }
        if (!sender || !receiver || SSL_set_fd(sender.get(), pair.ends[0]) != 1
            || SSL_set_fd(receiver.get(), pair.ends[1]) != 1)
            return -1;
    }
    const double before = rusageCpuSeconds(RUSAGE_SELF);
    bool sent = true;
    std::thread sending([&] {
        // A reader that stops early ends the writes with EPIPE, not the process.
        sigset_t brokenPipe;
        sigemptyset(&brokenPipe);
        sigaddset(&brokenPipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &brokenPipe, nullptr);
        std::vector<char> slice(kSocketTlsSlice, 'x');
        if (secure && SSL_accept(sender.get()) != 1)
            sent = false;
        for (qint64 done = 0; sent && done < bytes;) {
            const int size = int(std::min<qint64>(qint64(slice.size()), bytes - done));
            const long put = secure ? SSL_write(sender.get(), slice.data(), size)
                                    : write(pair.ends[0], slice.data(), size_t(size));
            sent = put > 0;
            done += sent ? put : 0;
        }
        shutdown(pair.ends[0], SHUT_WR);
    });
    qint64 received = 0;
    std::vector<char> buffer(kSocketTlsRead);
    if (!secure || SSL_connect(receiver.get()) == 1) {
        for (;;) {
            const long got = secure ? SSL_read(receiver.get(), buffer.data(), int(buffer.size()))
                                    : read(pair.ends[1], buffer.data(), buffer.size());
            if (got <= 0)
                break;
            received += got;
        }
    }
    shutdown(pair.ends[1], SHUT_RDWR); // a sender still in its handshake or its writes stops
    sending.join();
    const double cpu = rusageCpuSeconds(RUSAGE_SELF) - before;
    return sent && received == bytes ? cpu : -1;
}
