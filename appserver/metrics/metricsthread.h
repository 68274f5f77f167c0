#pragma once

#include "appserver/network/listenaddress.h"

#include <QObject>
#include <QThread>

class MetricsServer;

// The metrics address served from a thread of its own, so that its answers (a load
// balancer's health check among them) never wait behind the main thread accepting a
// crowd of clients.
class MetricsThread : public QObject
{
    Q_OBJECT

public:
    MetricsThread();
    ~MetricsThread() override;

    // Serves the database's metrics and health on `address`; throws std::runtime_error
    // saying why it cannot listen.
    void start(const QString &databaseAddress, const ListenAddress &address);
    QString shownAddress() const { return m_shown; }

public slots:
    // From now on /healthz answers "draining".
    void drainStarted();

private:
    QThread m_thread;
    QObject *m_home = nullptr; // lives in m_thread: what runs there is queued to it
    MetricsServer *m_server = nullptr;
    QString m_shown;
};
