#include "appserver.h"

#include "clientsession.h"

#include <QThread>

AppServer::AppServer(QString databaseFile, QObject *parent)
    : QTcpServer(parent)
    , m_databaseFile(std::move(databaseFile))
{
}

void AppServer::incomingConnection(qintptr descriptor)
{
    auto *thread = new QThread(this);
    auto *session = new ClientSession(descriptor, m_databaseFile);
    session->moveToThread(thread);
    connect(thread, &QThread::started, session, &ClientSession::start);
    connect(session, &ClientSession::finished, session, &QObject::deleteLater);
    connect(session, &QObject::destroyed, thread, &QThread::quit);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}
