#pragma once

#include "appserver/log/auditlog.h"
#include "appserver/metrics/handshakegauge.h"
#include "appserver/network/serverlimits.h"
#include "appserver/remoteobject/scriptline.h"

#include "protocol/frame.h"
#include "protocol/message.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>

class AnswerStream;
class QIODevice;
class QSocketNotifier;
class QTcpSocket;
class QTimer;
class RdmGeraArquivo;
class TranslationDb;
namespace protocol {
class TlsSocket;
}
struct ssl_ctx_st;

// One client's connection, served in its own thread with its own database
// connection: requests answered in order, the next one read only once the previous
// answer has gone out to the socket, so a client that does not read its answers
// stops being read from. An answer is produced only as fast as the client takes
// it, and dropped with its query when the client goes. Every call and the end of
// the connection leave a line in the audit trail. With TLS, a client whose first
// byte is no TLS handshake is told so in plaintext, and one whose certificate is
// refused is told why over TLS; either connection then ends. The handshake is over
// once TLS is established, or in plaintext once the first request has arrived
// whole; a TLS session opens its database only then, holding until then only its
// socket and its thread, a plaintext one at once.
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

    // `tls`: OpenSSL's context for the handshake; none for a plaintext server.
    ClientSession(qintptr descriptor, QString databaseAddress, ScriptDialect dialect, ServerLimits limits,
                  std::shared_ptr<ssl_ctx_st> tls);
    ~ClientSession() override;

public slots:
    void start();
    // Reads no further request: the connection ends once the answer under way, if
    // any, has gone out.
    void drain();
    // Closed to make room for a newer client while the handshake cap is full; nothing
    // once the handshake is over.
    void evict();

signals:
    // The handshake is over and the database open (or found unusable): the server
    // counts the session among those in their handshake no more.
    void handshakeOver();
    void finished();

private:
    enum class Close { AfterWriting, AtOnce };

    void firstByteArrived();
    // Gives the descriptor to `socket`; false when the connection is already over.
    bool adopt(QTcpSocket *socket);
    // Gives the descriptor to a TLS socket of its own, the server's side of the handshake.
    void startTls();
    void tlsStageChanged();
    // TLS is established: the client's certificate is taken or refused.
    void encrypted();
    void handshakeFailed(const QString &reason);
    // The client's end, or the session's own close, is over.
    void channelEnded();
    void closeChannel(Close close);
    bool channelClosed() const;
    void serve();
    // Opens the database; false when it cannot be, the client told so.
    bool openDatabase();
    // Tells the server, once, that the session is past its handshake.
    void endHandshake();
    void readRequests();
    // The answer's frames are counted against --max-answer: an answer that would pass
    // it is produced to the end without being sent, so that the failure sent instead
    // names its size.
    void refuseOversizedAnswer(qint64 sent, qint64 frameBytes, qint64 frameLimit);
    // Logs the call whose answer ended so.
    void endCall(const QString &outcome);
    // Logs the end of the connection (once) and lets the server delete the session.
    void finish(const QString &how);
    // Starts the answer to one request; false when the connection is being closed.
    bool answer(const QByteArray &payload);
    // Sends what the client can take of the current answer; false when the
    // connection is being closed.
    bool sendAnswer();
    void sendException(const QString &exceptionClass, const QString &message);
    void answerWritten();
    void idleTimedOut();
    void handshakeTimedOut();
    // Closes a TLS server's connection whose first byte has not come.
    void dropUnread(const QString &reason, const QString &end);
    // Bytes of answers not yet handed to the kernel.
    qint64 outgoing() const;
    // Whether the client has closed its end: asked while a long answer is built.
    bool clientGone() const;
    // Closes the connection for `reason`; `end` is how the audit trail names it.
    void drop(const QString &reason, Close close, const QString &end);

    qintptr m_descriptor;
    QString m_databaseAddress;
    ScriptDialect m_dialect;
    ServerLimits m_limits;
    std::shared_ptr<ssl_ctx_st> m_tls;
    QString m_clientRefusal; // why the client's certificate is not taken, for the client
    QSocketNotifier *m_firstByte = nullptr; // until a TLS server knows how its client speaks
    QTcpSocket *m_socket = nullptr; // a plaintext connection's
    protocol::TlsSocket *m_tlsSocket = nullptr;
    QIODevice *m_channel = nullptr; // either; none until a TLS server's client has spoken
    QTimer *m_idle = nullptr;
    QTimer *m_handshake = nullptr;
    qint64 m_answered = 0;
    bool m_handshakeOver = false;
    bool m_closing = false;
    bool m_sending = false; // in sendAnswer()
    bool m_finished = false;
    bool m_draining = false;
    bool m_encrypted = false; // its TLS handshake has completed
    QString m_end; // how the connection ended, once it is being closed
    AuditLog::Peer m_peer; // its subject is the client certificate's, where TLS gives one
    AuditLog::Call m_call; // the call being answered
    QElapsedTimer m_callTime;
    QElapsedTimer m_sessionTime;
    HandshakeGauge m_handshakeGauge; // until the handshake is over, or the session ends
    qint64 m_calls = 0;     // logged, the one cut short by a client that went included
    qint64 m_bytesSent = 0; // by those calls

    std::unique_ptr<TranslationDb> m_database;
    std::unique_ptr<RdmGeraArquivo> m_object;
    std::unique_ptr<AnswerStream> m_answer; // holds the object's query: destroyed first
    protocol::Request m_request; // the one m_answer answers
    protocol::FrameReader m_frames { kRequestLimit };
};
