#pragma once

#include "appserver/network/descriptors.h"
#include "appserver/network/serverlimits.h"
#include "appserver/network/servertls.h"
#include "appserver/remoteobject/scriptline.h"

#include <QHash>
#include <QSet>
#include <QTcpServer>
#include <QTimer>
#include <deque>
#include <optional>

// Accepts clients and serves each in a thread of its own, so that one long
// generation does not hold up another client. Over the client cap, the cap of one
// client network or the cap of sessions still in their handshake, or short of
// descriptors or threads, a connection is answered "busy" and closed (over TLS on a
// TLS server, a bounded number at a time). When accepting itself fails for want of
// descriptors, the server stops accepting until a session ends (or a moment has
// passed), answering the waiting connections busy through a reserved descriptor;
// such an episode is logged once.
// Stopping, it drains: no new session, the answers under way finish.
class AppServer : public QTcpServer
{
    Q_OBJECT

public:
    // A new session needs this many descriptors free (its thread's wakeup, its database
    // file, SQLite's temporary files) with room to spare for the server itself; they
    // stay reserved for it until its handshake is over and its database is open.
    static constexpr int kSessionDescriptors = 8;
    // TLS busy answers in flight at once (each holds its connection through a
    // handshake); past it a connection to refuse is closed without an answer.
    static constexpr int kMostTlsRefusals = 16;
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
              std::optional<ServerTls> tls = std::nullopt, QObject *parent = nullptr);

    // The handshake of the sessions that start from now on; open ones keep theirs.
    void setTls(const ServerTls &tls);
    bool servesTls() const { return m_tls.has_value(); }

    // Stops listening and lets every session end once the answer it is sending, if
    // any, has gone out; drained() follows when the last one has ended.
    void drain();
    int sessions() const { return m_sessions; }

signals:
    void drained();
    void drainRequested(); // to every session
    void evictRequested(quint64 session); // to the sessions in their handshake

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    // A newcomer over the handshake cap takes the place of the session longest in its
    // handshake, which is closed; false when as many are being closed already.
    bool evictOldestHandshake();
    bool startSession(qintptr descriptor, const QString &prefix);
    // Within an episode without descriptors, refusals are not logged one by one.
    enum class Logged { Yes, No };
    // Answers busy and closes; false when the connection was closed unanswered.
    bool refuse(qintptr descriptor, const QString &peer, const QString &message, Logged logged = Logged::Yes);
    // Descriptors kept for the sessions that will open their database when their
    // handshake is over.
    int reservedDescriptors() const;
    void acceptFailed(QAbstractSocket::SocketError error);
    // Accepting paused after it failed resumes when a session or a TLS busy answer
    // ends, or kAcceptRetryMs after it failed.
    void resumeAfterPause();
    // The start and the end of an episode without descriptors to spare, logged once each.
    void startStarving(const QString &reason);
    void stopStarving();

    QString m_databaseAddress;
    ScriptDialect m_dialect;
    ServerLimits m_limits;
    std::optional<ServerTls> m_tls;
    int m_sessions = 0;
    QHash<QString, int> m_sessionsOfPrefix;
    int m_handshakes = 0; // sessions whose handshake is not over
    // The sessions in their handshake, oldest first (ids of ended ones are skipped),
    // and those told to make room for a newcomer that have not ended yet.
    quint64 m_lastSessionId = 0;
    std::deque<quint64> m_handshakeOrder;
    QHash<quint64, QMetaObject::Connection> m_evictable;
    QSet<quint64> m_evicted;
    int m_evictions = 0;
    int m_tlsRefusals = 0; // TLS busy answers in flight
    FreeDescriptors m_free;
    DescriptorReserve m_reserve;
    QTimer m_acceptRetry;
    bool m_acceptPaused = false;
    bool m_starving = false;
    bool m_draining = false;
    qint64 m_refusedWhileStarving = 0; // answered busy
    qint64 m_closedWhileStarving = 0; // closed unanswered
};
