#pragma once

#include "scriptline.h"

#include <QTcpServer>

// Accepts clients and serves each in a thread of its own, so that one long
// generation does not hold up another client.
class AppServer : public QTcpServer
{
    Q_OBJECT

public:
    // `databaseAddress`: a SQLite file or a postgresql:// URI.
    AppServer(QString databaseAddress, ScriptDialect dialect, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QString m_databaseAddress;
    ScriptDialect m_dialect;
};
