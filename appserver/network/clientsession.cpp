#include "appserver/network/clientsession.h"

#include "appserver/database/databasefailure.h"
#include "appserver/database/translationdb.h"
#include "appserver/log/serverlog.h"
#include "appserver/metrics/servermetrics.h"
#include "appserver/network/answerstream.h"
#include "appserver/network/clientchain.h"
#include "appserver/network/peeraddress.h"
#include "appserver/network/servertls.h"
#include "appserver/remoteobject/rdmgeraarquivo.h"

#include "protocol/protocolerror.h"
#include "protocol/tlssocket.h"

#include <QScopedValueRollback>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

ClientSession::ClientSession(qintptr descriptor, QString databaseAddress, ScriptDialect dialect, ServerLimits limits,
                             std::shared_ptr<ssl_ctx_st> tls)
    : m_descriptor(descriptor)
    , m_databaseAddress(std::move(databaseAddress))
    , m_dialect(dialect)
    , m_limits(limits)
    , m_tls(std::move(tls))
{
}

ClientSession::~ClientSession() = default;

void ClientSession::start()
{
    m_sessionTime.start();
    m_peer.address = PeerAddress::of(m_descriptor).text();
    m_idle = new QTimer(this);
    m_idle->setSingleShot(true);
    m_idle->setInterval(std::chrono::seconds(m_limits.idleTimeout));
    connect(m_idle, &QTimer::timeout, this, &ClientSession::idleTimedOut);
    m_idle->start();
    m_handshake = new QTimer(this);
    m_handshake->setSingleShot(true);
    m_handshake->setInterval(std::chrono::seconds(m_limits.handshakeTimeout));
    connect(m_handshake, &QTimer::timeout, this, &ClientSession::handshakeTimedOut);
    m_handshake->start();
    if (!m_tls) {
        if (adopt(new QTcpSocket(this)) && openDatabase())
            serve();
        return;
    }
    // How the client speaks shows in its first byte, read without taking it.
    m_firstByte = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
    connect(m_firstByte, &QSocketNotifier::activated, this, &ClientSession::firstByteArrived);
}

void ClientSession::firstByteArrived()
{
    unsigned char first = 0;
    const ssize_t peeked = ::recv(int(m_descriptor), &first, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    m_firstByte->setEnabled(false);
    m_firstByte->deleteLater();
    m_firstByte = nullptr;
    if (peeked <= 0) {
        ::close(int(m_descriptor));
        finish(QStringLiteral("client-closed"));
        return;
    }
    if (first == kTlsHandshakeRecord) {
        startTls();
        return;
    }
    if (!adopt(new QTcpSocket(this)))
        return;
    const QString refusal = QStringLiteral("o servidor só aceita conexões TLS: configure no cliente a autoridade "
                                           "confiável (--tls-ca, QLX_TLS_CA ou tls-ca=)");
    ServerMetrics::tlsFailed(ServerMetrics::TlsFailure::PlaintextClient);
    sendException(QLatin1String(protocol::kTlsRefusedClass), refusal);
    drop(QStringLiteral("a plaintext client on a TLS server"), Close::AfterWriting, QStringLiteral("tls-refused"));
}

bool ClientSession::adopt(QTcpSocket *socket)
{
    m_socket = socket;
    if (!m_socket->setSocketDescriptor(m_descriptor)) {
        ServerLog::write(AuditLog::droppedLine(m_peer, 0, m_socket->errorString()));
        ::close(int(m_descriptor));
        finish(QStringLiteral("socket-error"));
        return false;
    }
    m_channel = socket;
    // Unread bytes stay in the kernel, where they hold the client back.
    m_socket->setReadBufferSize(kReadChunk);
    connect(m_socket, &QTcpSocket::disconnected, this, &ClientSession::channelEnded);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &ClientSession::answerWritten);
    return true;
}

void ClientSession::channelEnded()
{
    if (m_answer && !m_closing) {
        ServerLog::write(AuditLog::droppedLine(
            m_peer, m_answered, QStringLiteral("gone while %1 was answered").arg(ServerLog::quoted(m_request.method))));
        endCall(QStringLiteral("client-gone"));
    }
    m_answer.reset(); // ends its query at once
    // A client that refuses the server's certificate closes in the handshake.
    if (m_tlsSocket && !m_encrypted && !m_closing) {
        ServerMetrics::tlsFailed(ServerMetrics::TlsFailure::Handshake);
        ServerLog::write(AuditLog::droppedLine(m_peer, 0, QStringLiteral("closed by the client in the TLS handshake")));
    }
    finish(m_closing ? m_end : QStringLiteral("client-closed"));
}

