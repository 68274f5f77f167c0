#pragma once

// A relay between the host and the server, on its own thread: the host's bytes go
// through at once; the server's go through at once too until the relay is made
// slow, then a slice (one byte unless told) every kSlowPaceMs, until it is made fast again.
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>

class SlowRelay
{
public:
    static constexpr int kSlowPaceMs = 20;

    explicit SlowRelay(quint16 serverPort)
        : m_serverPort(serverPort)
    {
        m_listener.moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(&m_listener, [this] {
            m_listener.listen(QHostAddress::LocalHost, 0);
            QObject::connect(&m_listener, &QTcpServer::newConnection, &m_listener, [this] { accept(); });
        }, Qt::BlockingQueuedConnection);
    }
    ~SlowRelay()
    {
        QMetaObject::invokeMethod(&m_listener, [this] { m_listener.close(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_listener.serverPort()); }
    void setSlow(bool slow, qsizetype bytesAtATime = 1)
    {
        m_sliceBytes = bytesAtATime;
        m_slow = slow;
    }

private:
    void accept()
    {
        while (QTcpSocket *client = m_listener.nextPendingConnection()) {
            auto *server = new QTcpSocket(client);
            server->connectToHost(QHostAddress::LocalHost, m_serverPort);
            auto *held = new QByteArray;
            auto *pace = new QTimer(client);
            QObject::connect(client, &QObject::destroyed, [held] { delete held; });
            QObject::connect(client, &QTcpSocket::readyRead, server, [client, server] { server->write(client->readAll()); });
            QObject::connect(server, &QTcpSocket::readyRead, client, [this, server, held, pace] {
                *held += server->readAll();
                if (!pace->isActive())
                    pace->start(0);
            });
            QObject::connect(pace, &QTimer::timeout, client, [this, client, held, pace] {
                if (held->isEmpty()) {
                    pace->stop();
                    return;
                }
                const qsizetype count = m_slow ? std::min(qsizetype(m_sliceBytes), held->size()) : held->size();
                client->write(held->left(count));
                held->remove(0, count);
                pace->setInterval(m_slow ? kSlowPaceMs : 0);
            });
            QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(server, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
        }
    }

    quint16 m_serverPort;
    std::atomic<bool> m_slow = false;
    std::atomic<qsizetype> m_sliceBytes = 1;
    QThread m_thread;
    QTcpServer m_listener;
};
