#pragma once

#include "appserver/metrics/databasehealth.h"
#include "appserver/network/listenaddress.h"

#include <QTcpServer>

class MetricsConnection;

// The operator's view of the server (--metrics), over HTTP/1.1 in a thread of its own
// (MetricsThread):
// GET /metrics gives the counters in Prometheus' text format, GET /healthz "ok"
// (200) while the database answers, else 503 with the reason, and 503 "draining"
// once the server stops taking sessions. Any other path is 404, any other method
// 405; every connection closes after its answer.
class MetricsServer : public QTcpServer
{
    Q_OBJECT

public:
    // Scrapers served at once; one more is closed unanswered.
    static constexpr int kMostConnections = 16;

    // Reads a --metrics value, HOST:PORT (port 0 picks a free one); throws
    // std::invalid_argument naming it and what is wrong.
    static ListenAddress parseAddress(const QString &text);

    explicit MetricsServer(QString databaseAddress, QObject *parent = nullptr);

    // Listens on the first of the address's hosts that takes it, [::] on IPv6 and IPv4;
    // throws std::runtime_error saying why it cannot.
    void listenOn(const ListenAddress &address);
    // Where it listens, as "metrics on ..." prints it.
    QString shownAddress() const;
    // From now on /healthz answers 503 "draining", whatever the database says: a
    // load balancer sends this server no new session.
    void drainStarted();

private:
    void accept();
    void serve(MetricsConnection *connection, const QByteArray &path);

    DatabaseHealth m_health;
    int m_connections = 0;
    bool m_draining = false;
};