void ClientSession::startTls()
{
    m_tlsSocket = new protocol::TlsSocket(int(m_descriptor), m_tls.get(), protocol::TlsSocket::Side::Server);
    m_tlsSocket->setParent(this);
    m_channel = m_tlsSocket;
    // The short record that ends each write goes out at once, not after the client's
    // delayed acknowledgement.
    const int lowDelay = 1;
    ::setsockopt(int(m_descriptor), IPPROTO_TCP, TCP_NODELAY, &lowDelay, sizeof lowDelay);
    connect(m_tlsSocket, &protocol::TlsSocket::stageChanged, this, &ClientSession::tlsStageChanged);
    connect(m_tlsSocket, &QIODevice::bytesWritten, this, &ClientSession::answerWritten);
    connect(m_tlsSocket, &QIODevice::readyRead, this, &ClientSession::readRequests);
    if (m_tlsSocket->stage() != protocol::TlsSocket::Stage::Handshake) // over before it was watched
        tlsStageChanged();
}

void ClientSession::tlsStageChanged()
{
    if (m_tlsSocket->stage() == protocol::TlsSocket::Stage::Open) {
        if (!m_encrypted)
            encrypted();
        return;
    }
    if (m_tlsSocket->stage() != protocol::TlsSocket::Stage::Closed)
        return;
    if (!m_encrypted && !m_closing && !m_tlsSocket->peerEnded())
        handshakeFailed(m_tlsSocket->errorString());
    else
        channelEnded();
}

void ClientSession::encrypted()
{
    m_encrypted = true;
    const QList<QSslCertificate> chain = m_tlsSocket->peerChain();
    if (const std::optional<ClientChain::Refusal> refused = ClientChain::refusal(chain)) {
        m_clientRefusal = refused->client; // nothing more is read
        ServerMetrics::tlsFailed(ServerMetrics::TlsFailure::ChainTooLarge);
        sendException(QLatin1String(protocol::kTlsRefusedClass), refused->client);
        drop(refused->log, Close::AfterWriting, QStringLiteral("tls-refused"));
        return;
    }
    // A client certificate that fails verification does not end the handshake: the
    // client is told why over TLS, and served nothing.
    const QList<QSslError> &errors = m_tlsSocket->verifyErrors();
    m_clientRefusal = clientCertificateRefusal(errors);
    if (!m_clientRefusal.isEmpty()) {
        QStringList reasons;
        for (const QSslError &refused : errors)
            reasons << refused.errorString();
        ServerMetrics::tlsFailed(ServerMetrics::TlsFailure::ClientCertificate);
        sendException(QLatin1String(protocol::kTlsRefusedClass), m_clientRefusal);
        drop(QStringLiteral("client certificate refused: %1").arg(reasons.join(QStringLiteral("; "))), Close::AfterWriting,
             QStringLiteral("tls-refused"));
        return;
    }
    if (!chain.isEmpty())
        m_peer.subject = certificateSubject(chain.constFirst());
    openDatabase();
    endHandshake();
    readRequests(); // a request may have come with the handshake's end
}

void ClientSession::handshakeFailed(const QString &reason)
{
    // OpenSSL ends a handshake whose certificate message is too long before the chain can be counted.
    const QString limit = reason.contains(QLatin1String(ClientChain::kHandshakeOverflowText))
        ? QStringLiteral(" (a client certificate chain over the %1 bytes a handshake takes)")
              .arg(ClientChain::kHandshakeMessageBytes)
        : QString();
    ServerMetrics::tlsFailed(limit.isEmpty() ? ServerMetrics::TlsFailure::Handshake : ServerMetrics::TlsFailure::ChainTooLarge);
    drop(QStringLiteral("TLS handshake failed%1: %2").arg(limit, reason), Close::AtOnce, QStringLiteral("tls-handshake-failed"));
}

void ClientSession::serve()
{
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientSession::readRequests);
    readRequests();
}

bool ClientSession::openDatabase()
{
    try {
        const QString connection = QStringLiteral("session-%1").arg(quintptr(QThread::currentThreadId()));
        m_database = std::make_unique<TranslationDb>(m_databaseAddress, connection);
        m_object = std::make_unique<RdmGeraArquivo>(m_database->database(), m_database->backend(), m_dialect,
                                                    [this] { return clientGone(); });
    } catch (const std::exception &failure) {
        sendException(QLatin1String(DatabaseFailure::kExceptionClass),
                      DatabaseFailure::report(QStringLiteral("O banco de dados do servidor de aplicação não está acessível"),
                                              QString::fromUtf8(failure.what())));
        drop(QStringLiteral("database not opened"), Close::AfterWriting, QStringLiteral("database-error"));
        return false;
    }
    return true;
}

