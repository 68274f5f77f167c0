#include "appserver/network/appserver.h"

#include "appserver/log/serverlog.h"
#include "appserver/metrics/servermetrics.h"
#include "appserver/network/clientsession.h"
#include "appserver/network/peeraddress.h"

#include "protocol/frame.h"
#include "protocol/message.h"

#include <QSemaphore>
#include <QSslSocket>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <memory>
#include <malloc.h>
#include <sys/socket.h>
#include <openssl/crypto.h>
#include <unistd.h>

namespace {

const QString kDescriptorsBusy = QStringLiteral("Servidor de aplicação ocupado: sem descritores de arquivo livres "
                                                "para uma nova conexão. Tente novamente mais tarde.");

// Answers busy without waiting for anything; the caller closes the descriptor.
void answerBusyAtOnce(int descriptor)
{
    const QByteArray busy = protocol::frameOf(protocol::encodeExceptionResponse(QStringLiteral("EServerBusy"), kDescriptorsBusy));
    ::send(descriptor, busy.constData(), size_t(busy.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    // What the client already sent is read, so that closing ends the connection with
    // FIN, not with a reset that could discard the answer on its way.
    char sink[4096];
    for (int i = 0; i < 16 && ::recv(descriptor, sink, sizeof sink, MSG_DONTWAIT) > 0; ++i) {
    }
    ::shutdown(descriptor, SHUT_WR);
}

} // namespace

AppServer::AppServer(QString databaseAddress, ScriptDialect dialect, ServerLimits limits,
                     std::optional<ServerTls> tls, QObject *parent)
    : QTcpServer(parent)
    , m_databaseAddress(std::move(databaseAddress))
    , m_dialect(dialect)
    , m_limits(limits)
    , m_tls(std::move(tls))
{
    connect(this, &QTcpServer::acceptError, this, &AppServer::acceptFailed);
    m_acceptRetry.setSingleShot(true);
    m_acceptRetry.setInterval(kAcceptRetryMs);
    connect(&m_acceptRetry, &QTimer::timeout, this, &AppServer::resumeAfterPause);
}

void AppServer::incomingConnection(qintptr descriptor)
{
    const PeerAddress client = PeerAddress::of(descriptor);
    const QString peer = client.address.isNull() ? QStringLiteral("unknown") : client.address.toString();
    const QString prefix = client.address.isNull() ? peer : m_limits.clientPrefix.of(client.address);
    if (m_sessions >= m_limits.maxClients) {
        ServerMetrics::connectionRefused(ServerMetrics::Refusal::MaxClients);
        refuse(descriptor, peer, QStringLiteral("Servidor de aplicação ocupado: limite de %1 conexões atingido. "
                                                "Tente novamente mais tarde.").arg(m_limits.maxClients));
    } else if (m_sessionsOfPrefix.value(prefix) >= m_limits.maxClientsPerPrefix) {
        ServerMetrics::connectionRefused(ServerMetrics::Refusal::MaxClientsPerPrefix);
        const QString whose = prefix == peer ? QStringLiteral("deste endereço") : QStringLiteral("da rede %1").arg(prefix);
        refuse(descriptor, peer, QStringLiteral("Servidor de aplicação ocupado: limite de %1 conexões %2 atingido. "
                                                "Tente novamente mais tarde.").arg(m_limits.maxClientsPerPrefix).arg(whose));
    } else if (m_handshakes - m_evictions >= m_limits.maxHandshakes && !evictOldestHandshake()) {
        ServerMetrics::connectionRefused(ServerMetrics::Refusal::MaxHandshakes);
        refuse(descriptor, peer, QStringLiteral("Servidor de aplicação ocupado: limite de %1 conexões em negociação "
                                                "atingido. Tente novamente mais tarde.").arg(m_limits.maxHandshakes));
    } else if (!m_free.atLeast(reservedDescriptors() + kSessionDescriptors)) {
        // A thread that cannot get its wakeup descriptor would end the whole process,
        // and a session whose handshake is over needs its database.
        startStarving(QStringLiteral("fewer than %1 descriptors free for a new session").arg(kSessionDescriptors));
        ServerMetrics::connectionRefused(ServerMetrics::Refusal::Descriptors);
        if (m_tls) { // the answer needs a handshake first
            ++(refuse(descriptor, peer, kDescriptorsBusy, Logged::No) ? m_refusedWhileStarving : m_closedWhileStarving);
        } else {
            answerBusyAtOnce(int(descriptor));
            ::close(int(descriptor));
            ++m_refusedWhileStarving;
        }
    } else if (!startSession(descriptor, prefix)) {
        ServerMetrics::connectionRefused(ServerMetrics::Refusal::Threads);
        refuse(descriptor, peer, QStringLiteral("Servidor de aplicação ocupado: não foi possível iniciar o atendimento "
                                                "da conexão. Tente novamente mais tarde."));
    } else {
        stopStarving();
    }
}

int AppServer::reservedDescriptors() const
{
    return kSessionDescriptors * m_handshakes;
}

bool AppServer::startSession(qintptr descriptor, const QString &prefix)
{
    auto *thread = new QThread(this);
    auto *session = new ClientSession(descriptor, m_databaseAddress, m_dialect, m_limits,
                                      m_tls ? m_tls->sessions : nullptr);
    session->moveToThread(thread);
    // Accepting waits until the session holds its own descriptors (its thread's wakeup,
    // its socket, in plaintext its database), so that no other connection takes the
    // ones counted on; a TLS session's database has them kept until its handshake is over.
    const auto running = std::make_shared<QSemaphore>();
    const quint64 id = ++m_lastSessionId;
    const auto handshakeEnded = [this, id] {
        const auto evictable = m_evictable.find(id);
        if (evictable == m_evictable.end())
            return;
        disconnect(*evictable);
        m_evictable.erase(evictable);
        m_evictions -= m_evicted.remove(id) ? 1 : 0;
        while (!m_handshakeOrder.empty() && !m_evictable.contains(m_handshakeOrder.front()))
            m_handshakeOrder.pop_front();
        --m_handshakes;
        if (m_acceptPaused) // its reserved descriptors are free now
            resumeAfterPause();
    };
    m_evictable.insert(id, connect(this, &AppServer::evictRequested, session, [session, id](quint64 evicted) {
        if (evicted == id)
            session->evict();
    })); // queued: another thread
    m_handshakeOrder.push_back(id);
    connect(thread, &QThread::started, session, &ClientSession::start, Qt::DirectConnection);
    connect(thread, &QThread::started, thread, [running] { running->release(); }, Qt::DirectConnection);
    connect(session, &ClientSession::handshakeOver, this, handshakeEnded); // queued: from the session's thread
    // OpenSSL's state of the thread (its random generators, its error queue) goes in
    // the thread, before the main thread hears it has finished: a server that stops
    // after its last session leaves none of it behind. First, before the queued ones.
    connect(thread, &QThread::finished, thread, [] { OPENSSL_thread_stop(); }, Qt::DirectConnection);
    connect(session, &ClientSession::finished, session, &QObject::deleteLater);
    connect(this, &AppServer::drainRequested, session, &ClientSession::drain); // queued: another thread
    connect(session, &QObject::destroyed, thread, &QThread::quit);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this, prefix, handshakeEnded] {
        --m_sessions;
        ServerMetrics::sessionClosed();
        if (--m_sessionsOfPrefix[prefix] <= 0)
            m_sessionsOfPrefix.remove(prefix);
        handshakeEnded();
        // The session's buffers and its query's go back to the system, not kept for a
        // peak that may not come again.
        malloc_trim(0);
        if (m_draining) {
            if (m_sessions == 0)
                emit drained();
        } else if (m_acceptPaused) { // its descriptors are free now
            resumeAfterPause();
        }
    });
    // Counted before the thread runs: its handshake, and even its first call, may be
    // over before this thread goes on.
    ++m_handshakes;
    ++m_sessions;
    ServerMetrics::sessionOpened();
    ++m_sessionsOfPrefix[prefix];
    thread->start();
    if (!thread->isRunning() && !thread->isFinished()) { // finished already: it ran, and its end is counted
        disconnect(m_evictable.take(id));
        --m_handshakes;
        --m_sessions;
        ServerMetrics::sessionClosed();
        if (--m_sessionsOfPrefix[prefix] <= 0)
            m_sessionsOfPrefix.remove(prefix);
        delete session;
        delete thread;
        return false;
    }
    running->tryAcquire(1, kSessionStartMs);
    return true;
}

