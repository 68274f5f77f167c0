#include "appserver/metrics/metricsthread.h"

#include "appserver/metrics/metricsserver.h"

#include <stdexcept>

MetricsThread::MetricsThread()
{
    m_thread.setObjectName(QStringLiteral("metrics"));
    m_home = new QObject;
    m_home->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_home, &QObject::deleteLater);
    m_thread.start();
}

MetricsThread::~MetricsThread()
{
    m_thread.quit();
    m_thread.wait();
}

void MetricsThread::start(const QString &databaseAddress, const ListenAddress &address)
{
    QString failure;
    QMetaObject::invokeMethod(m_home, [&] {
        // A child of the thread's home object: deleted with it, in the thread.
        auto *server = new MetricsServer(databaseAddress, m_home);
        try {
            server->listenOn(address);
            m_server = server;
            m_shown = server->shownAddress();
        } catch (const std::runtime_error &unserved) {
            delete server;
            failure = QString::fromUtf8(unserved.what());
        }
    }, Qt::BlockingQueuedConnection);
    if (!failure.isEmpty())
        throw std::runtime_error(failure.toStdString());
}

void MetricsThread::drainStarted()
{
    if (m_server)
        QMetaObject::invokeMethod(m_server, &MetricsServer::drainStarted, Qt::QueuedConnection);
}
