#pragma once

#include "appserver/network/servertls.h"
#include "appserver/service/processsignals.h"

#include <QObject>
#include <QTimer>

class AppServer;

// What the operator's signals do to a running server: SIGTERM and SIGINT drain it
// (no new session, the answers under way finish) and end the process with status 0
// once none is left or after the drain time-out, a second one at once; SIGHUP
// reloads the TLS files for the sessions to come, keeping those in use when the new
// ones cannot be used. systemd is told each step.
class ServerControl : public QObject
{
public:
    ServerControl(AppServer &server, int drainSeconds, ServerTlsFiles tlsFiles);

private:
    void stop();
    void reload();

    AppServer &m_server;
    int m_drainSeconds;
    ServerTlsFiles m_tlsFiles;
    ProcessSignals m_signals;
    QTimer m_drainDeadline;
};
