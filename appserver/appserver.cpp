#include "appserver.h"

#include "clientsession.h"
#include "descriptors.h"

#include <frame.h>
#include <message.h>

#include <QSemaphore>
#include <QTcpSocket>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <memory>
#include <sys/socket.h>
#include <unistd.h>

AppServer::AppServer(QString databaseAddress, ScriptDialect dialect, ServerLimits limits, QObject *parent)
    : QTcpServer(parent)
    , m_databaseAddress(std::move(databaseAddress))
    , m_dialect(dialect)
    , m_limits(limits)
{
    connect(this, &QTcpServer::acceptError, this, &AppServer::acceptFailed);
}

void AppServer::incomingConnection(qintptr descriptor)
{
    if (m_sessions >= m_limits.maxClients) {
        refuse(descriptor, QStringLiteral("Servidor de aplicação ocupado: limite de %1 conexões atingido. "
                                          "Tente novamente mais tarde.").arg(m_limits.maxClients));
    } else if (!descriptorsToSpare(kSessionDescriptors)) {
        // A thread that cannot get its wakeup descriptor would end the whole process.
        refuse(descriptor, QStringLiteral("Servidor de aplicação ocupado: sem descritores de arquivo livres "
                                          "para uma nova conexão. Tente novamente mais tarde."));
    } else if (!startSession(descriptor)) {
        refuse(descriptor, QStringLiteral("Servidor de aplicação ocupado: não foi possível iniciar o atendimento "
                                          "da conexão. Tente novamente mais tarde."));
    }
}

bool AppServer::startSession(qintptr descriptor)
{
    auto *thread = new QThread(this);
    auto *session = new ClientSession(descriptor, m_databaseAddress, m_dialect, m_limits);
    session->moveToThread(thread);
    // Accepting waits until the session holds its own descriptors (its thread's wakeup,
    // its socket, its database), so that no other connection takes the ones counted on.
    const auto running = std::make_shared<QSemaphore>();
    connect(thread, &QThread::started, session, &ClientSession::start, Qt::DirectConnection);
    connect(thread, &QThread::started, thread, [running] { running->release(); }, Qt::DirectConnection);
    connect(session, &ClientSession::finished, session, &QObject::deleteLater);
    connect(session, &QObject::destroyed, thread, &QThread::quit);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this] { --m_sessions; });
    thread->start();
    if (!thread->isRunning()) {
        delete session;
        delete thread;
        return false;
    }
    ++m_sessions;
    running->tryAcquire(1, kSessionStartMs);
    return true;
}

void AppServer::refuse(qintptr descriptor, const QString &message)
{
    QTextStream(stderr) << "connection refused: " << message << Qt::endl;
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    socket->write(protocol::frameOf(protocol::encodeExceptionResponse(QStringLiteral("EServerBusy"), message)));
    // Once the answer is out, only the sending side is closed: a client that calls at
    // once still reads the answer instead of losing it to a reset; what it sends is
    // dropped, and the socket goes when the client closes or the linger time is up.
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
        if (socket->bytesToWrite() == 0)
            ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
    });
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kRefusalLingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void AppServer::acceptFailed(QAbstractSocket::SocketError)
{
    // QTcpServer stops accepting after such a failure (out of descriptors, most often):
    // the connections wait in the backlog until it tries again.
    QTextStream(stderr) << "accepting paused: " << errorString() << "; trying again in " << kAcceptRetryMs
                        << " ms" << Qt::endl;
    QTimer::singleShot(kAcceptRetryMs, this, &QTcpServer::resumeAccepting);
}
