#include "appserver.h"

#include "clientsession.h"

#include <QThread>

AppServer::AppServer(QString databaseAddress, ScriptDialect dialect, QObject *parent)
    : QTcpServer(parent)
    , m_databaseAddress(std::move(databaseAddress))
    , m_dialect(dialect)
{
}

void AppServer::incomingConnection(qintptr descriptor)
{
    auto *thread = new QThread(this);
    auto *session = new ClientSession(descriptor, m_databaseAddress, m_dialect);
    session->moveToThread(thread);
    connect(thread, &QThread::started, session, &ClientSession::start);
    connect(session, &ClientSession::finished, session, &QObject::deleteLater);
    connect(session, &QObject::destroyed, thread, &QThread::quit);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}
