#pragma once

#include "scriptline.h"
#include "serverlimits.h"

#include <frame.h>
#include <message.h>

#include <QObject>
#include <QString>
#include <memory>

class AnswerStream;
class QTcpSocket;
class QTimer;
class RdmGeraArquivo;
class TranslationDb;

// One client's connection, served in its own thread with its own database
// connection: requests answered in order, the next one read only once the previous
// answer has gone out to the socket, so a client that does not read its answers
// stops being read from. An answer is produced only as fast as the client takes
// it, and dropped with its query when the client goes.
class ClientSession : public QObject
{
    Q_OBJECT

public:
    // Requests are small: a frame over this is refused and the connection closed.
    static constexpr qint64 kRequestLimit = 16 * 1024 * 1024;
    // Bytes taken from the socket at a time, and the most the socket buffers unread.
    static constexpr qint64 kReadChunk = 64 * 1024;
    // Bytes of an answer waiting on the socket before the session stops producing more.
    static constexpr qint64 kOutgoingLimit = 4 * 1024 * 1024;

    ClientSession(qintptr descriptor, QString databaseAddress, ScriptDialect dialect, ServerLimits limits);
    ~ClientSession() override;

public slots:
    void start();

signals:
    void finished();

private:
    enum class Close { AfterWriting, AtOnce };

    void readRequests();
    // Starts the answer to one request; false when the connection is being closed.
    bool answer(const QByteArray &payload);
    // Sends what the client can take of the current answer; false when the
    // connection is being closed.
    bool sendAnswer();
    void sendException(const QString &exceptionClass, const QString &message);
    void answerWritten();
    void idleTimedOut();
    // Whether the client has closed its end: asked while a long answer is built.
    bool clientGone() const;
    void drop(const QString &reason, Close close);

    qintptr m_descriptor;
    QString m_databaseAddress;
    ScriptDialect m_dialect;
    ServerLimits m_limits;
    QTcpSocket *m_socket = nullptr;
    QTimer *m_idle = nullptr;
    qint64 m_answered = 0;
    bool m_closing = false;
    std::unique_ptr<TranslationDb> m_database;
    std::unique_ptr<RdmGeraArquivo> m_object;
    std::unique_ptr<AnswerStream> m_answer; // holds the object's query: destroyed first
    protocol::Request m_request; // the one m_answer answers
    protocol::FrameReader m_frames { kRequestLimit };
};