void ClientSession::endHandshake()
{
    if (m_handshakeOver)
        return;
    m_handshakeOver = true;
    m_handshake->stop();
    m_handshakeGauge.leave();
    emit handshakeOver();
}

void ClientSession::readRequests()
{
    QByteArray payload;
    try {
        // Nothing more is read while an answer is still going out.
        while (!m_closing && !m_draining && m_clientRefusal.isEmpty() && !m_answer && outgoing() == 0) {
            if (m_frames.next(payload)) {
                m_idle->start();
                endHandshake();
                if (!answer(payload))
                    return;
            } else if (m_channel->bytesAvailable() > 0) {
                m_frames.append(m_channel->read(kReadChunk));
            } else {
                return;
            }
        }
    } catch (const protocol::ProtocolError &oversized) {
        drop(QString::fromUtf8(oversized.what()), Close::AtOnce, QStringLiteral("protocol-error"));
    }
}

bool ClientSession::answer(const QByteArray &payload)
{
    protocol::Request request;
    try {
        request = protocol::decodeRequest(payload);
    } catch (const protocol::ProtocolError &failure) {
        // A request that cannot be read is answered, then the connection ends.
        sendException(QStringLiteral("EProtocolError"), QString::fromUtf8(failure.what()));
        drop(QString::fromUtf8(failure.what()), Close::AfterWriting, QStringLiteral("protocol-error"));
        return false;
    }
    m_request = request;
    m_call = AuditLog::Call();
    m_callTime.start();
    m_answer = m_object->answer(request, &m_call);
    return sendAnswer();
}

bool ClientSession::sendAnswer()
{
    // TLS reports bytes written while they are being written: the answer goes on here.
    const QScopedValueRollback sending(m_sending, true);
    while (m_answer && outgoing() < kOutgoingLimit) {
        QByteArray frame;
        bool more = false;
        try {
            more = m_answer->next(frame);
        } catch (const RdmGeraArquivo::Abandoned &) {
            endCall(QStringLiteral("client-gone"));
            m_answer.reset();
            drop(QStringLiteral("gone while %1 was answered").arg(m_request.method), Close::AtOnce,
                 QStringLiteral("client-gone"));
            return false;
        }
        if (!more) {
            endCall(m_answer->outcome());
            m_answer.reset();
            ++m_answered;
            break;
        }
        const qint64 frameBytes = frame.size();
        // A client refuses a frame over its own limit whatever the answer's.
        if (frameBytes - protocol::kFrameHeaderSize > protocol::kDefaultFrameLimit) {
            refuseOversizedAnswer(m_call.bytes, frameBytes, protocol::kDefaultFrameLimit);
            return !m_closing;
        }
        if (m_call.bytes + frameBytes > m_limits.maxAnswer) {
            refuseOversizedAnswer(m_call.bytes, frameBytes, 0);
            return !m_closing;
        }
        m_call.bytes += frameBytes;
        // Header and payload in one buffer, which a plaintext socket keeps rather than
        // copies, and TLS seals from where it lies, keeping what the kernel cannot take yet.
        m_channel->write(frame);
    }
    return true;
}

void ClientSession::refuseOversizedAnswer(qint64 sent, qint64 frameBytes, qint64 frameLimit)
{
    qint64 size = sent + frameBytes;
    QByteArray frame;
    try {
        while (m_answer->next(frame))
            size += frame.size();
    } catch (const RdmGeraArquivo::Abandoned &) {
        endCall(QStringLiteral("client-gone"));
        m_answer.reset();
        drop(QStringLiteral("gone while %1 was answered").arg(m_request.method), Close::AtOnce,
             QStringLiteral("client-gone"));
        return;
    }
    m_answer.reset();
    ++m_answered;
    // The client discards the parts it got on this failure.
    const QString message = frameLimit > 0
        ? QStringLiteral("A resposta de %1 bytes excede o limite de %2 bytes de uma mensagem.").arg(size).arg(frameLimit)
        : QStringLiteral("A resposta de %1 bytes excede o limite de %2 bytes.").arg(size).arg(m_limits.maxAnswer);
    frame = protocol::frameOf(RdmGeraArquivo::failureAnswer(m_request, message));
    m_channel->write(frame);
    m_call.bytes = sent + frame.size();
    endCall(QStringLiteral("too-large"));
}

void ClientSession::endCall(const QString &outcome)
{
    m_call.outcome = outcome;
    if (m_answer) // an answer refused for its size delivered none
        m_call.lines = m_answer->rows();
    m_call.milliseconds = m_callTime.elapsed();
    ServerMetrics::callEnded(m_call, m_callTime.nsecsElapsed());
    ServerLog::write(AuditLog::callLine(m_peer, m_call));
    ++m_calls;
    m_bytesSent += m_call.bytes;
}

