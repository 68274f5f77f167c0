#pragma once

#include "scriptline.h"
#include "serverlimits.h"

#include <QTcpServer>

// Accepts clients and serves each in a thread of its own, so that one long
// generation does not hold up another client. Over the client cap, or short of
// descriptors or threads, a connection is answered "busy" and closed; when accepting
// itself fails for want of descriptors, accepting resumes a moment later.
class AppServer : public QTcpServer
{
    Q_OBJECT

public:
    // A new session needs this many descriptors free (its thread's wakeup, its database
    // file, SQLite's temporary files) with room to spare for the server itself.
    static constexpr int kSessionDescriptors = 8;
    // After accepting failed, the server tries again this much later.
    static constexpr int kAcceptRetryMs = 500;
    // How long the server waits for a new session's thread to take over.
    static constexpr int kSessionStartMs = 5000;
    // A refused connection is closed when its client closes, or this much later.
    static constexpr int kRefusalLingerMs = 5000;

    // `databaseAddress`: a SQLite file or a postgresql:// URI.
    AppServer(QString databaseAddress, ScriptDialect dialect, ServerLimits limits, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    bool startSession(qintptr descriptor);
    void refuse(qintptr descriptor, const QString &message);
    void acceptFailed(QAbstractSocket::SocketError error);

    QString m_databaseAddress;
    ScriptDialect m_dialect;
    ServerLimits m_limits;
    int m_sessions = 0;
};
