#include "appserver/metrics/metricsserver.h"

#include "appserver/metrics/metricsconnection.h"
#include "appserver/metrics/metricstext.h"
#include "appserver/metrics/servermetrics.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <stdexcept>

ListenAddress MetricsServer::parseAddress(const QString &text)
{
    // The port is never implied: the clients' default port is no place for the metrics.
    static const QRegularExpression withPort(QStringLiteral(":[0-9]+$"));
    if (!text.contains(withPort))
        throw std::invalid_argument(
            QStringLiteral("--metrics \"%1\": give HOST:PORT, as in 127.0.0.1:9102").arg(text).toStdString());
    return ListenAddress::parse(text, QStringLiteral("--metrics"));
}

MetricsServer::MetricsServer(QString databaseAddress, QObject *parent)
    : QTcpServer(parent)
    , m_health(std::move(databaseAddress))
{
    connect(this, &QTcpServer::newConnection, this, &MetricsServer::accept);
}

void MetricsServer::listenOn(const ListenAddress &address)
{
    for (const QHostAddress &host : address.addresses()) {
        if (listen(host == QHostAddress::AnyIPv6 ? QHostAddress(QHostAddress::Any) : host, address.port))
            return;
    }
    throw std::runtime_error(
        QStringLiteral("cannot serve the metrics on %1: %2").arg(address.text, errorString()).toStdString());
}

QString MetricsServer::shownAddress() const
{
    const QHostAddress bound = serverAddress();
    const QString host = bound.protocol() == QAbstractSocket::AnyIPProtocol ? QStringLiteral("[::]")
        : bound.protocol() == QAbstractSocket::IPv6Protocol                  ? QStringLiteral("[%1]").arg(bound.toString())
                                                                             : bound.toString();
    return QStringLiteral("%1:%2").arg(host).arg(serverPort());
}

void MetricsServer::drainStarted()
{
    m_draining = true;
}

void MetricsServer::accept()
{
    while (QTcpSocket *socket = nextPendingConnection()) {
        if (m_connections >= kMostConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        auto *connection = new MetricsConnection(socket, this);
        connect(connection, &QObject::destroyed, this, [this] { --m_connections; });
        connect(connection, &MetricsConnection::requested, this,
                [this, connection](const QByteArray &path) { serve(connection, path); });
    }
}

void MetricsServer::serve(MetricsConnection *connection, const QByteArray &path)
{
    if (path == "/metrics") {
        connection->answer(200, MetricsText::kContentType, MetricsText::render(ServerMetrics::snapshot()));
    } else if (path == "/healthz" && m_draining) {
        connection->answer(503, "text/plain; charset=utf-8", "draining\n");
    } else if (path == "/healthz") {
        m_health.check([connection = QPointer(connection)](const DatabaseHealth::Status &status) {
            if (!connection)
                return;
            if (status.answers)
                connection->answer(200, "text/plain; charset=utf-8", "ok\n");
            else
                connection->answer(503, "text/plain; charset=utf-8", status.reason.toUtf8() + '\n');
        });
    } else {
        connection->answer(404, "text/plain; charset=utf-8", "served here: /metrics and /healthz\n");
    }
}