void ClientSession::finish(const QString &how)
{
    if (m_finished)
        return;
    m_finished = true;
    m_idle->stop(); // nothing is left for them to close
    m_handshake->stop();
    if (!m_peer.address.isEmpty())
        ServerLog::write(AuditLog::endLine(m_peer, how, m_calls, m_bytesSent, m_sessionTime.elapsed() / 1000));
    emit finished();
}

void ClientSession::sendException(const QString &exceptionClass, const QString &message)
{
    m_channel->write(protocol::frameOf(protocol::encodeExceptionResponse(exceptionClass, message)));
}

void ClientSession::answerWritten()
{
    m_idle->start();
    if (m_sending)
        return;
    if (m_answer && !sendAnswer())
        return;
    if (!m_answer && outgoing() == 0) {
        if (m_draining && !m_closing)
            drop(QStringLiteral("the server is stopping"), Close::AfterWriting, QStringLiteral("server-stopping"));
        else
            readRequests();
    }
}

void ClientSession::drain()
{
    m_draining = true;
    if (m_finished || m_closing || !m_idle)
        return;
    if (!m_channel) { // a TLS server's client that never spoke
        m_firstByte->setEnabled(false);
        ::close(int(m_descriptor));
        finish(QStringLiteral("server-stopping"));
        return;
    }
    if (!m_answer && !m_sending)
        drop(QStringLiteral("the server is stopping"), Close::AfterWriting, QStringLiteral("server-stopping"));
}

void ClientSession::idleTimedOut()
{
    if (!m_channel) { // a TLS server's client that never spoke
        dropUnread(QStringLiteral("silent for %1 s").arg(m_limits.idleTimeout), QStringLiteral("idle-timeout"));
        return;
    }
    if (m_closing) { // its last answer never went out
        closeChannel(Close::AtOnce);
        finish(m_end);
        return;
    }
    drop(QStringLiteral("idle for %1 s").arg(m_limits.idleTimeout), Close::AtOnce, QStringLiteral("idle-timeout"));
}

void ClientSession::handshakeTimedOut()
{
    const QString reason = QStringLiteral("handshake-timeout: handshake not over in %1 s").arg(m_limits.handshakeTimeout);
    if (!m_channel)
        dropUnread(reason, QStringLiteral("handshake-timeout"));
    else
        drop(reason, Close::AtOnce, QStringLiteral("handshake-timeout"));
}

void ClientSession::evict()
{
    if (m_handshakeOver || m_finished || m_closing || !m_handshake)
        return;
    const QString reason = QStringLiteral("handshake-evicted: a newer client came while the handshake cap was full");
    if (!m_channel)
        dropUnread(reason, QStringLiteral("handshake-evicted"));
    else
        drop(reason, Close::AtOnce, QStringLiteral("handshake-evicted"));
}

void ClientSession::dropUnread(const QString &reason, const QString &end)
{
    m_firstByte->setEnabled(false);
    ::close(int(m_descriptor));
    ServerLog::write(AuditLog::droppedLine(m_peer, 0, reason));
    finish(end);
}

qint64 ClientSession::outgoing() const
{
    return m_channel->bytesToWrite();
}

bool ClientSession::clientGone() const
{
    pollfd end { m_tlsSocket ? m_tlsSocket->descriptor() : int(m_socket->socketDescriptor()), POLLRDHUP, 0 };
    return ::poll(&end, 1, 0) > 0 && (end.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void ClientSession::drop(const QString &reason, Close close, const QString &end)
{
    m_closing = true;
    m_handshake->stop(); // the idle time-out ends a close that does not complete
    m_end = end;
    ServerLog::write(AuditLog::droppedLine(m_peer, m_answered, reason));
    closeChannel(close);
    if (channelClosed())
        finish(m_end);
}

void ClientSession::closeChannel(Close close)
{
    if (m_tlsSocket) {
        if (close == Close::AtOnce)
            m_tlsSocket->close();
        else
            m_tlsSocket->closeAfterWriting(); // the idle time-out ends a close that does not complete
    } else if (close == Close::AtOnce) {
        m_socket->abort();
    } else {
        m_socket->disconnectFromHost(); // the idle time-out ends a close that does not complete
    }
}

bool ClientSession::channelClosed() const
{
    if (m_tlsSocket)
        return m_tlsSocket->stage() == protocol::TlsSocket::Stage::Closed;
    return m_socket->state() == QAbstractSocket::UnconnectedState;
}
