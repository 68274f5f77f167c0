#pragma once

#include "appserver/network/descriptors.h"
#include "appserver/network/serverlimits.h"
#include "appserver/remoteobject/scriptline.h"

#include <QHash>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTimer>
#include <optional>

// Accepts clients and serves each in a thread of its own, so that one long
// generation does not hold up another client. Over the client cap or the cap of one
// address, or short of descriptors or threads, a connection is answered "busy" and
// closed (over TLS on a TLS server). When accepting itself fails for want of descriptors, the server stops
// accepting until a session ends (or a moment has passed), answering the waiting
// connections busy through a reserved descriptor; such an episode is logged once.
// Stopping, it drains: no new session, the answers under way finish.
class AppServer : public QTcpServer
{
    Q_OBJECT

public:
    // A new session needs this many descriptors free (its thread's wakeup, its database
    // file, SQLite's temporary files) with room to spare for the server itself.
    static constexpr int kSessionDescriptors = 8;
    // After accepting failed, the server tries again when a session ends, or this much later.
    static constexpr int kAcceptRetryMs = 500;
    // Waiting connections answered busy at once while the process has no descriptor left.
    static constexpr int kMostAnsweredAtOnce = 64;
    // How long the server waits for a new session's thread to take over.
    static constexpr int kSessionStartMs = 5000;
    // A refused connection is closed when its client closes, or this much later.
    static constexpr int kRefusalLingerMs = 5000;
    // How long a stopping server lets the answers under way finish, by default and at most.
    static constexpr int kDefaultDrainTimeout = 30; // seconds
    static constexpr int kMostDrainTimeout = 3600;

    // `databaseAddress`: a SQLite file or a postgresql:// URI; `tls`: the sessions'
    // handshake, none for plaintext.
    AppServer(QString databaseAddress, ScriptDialect dialect, ServerLimits limits,
              std::optional<QSslConfiguration> tls = std::nullopt, QObject *parent = nullptr);

    // The handshake of the sessions that start from now on; open ones keep theirs.
    void setTls(const QSslConfiguration &tls);
    bool servesTls() const { return m_tls.has_value(); }

    // Stops listening and lets every session end once the answer it is sending, if
    // any, has gone out; drained() follows when the last one has ended.
    void drain();
    int sessions() const { return m_sessions; }

signals:
    void drained();
    void drainRequested(); // to every session

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    bool startSession(qintptr descriptor, const QString &peer);
    // Within an episode without descriptors, refusals are not logged one by one.
    enum class Logged { Yes, No };
    void refuse(qintptr descriptor, const QString &peer, const QString &message, Logged logged = Logged::Yes);
    void acceptFailed(QAbstractSocket::SocketError error);
    void resumeAfterStarving();
    // The start and the end of an episode without descriptors to spare, logged once each.
    void startStarving(const QString &reason);
    void stopStarving();

    QString m_databaseAddress;
    ScriptDialect m_dialect;
    ServerLimits m_limits;
    std::optional<QSslConfiguration> m_tls;
    int m_sessions = 0;
    QHash<QString, int> m_sessionsOfAddress;
    DescriptorReserve m_reserve;
    QTimer m_acceptRetry;
    bool m_acceptPaused = false;
    bool m_starving = false;
    bool m_draining = false;
    qint64 m_refusedWhileStarving = 0;
};
