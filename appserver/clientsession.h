#pragma once

#include "scriptline.h"

#include <frame.h>

#include <QObject>
#include <QString>
#include <memory>

class QTcpSocket;
class RdmGeraArquivo;
class TranslationDb;

// One client's connection, served in its own thread with its own database
// connection: requests answered in order.
class ClientSession : public QObject
{
    Q_OBJECT

public:
    // Requests are small: a frame over this is refused and the connection closed.
    static constexpr qint64 kRequestLimit = 16 * 1024 * 1024;

    ClientSession(qintptr descriptor, QString databaseAddress, ScriptDialect dialect);
    ~ClientSession() override;

public slots:
    void start();

signals:
    void finished();

private:
    void readRequests();
    void drop(const QString &reason);

    qintptr m_descriptor;
    QString m_databaseAddress;
    ScriptDialect m_dialect;
    QTcpSocket *m_socket = nullptr;
    std::unique_ptr<TranslationDb> m_database;
    std::unique_ptr<RdmGeraArquivo> m_object;
    protocol::FrameReader m_frames { kRequestLimit };
};
