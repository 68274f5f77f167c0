#pragma once

// A loopback TCP proxy in front of a server that loses the connection in the middle
// of an answer: once one connection has passed `cutAfter` bytes of the server's
// answers to its client, it runs `onCut` (where a test kills the server), passes
// nothing more and closes the client's side after the bytes already passed.
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <memory>

class CuttingProxy : public QObject
{
public:
    CuttingProxy(quint16 port, qint64 cutAfter, std::function<void()> onCut)
        : m_targetPort(port)
        , m_cutAfter(cutAfter)
        , m_onCut(std::move(onCut))
    {
        connect(&m_listener, &QTcpServer::newConnection, this, &CuttingProxy::accept);
        m_listener.listen(QHostAddress::LocalHost, 0);
    }

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_listener.serverPort()); }
    bool cut() const { return m_cut; }

private:
    void accept()
    {
        while (QTcpSocket *client = m_listener.nextPendingConnection()) {
            client->setParent(this);
            auto *server = new QTcpSocket(this);
            auto passed = std::make_shared<qint64>(0);
            const QPointer<QTcpSocket> clientSide(client);
            const auto passRequest = [client, server] {
                if (server->state() == QAbstractSocket::ConnectedState)
                    server->write(client->readAll());
            };
            connect(client, &QTcpSocket::readyRead, this, passRequest);
            connect(server, &QTcpSocket::connected, this, passRequest);
            connect(server, &QTcpSocket::readyRead, this, [this, clientSide, server, passed] {
                const QByteArray answer = server->readAll();
                if (m_cut || !clientSide)
                    return;
                clientSide->write(answer);
                *passed += answer.size();
                if (*passed < m_cutAfter)
                    return;
                m_cut = true;
                m_onCut();
                clientSide->disconnectFromHost();
            });
            connect(client, &QTcpSocket::disconnected, server, &QTcpSocket::disconnectFromHost);
            connect(server, &QTcpSocket::disconnected, this, [clientSide] {
                if (clientSide)
                    clientSide->disconnectFromHost();
            });
            server->connectToHost(QHostAddress::LocalHost, m_targetPort);
        }
    }

    QTcpServer m_listener;
    quint16 m_targetPort;
    qint64 m_cutAfter;
    std::function<void()> m_onCut;
    bool m_cut = false;
};
