#pragma once

// A loopback TCP proxy in front of a server that can hold the server's answers back:
// a client's requests pass at once, and while the proxy is held every byte the server
// sends waits in the proxy until release(). A slow network, ended at the test's word
// rather than after some time.
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <vector>

class HoldingProxy : public QObject
{
public:
    // Listens on a free loopback port and forwards every connection to `port` on the loopback.
    explicit HoldingProxy(quint16 port)
        : m_targetPort(port)
    {
        connect(&m_listener, &QTcpServer::newConnection, this, &HoldingProxy::accept);
        m_listener.listen(QHostAddress::LocalHost, 0);
    }

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_listener.serverPort()); }

    void hold() { m_held = true; }
    void release()
    {
        m_held = false;
        for (Link &link : m_links)
            passAnswer(link);
    }
    // Bytes of the server's answers waiting in the proxy, and the clients' request bytes passed on so far.
    qint64 heldBytes() const
    {
        qint64 bytes = 0;
        for (const Link &link : m_links)
            bytes += link.held.size();
        return bytes;
    }
    qint64 requestBytes() const { return m_requestBytes; }

private:
    struct Link
    {
        QPointer<QTcpSocket> client;
        QPointer<QTcpSocket> server;
        QByteArray held;
    };

    void accept()
    {
        while (QTcpSocket *client = m_listener.nextPendingConnection()) {
            auto *server = new QTcpSocket(this);
            client->setParent(this);
            const std::size_t index = m_links.size();
            m_links.push_back({ client, server, {} });
            connect(client, &QTcpSocket::readyRead, this, [this, index] { passRequest(m_links[index]); });
            connect(server, &QTcpSocket::connected, this, [this, index] { passRequest(m_links[index]); });
            connect(server, &QTcpSocket::readyRead, this, [this, index] {
                Link &link = m_links[index];
                link.held += link.server->readAll();
                if (!m_held)
                    passAnswer(link);
            });
            // Either side's end ends the other once what is held has gone.
            connect(client, &QTcpSocket::disconnected, server, &QTcpSocket::disconnectFromHost);
            connect(server, &QTcpSocket::disconnected, this, [this, index] {
                Link &link = m_links[index];
                if (!m_held && link.client)
                    link.client->disconnectFromHost();
            });
            server->connectToHost(QHostAddress::LocalHost, m_targetPort);
        }
    }

    void passRequest(Link &link)
    {
        if (!link.client || !link.server || link.server->state() != QAbstractSocket::ConnectedState)
            return; // passed once the server takes it
        const QByteArray request = link.client->readAll();
        m_requestBytes += request.size();
        link.server->write(request);
    }

    void passAnswer(Link &link)
    {
        if (link.client && !link.held.isEmpty())
            link.client->write(link.held);
        link.held.clear();
        if (link.client && link.server && link.server->state() == QAbstractSocket::UnconnectedState)
            link.client->disconnectFromHost();
    }

    QTcpServer m_listener;
    quint16 m_targetPort;
    std::vector<Link> m_links;
    bool m_held = false;
    qint64 m_requestBytes = 0;
};