bool AppServer::evictOldestHandshake()
{
    if (m_evictions >= m_limits.maxHandshakes)
        return false;
    while (!m_handshakeOrder.empty()) {
        const quint64 oldest = m_handshakeOrder.front();
        m_handshakeOrder.pop_front();
        if (m_evictable.contains(oldest) && !m_evicted.contains(oldest)) {
            m_evicted.insert(oldest);
            ++m_evictions;
            emit evictRequested(oldest);
            return true;
        }
    }
    return false;
}

void AppServer::setTls(const ServerTls &tls)
{
    m_tls = tls;
}

void AppServer::drain()
{
    if (m_draining)
        return;
    m_draining = true;
    m_acceptRetry.stop();
    close();
    emit drainRequested();
    if (m_sessions == 0)
        emit drained();
}

bool AppServer::refuse(qintptr descriptor, const QString &peer, const QString &message, Logged logged)
{
    // A TLS answer holds its connection through a handshake: only a bounded number at
    // once, and never with the descriptors kept for the sessions' databases; past
    // that the connection is closed at once, which frees its descriptor.
    if (m_tls && (m_tlsRefusals >= kMostTlsRefusals || !m_free.atLeast(reservedDescriptors()))) {
        if (logged == Logged::Yes)
            ServerLog::write(QStringLiteral("connection closed unanswered: %1: %2 (%3 TLS busy answers in flight)")
                                 .arg(peer, message).arg(m_tlsRefusals));
        ::close(int(descriptor));
        return false;
    }
    if (logged == Logged::Yes)
        ServerLog::write(QStringLiteral("connection refused: %1: %2").arg(peer, message));
    QTcpSocket *socket = m_tls ? new QSslSocket(this) : new QTcpSocket(this);
    auto *tls = qobject_cast<QSslSocket *>(socket);
    if (tls) {
        tls->setSslConfiguration(m_tls->configuration);
        ++m_tlsRefusals;
        connect(tls, &QObject::destroyed, this, [this] {
            --m_tlsRefusals;
            if (m_acceptPaused) // its descriptor is free now
                resumeAfterPause();
        });
    }
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return false;
    }
    if (tls)
        tls->startServerEncryption(); // before writing, or the answer would go out in plaintext
    socket->write(protocol::frameOf(protocol::encodeExceptionResponse(QStringLiteral("EServerBusy"), message)));
    // Once the answer is out, only the sending side is closed: a client that calls at
    // once still reads the answer instead of losing it to a reset; what it sends is
    // dropped, and the socket goes when the client closes or the linger time is up.
    // A TLS answer goes out only after the handshake, so that connection is not
    // half-closed: it goes when the client closes or the linger time is up.
    if (!tls) {
        connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
            if (socket->bytesToWrite() == 0)
                ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
        });
    }
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kRefusalLingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    return true;
}

