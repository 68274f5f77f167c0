#pragma once

#include "runtime/core/ansistring.h"
#include "runtime/core/datetime.h"
#include "runtime/core/notifyevent.h"
#include "runtime/core/tlsclient.h"

#include "protocol/datapacket.h"

#include <QCborValue>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QEventLoop;
class QIODevice;
class QTcpSocket;
namespace protocol {
class TlsSocket;
}

// The result of a remote call, as one variant.
using OleVariant = QCborValue;

// A positional argument of a late-bound remote call.
class QLX_EXPORT TRemoteArg
{
public:
    static TRemoteArg byValue(const AnsiString &text);
    // The text the server leaves in the argument is written back into `variable`.
    static TRemoteArg byReference(AnsiString &variable);
    static TRemoteArg dateTime(TDateTime value);

private:
    friend class TSocketConnection;
    enum Kind { Text, TextReference, Date } m_kind = Text;
    AnsiString m_text;
    AnsiString *m_variable = nullptr;
    TDateTime m_date = 0;
};

// One server a connect tried, and why it could not connect there.
struct TConnectAttempt
{
    QString host;
    int port = 0;
    QString reason; // the socket's error text, or the time-out
};

// How long a connect, or a call, waits for the server's next byte, by default.
constexpr int kDefaultTimeoutSeconds = 120;

// A connection to an application server's remote object over the socket protocol.
// A connect or a call waits until the server answers, or until Timeout seconds
// pass without a byte from it; a subclass may go on to other servers
// (connectElsewhere). It waits running the event loop
// (a QCoreApplication must exist), inside the call-wait hooks (callwait.h), so
// the windows stay drawn and answer the desktop meanwhile.
class QLX_EXPORT TSocketConnection
{
public:
    TSocketConnection();
    virtual ~TSocketConnection();

    QString Host;
    int Port = 0;
    QString ServerName; // the remote object's registered name
    TNotifyEvent BeforeConnect; // run at every connect, before host and port are used
    // Memory a record set loaded from one answer may take unless configured
    // (texts it keeps in a file count only by their index).
    static constexpr qint64 kDefaultAnswerLimit = qint64(4) << 30;
    // The most bytes the socket takes from the network ahead of the reader (TLS takes
    // only what the reader asks for, a few records ahead); past it the server is held
    // back by the network until the reader catches up.
    static constexpr qint64 kReadAheadBytes = qint64(1) << 20;
    // While a frame of an answer in parts is on its way, its rows that have arrived
    // whole are counted for the progress at most this often (milliseconds since the
    // last count or the last frame); frames that arrive sooner are never counted.
    static constexpr int kArrivingCountInterval = 200;

    qint64 FrameLimit; // per frame; an answer in parts may be larger as a whole
    // Memory a record set loaded from one answer may take; see TDataSetLoad. A frame
    // whose header states more is refused before its bytes are read.
    qint64 AnswerLimit = kDefaultAnswerLimit;
    // Seconds a connect waits, and a call waits for each next byte of its answer.
    int Timeout = kDefaultTimeoutSeconds;
    // With an authority set, the connection is TLS and the server must prove itself.
    TTlsFiles Tls;

    bool Connected() const;
    // Opening runs BeforeConnect and connects; a failure raises ESocketError.
    void SetConnected(bool connected);

    // Ends the connect or call that waits now; meant for a handler that runs
    // while it waits (a cancel button). The connection is dropped, which stops
    // the server's work, and the call raises EAbort. Harmless when nothing waits.
    void Cancel();
    bool Waiting() const { return m_inCall; }

    // Calls a method of the remote object by name. A closed connection is opened
    // again first, and so is one on which bytes arrived while no call was
    // outstanding (they belong to no request). A remote exception raises ERemoteError; a broken connection
    // raises EConnectionLost, a server silent for Timeout seconds or a malformed
    // answer ESocketError; either closes the connection.
    // The rows of an answer that comes in parts go to `parts` as they arrive (and
    // their count to its rowsArriving() while a frame is still coming); a
    // failure there (the sink's own exception) closes the connection too, which
    // ends the server's work on the answer.
    OleVariant Call(const QString &method, std::vector<TRemoteArg> arguments,
                    protocol::DataPacketSink *parts = nullptr);

protected:
    // The message of a failed connect; `attempts` holds every server it tried, in order.
    virtual QString connectFailure(const QList<TConnectAttempt> &attempts) const;
    // A connect to Host:Port failed (the last of `attempts`): an override may point
    // Host and Port at another server and return true, to try it within the same
    // connect, with its own time-out.
    virtual bool connectElsewhere(const QList<TConnectAttempt> &attempts);
    // Host:Port took the connect (and, with TLS, the handshake).
    virtual void connectSucceeded();

private:
    QByteArray exchange(const QByteArray &request, protocol::DataPacketSink *parts);
    // True when the payload is a part of the answer, its rows given to `parts`.
    bool isPart(const QByteArray &payload, protocol::DataPacketSink *parts);
    int timeoutMilliseconds() const;
    QString serverName() const; // host:port, for messages
    // Runs the event loop until `done` holds, each wake of the socket starting
    // the time-out anew. Raises EAbort when cancelled or when the application
    // ends its event loops; with `connecting`, the failure of a connect, else
    // that of a wait: the time-out or the lost connection.
    void await(const std::function<bool()> &done, bool connecting);
    // Connects the socket to Host:Port; the empty text, else why it could not.
    QString connectSocket();
    void refuseOverLimit(qint64 declaredLength);
    [[noreturn]] void failWaiting(bool timedOut);
    [[noreturn]] void fail(const QString &message);
    // Refuses a peer whose first answer on the connection cannot be this
    // protocol's; reads on until `arrived` holds enough bytes to tell.
    void checkPeer(QByteArray &arrived);

    // The connection's bytes: the TLS stream when there is one, else the socket.
    QIODevice &channel() const;
    // False once the connection has ended (or, connecting, failed).
    bool channelUp() const;
    void dropConnection();
    // Takes the connected socket's descriptor for TLS with `context` (ReadTlsFiles) and
    // waits for the handshake; raises ESocketError naming why the server is refused.
    void startTls(ssl_ctx_st *context);

    std::unique_ptr<QTcpSocket> m_socket; // until TLS takes its descriptor
    std::unique_ptr<protocol::TlsSocket> m_tls;
    bool m_peerChecked = false;
    bool m_inCall = false; // a connect or call is under way
    QEventLoop *m_waitLoop = nullptr; // while it waits
    bool m_cancelled = false;
};
