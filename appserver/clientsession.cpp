#include "clientsession.h"

#include "answerstream.h"
#include "rdmgeraarquivo.h"
#include "translationdb.h"

#include <protocolerror.h>

#include <QTcpSocket>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <poll.h>
#include <unistd.h>

ClientSession::ClientSession(qintptr descriptor, QString databaseAddress, ScriptDialect dialect, ServerLimits limits)
    : m_descriptor(descriptor)
    , m_databaseAddress(std::move(databaseAddress))
    , m_dialect(dialect)
    , m_limits(limits)
{
}

ClientSession::~ClientSession() = default;

void ClientSession::start()
{
    m_socket = new QTcpSocket(this);
    if (!m_socket->setSocketDescriptor(m_descriptor)) {
        QTextStream(stderr) << "client dropped: " << m_socket->errorString() << Qt::endl;
        ::close(int(m_descriptor));
        emit finished();
        return;
    }
    // Unread bytes stay in the kernel, where they hold the client back.
    m_socket->setReadBufferSize(kReadChunk);
    m_idle = new QTimer(this);
    m_idle->setSingleShot(true);
    m_idle->setInterval(std::chrono::seconds(m_limits.idleTimeout));
    connect(m_idle, &QTimer::timeout, this, &ClientSession::idleTimedOut);
    m_idle->start();
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_answer && !m_closing) {
            QTextStream(stderr) << "client dropped after " << m_answered << " answers: gone while " << m_request.method
                                << " was answered" << Qt::endl;
        }
        m_answer.reset(); // ends its query at once
        emit finished();
    });
    connect(m_socket, &QTcpSocket::bytesWritten, this, &ClientSession::answerWritten);
    try {
        const QString connection = QStringLiteral("session-%1").arg(quintptr(QThread::currentThreadId()));
        m_database = std::make_unique<TranslationDb>(m_databaseAddress, connection);
        m_object = std::make_unique<RdmGeraArquivo>(m_database->database(), m_database->backend(), m_dialect,
                                                    [this] { return clientGone(); });
    } catch (const std::exception &failure) {
        sendException(QStringLiteral("EDatabaseError"), QString::fromUtf8(failure.what()));
        drop(QString::fromUtf8(failure.what()), Close::AfterWriting);
        return;
    }
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientSession::readRequests);
    readRequests();
}

void ClientSession::readRequests()
{
    QByteArray payload;
    try {
        // Nothing more is read while an answer is still going out.
        while (!m_closing && !m_answer && m_socket->bytesToWrite() == 0) {
            if (m_frames.next(payload)) {
                m_idle->start();
                if (!answer(payload))
                    return;
            } else if (m_socket->bytesAvailable() > 0) {
                m_frames.append(m_socket->read(kReadChunk));
            } else {
                return;
            }
        }
    } catch (const protocol::ProtocolError &oversized) {
        drop(QString::fromUtf8(oversized.what()), Close::AtOnce);
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
        drop(QString::fromUtf8(failure.what()), Close::AfterWriting);
        return false;
    }
    m_request = request;
    m_answer = m_object->answer(request);
    return sendAnswer();
}

bool ClientSession::sendAnswer()
{
    while (m_answer && m_socket->bytesToWrite() < kOutgoingLimit) {
        QByteArray payload;
        bool more = false;
        try {
            more = m_answer->next(payload);
        } catch (const RdmGeraArquivo::Abandoned &) {
            m_answer.reset();
            drop(QStringLiteral("gone while %1 was answered").arg(m_request.method), Close::AtOnce);
            return false;
        }
        if (!more) {
            m_answer.reset();
            ++m_answered;
            break;
        }
        try {
            m_socket->write(protocol::frameHeader(payload.size(), m_limits.maxAnswer));
        } catch (const protocol::FrameTooLarge &tooLarge) {
            // The rest of the answer is dropped: the client discards what it got.
            m_answer.reset();
            ++m_answered;
            payload = RdmGeraArquivo::failureAnswer(
                m_request, QStringLiteral("A resposta de %1 bytes excede o limite de %2 bytes de uma mensagem.")
                               .arg(tooLarge.size())
                               .arg(tooLarge.limit()));
            m_socket->write(protocol::frameHeader(payload.size()));
        }
        m_socket->write(payload);
    }
    return true;
}

void ClientSession::sendException(const QString &exceptionClass, const QString &message)
{
    m_socket->write(protocol::frameOf(protocol::encodeExceptionResponse(exceptionClass, message)));
}

void ClientSession::answerWritten()
{
    m_idle->start();
    if (m_answer && !sendAnswer())
        return;
    if (!m_answer && m_socket->bytesToWrite() == 0)
        readRequests();
}

void ClientSession::idleTimedOut()
{
    if (m_closing) { // its last answer never went out
        m_socket->abort();
        emit finished();
        return;
    }
    drop(QStringLiteral("idle for %1 s").arg(m_limits.idleTimeout), Close::AtOnce);
}

bool ClientSession::clientGone() const
{
    pollfd end { int(m_socket->socketDescriptor()), POLLRDHUP, 0 };
    return ::poll(&end, 1, 0) > 0 && (end.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void ClientSession::drop(const QString &reason, Close close)
{
    m_closing = true;
    QTextStream(stderr) << "client dropped after " << m_answered << " answers: " << reason << Qt::endl;
    if (close == Close::AtOnce)
        m_socket->abort();
    else
        m_socket->disconnectFromHost(); // the idle time-out ends a close that does not complete
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        emit finished();
}
