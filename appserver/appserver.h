#pragma once

#include <QTcpServer>

// Accepts clients and serves each in a thread of its own, so that one long
// generation does not hold up another client.
class AppServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit AppServer(QString databaseFile, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QString m_databaseFile;
};
