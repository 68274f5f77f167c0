#include "appserver/service/servercontrol.h"

#include "appserver/log/serverlog.h"
#include "appserver/network/appserver.h"
#include "appserver/service/systemdnotify.h"

#include <QCoreApplication>

#include <chrono>
#include <unistd.h>

ServerControl::ServerControl(AppServer &server, int drainSeconds, ServerTlsFiles tlsFiles)
    : m_server(server)
    , m_drainSeconds(drainSeconds)
    , m_tlsFiles(std::move(tlsFiles))
{
    m_drainDeadline.setSingleShot(true);
    connect(&m_signals, &ProcessSignals::stopRequested, this, &ServerControl::stop);
    connect(&m_signals, &ProcessSignals::reloadRequested, this, &ServerControl::reload);
    connect(&m_server, &AppServer::drained, this, [] {
        ServerLog::Line() << "stopped: every answer under way finished";
        QCoreApplication::exit(0);
    });
    // Past the deadline the sessions' threads are still running: the process ends
    // without waiting for them.
    connect(&m_drainDeadline, &QTimer::timeout, this, [this] {
        ServerLog::Line() << "stopped after " << m_drainSeconds << " s: " << m_server.sessions() << " sessions cut";
        ::_exit(0);
    });
}

void ServerControl::stop()
{
    if (m_drainDeadline.isActive()) { // asked twice: at once
        ServerLog::Line() << "stopped at once: " << m_server.sessions() << " sessions cut";
        ::_exit(0);
    }
    ServerLog::Line() << "stopping: no new sessions; waiting up to " << m_drainSeconds << " s for the answers of "
                      << m_server.sessions() << " sessions";
    SystemdNotify::stopping(QStringLiteral("draining"));
    m_drainDeadline.start(std::chrono::seconds(m_drainSeconds));
    m_server.drain();
}

void ServerControl::reload()
{
    if (!m_server.servesTls()) {
        ServerLog::Line() << "SIGHUP: nothing to reload without TLS";
        return;
    }
    SystemdNotify::reloading();
    try {
        const std::optional<ServerTls> renewed = loadServerTls(m_tlsFiles);
        m_server.setTls(*renewed);
        ServerLog::Line() << "TLS files reloaded: new sessions get the certificate of "
                          << renewed->configuration.localCertificate().subjectDisplayName() << ", valid until "
                          << renewed->configuration.localCertificate().expiryDate().toString(Qt::ISODate) << "; open sessions keep theirs";
    } catch (const std::invalid_argument &unusable) {
        ServerLog::Line() << "TLS reload refused, the files in use stay: " << unusable.what();
    }
    SystemdNotify::ready();
}
