#pragma once

// An in-process application server on its own thread, for faults the real one
// does not make: it records every request and answers with a test's handler. A null
// answer is never sent; with a pace set, an answer goes out a slice (one byte unless
// told) at each tick;
// unframed, the handler's answers go out as they are (a bare header, say).
#include "protocol/frame.h"
#include "protocol/message.h"

#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>

class FakeServer
{
public:
    using Handler = std::function<QByteArray(const protocol::Request &)>;
    // Answers with several frames: the parts of an answer, then its response.
    using FramesHandler = std::function<QByteArrayList(const protocol::Request &)>;

    explicit FakeServer(Handler handler)
        : FakeServer(FramesHandler([handler = std::move(handler)](const protocol::Request &request) {
            return QByteArrayList { handler(request) };
        }))
    {
    }
    explicit FakeServer(FramesHandler handler)
        : m_handler(std::move(handler))
    {
        m_server.moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(&m_server, [this] {
            m_server.listen(QHostAddress::LocalHost, 0);
            QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { accept(); });
        }, Qt::BlockingQueuedConnection);
    }
    ~FakeServer()
    {
        QMetaObject::invokeMethod(&m_server, [this] { m_server.close(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    void setPace(std::chrono::milliseconds pace, qsizetype bytesAtATime = 1)
    {
        m_sliceBytes = bytesAtATime;
        m_paceMs = int(pace.count());
    }
    void setUnframed(bool unframed) { m_unframed = unframed; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_server.serverPort()); }
    QList<protocol::Request> requests() const
    {
        QMutexLocker lock(&m_mutex);
        return m_requests;
    }
    int connections() const
    {
        QMutexLocker lock(&m_mutex);
        return m_connections;
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            {
                QMutexLocker lock(&m_mutex);
                ++m_connections;
            }
            auto reader = std::make_shared<protocol::FrameReader>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, reader] {
                reader->append(socket->readAll());
                QByteArray payload;
                while (reader->next(payload)) {
                    const protocol::Request request = protocol::decodeRequest(payload);
                    {
                        QMutexLocker lock(&m_mutex);
                        m_requests.append(request);
                    }
                    reply(socket, m_handler(request));
                }
            });
        }
    }

    void reply(QTcpSocket *socket, const QByteArrayList &answers)
    {
        QByteArray frames;
        for (const QByteArray &answer : answers) {
            if (!answer.isNull())
                frames += m_unframed ? answer : protocol::frameOf(answer);
        }
        if (frames.isEmpty())
            return;
        if (m_paceMs == 0) {
            socket->write(frames);
            return;
        }
        auto rest = std::make_shared<QByteArray>(frames);
        auto *timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, rest, slice = qsizetype(m_sliceBytes)] {
            socket->write(rest->left(slice));
            rest->remove(0, slice);
            if (rest->isEmpty())
                timer->deleteLater();
        });
        timer->start(m_paceMs);
    }

    FramesHandler m_handler;
    std::atomic<int> m_paceMs = 0;
    std::atomic<qsizetype> m_sliceBytes = 1;
    std::atomic<bool> m_unframed = false;
    QThread m_thread;
    QTcpServer m_server;
    mutable QMutex m_mutex;
    QList<protocol::Request> m_requests;
    int m_connections = 0;
};