void AppServer::acceptFailed(QAbstractSocket::SocketError)
{
    // QTcpServer stops accepting after such a failure (out of descriptors, most often),
    // so the listening socket does not wake the server again and again. The waiting
    // connections are answered busy as far as the reserved descriptor allows.
    startStarving(QStringLiteral("accepting failed: %1").arg(errorString()));
    m_acceptPaused = true;
    const int listener = int(socketDescriptor());
    // A TLS client cannot be answered without a handshake: it is only closed.
    const auto answer = [this](int client) {
        if (!m_tls)
            answerBusyAtOnce(client);
    };
    for (int i = 0; i < kMostAnsweredAtOnce && m_reserve.acceptWith(listener, answer); ++i) {
        ++(m_tls ? m_closedWhileStarving : m_refusedWhileStarving);
        ServerMetrics::connectionRefused(ServerMetrics::Refusal::Descriptors);
    }
    m_acceptRetry.start();
}

void AppServer::resumeAfterPause()
{
    if (m_draining)
        return;
    m_acceptRetry.stop();
    m_acceptPaused = false;
    resumeAccepting();
}

void AppServer::startStarving(const QString &reason)
{
    if (m_starving)
        return;
    m_starving = true;
    m_refusedWhileStarving = 0;
    m_closedWhileStarving = 0;
    ServerLog::write(QStringLiteral("out of descriptors (%1): new connections are answered busy until a descriptor is free")
                .arg(reason));
}

void AppServer::stopStarving()
{
    if (!m_starving)
        return;
    m_starving = false;
    ServerLog::write(QStringLiteral("descriptors free again: serving new connections; %1 were answered busy meanwhile, "
                                    "%2 closed unanswered")
                .arg(m_refusedWhileStarving).arg(m_closedWhileStarving));
}
