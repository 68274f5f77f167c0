#include "runtime/core/socketconnection.h"

#include "runtime/core/callwait.h"
#include "runtime/core/exceptions.h"
#include "runtime/core/systemerror.h"

#include "protocol/answerstart.h"
#include "protocol/arrivingrows.h"
#include "protocol/datapacket.h"
#include "protocol/frame.h"
#include "protocol/message.h"
#include "protocol/protocolerror.h"
#include "protocol/tlssocket.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <limits>
#include <unistd.h>
#include <utility>

namespace {

// Marks a connect or call under way for as long as it lasts.
class CallUnderWay
{
public:
    explicit CallUnderWay(bool &flag)
        : m_flag(flag)
        , m_outer(std::exchange(flag, true))
    {
    }
    ~CallUnderWay() { m_flag = m_outer; }
    CallUnderWay(const CallUnderWay &) = delete;
    CallUnderWay &operator=(const CallUnderWay &) = delete;

private:
    bool &m_flag;
    bool m_outer;
};

// Where the parts of an answer go when the call expects it whole.
class RefuseParts : public protocol::DataPacketDiscard
{
public:
    void fields(const QList<protocol::FieldDesc> &) override
    {
        throw protocol::ProtocolError("an answer in parts where one frame was expected");
    }
};

// A connect that did not reach its server, and why.
struct ConnectFailed
{
    QString reason;
};

} // namespace

TRemoteArg TRemoteArg::byValue(const AnsiString &text)
{
    TRemoteArg argument;
    argument.m_kind = Text;
    argument.m_text = text;
    return argument;
}

TRemoteArg TRemoteArg::byReference(AnsiString &variable)
{
    TRemoteArg argument;
    argument.m_kind = TextReference;
    argument.m_variable = &variable;
    return argument;
}

TRemoteArg TRemoteArg::dateTime(TDateTime value)
{
    TRemoteArg argument;
    argument.m_kind = Date;
    argument.m_date = value;
    return argument;
}

TSocketConnection::TSocketConnection()
    : FrameLimit(protocol::kDefaultFrameLimit)
{
}

TSocketConnection::~TSocketConnection() = default;

bool TSocketConnection::Connected() const
{
    if (m_tls)
        return m_tls->stage() == protocol::TlsSocket::Stage::Open;
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

QIODevice &TSocketConnection::channel() const
{
    if (m_tls)
        return *m_tls;
    return *m_socket;
}

bool TSocketConnection::channelUp() const
{
    if (m_tls)
        return m_tls->stage() != protocol::TlsSocket::Stage::Closed;
    const QAbstractSocket::SocketState state = m_socket->state();
    return state != QAbstractSocket::UnconnectedState && state != QAbstractSocket::ClosingState;
}

void TSocketConnection::dropConnection()
{
    m_tls.reset();
    m_socket.reset();
}

void TSocketConnection::SetConnected(bool connected)
{
    if (connected == Connected())
        return;
    if (!connected) {
        if (m_tls)
            m_tls->close();
        else
            m_socket->disconnectFromHost();
        dropConnection();
        return;
    }
    dropConnection(); // what is left of a connection that ended
    if (BeforeConnect)
        BeforeConnect(nullptr);
    TCallWaitScope waitScope;
    if (!m_inCall)
        m_cancelled = false;
    CallUnderWay underWay(m_inCall);
    // A file that cannot serve is said before any server is tried.
    const protocol::TlsContext tls = Tls.Enabled() ? ReadTlsFiles(Tls) : protocol::TlsContext();
    QList<TConnectAttempt> attempts;
    for (QString failure = connectSocket(); !failure.isEmpty(); failure = connectSocket()) {
        attempts.append({ Host, Port, failure });
        if (!connectElsewhere(attempts))
            fail(connectFailure(attempts));
    }
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (tls)
        startTls(tls.get());
    m_peerChecked = false;
    connectSucceeded();
}

QString TSocketConnection::connectSocket()
{
    m_socket = std::make_unique<QTcpSocket>();
    m_socket->setReadBufferSize(kReadAheadBytes);
    m_socket->connectToHost(Host, quint16(Port));
    try {
        await([this] { return m_socket->state() == QAbstractSocket::ConnectedState; }, true);
    } catch (const ConnectFailed &failed) {
        m_socket.reset();
        return failed.reason;
    }
    return QString();
}

void TSocketConnection::startTls(ssl_ctx_st *context)
{
    // The socket's descriptor goes to the TLS stream, which reads the kernel itself; Qt's
    // socket closes only its own copy of it.
    const int descriptor = ::dup(int(m_socket->socketDescriptor()));
    const int dupError = errno;
    m_socket->abort();
    m_socket.reset();
    if (descriptor < 0)
        fail(QStringLiteral("Não foi possível iniciar o TLS com o servidor de aplicação %1 (%2).")
                 .arg(serverName(), SystemErrorText(dupError)));
    m_tls = std::make_unique<protocol::TlsSocket>(descriptor, context, protocol::TlsSocket::Side::Client, Host);
    // The handshake waits like a call: the windows stay alive and it can time out.
    try {
        await([this] { return m_tls->stage() != protocol::TlsSocket::Stage::Handshake; }, false);
        if (m_tls->stage() != protocol::TlsSocket::Stage::Open)
            RefuseTls(*m_tls, Host, serverName());
    } catch (...) {
        dropConnection();
        throw;
    }
}

bool TSocketConnection::connectElsewhere(const QList<TConnectAttempt> &)
{
    return false;
}

void TSocketConnection::connectSucceeded()
{
}

void TSocketConnection::Cancel()
{
    if (!m_inCall)
        return;
    m_cancelled = true;
    if (m_waitLoop)
        m_waitLoop->quit();
}

void TSocketConnection::await(const std::function<bool()> &done, bool connecting)
{
    enum class Wake { None, Socket, TimedOut, Cancelled };
    while (!done()) {
        if (!channelUp()) {
            if (connecting)
                throw ConnectFailed { m_socket->errorString() };
            failWaiting(false);
        }
        Wake wake = m_cancelled ? Wake::Cancelled : Wake::None;
        if (wake == Wake::None) {
            QEventLoop loop;
            const auto wakeFor = [&](Wake reason) {
                // Quit once: a TLS socket signals every few kilobytes it decrypts,
                // and each quit wakes the event dispatcher with a system call.
                return [&wake, &loop, reason] {
                    if (wake != Wake::None)
                        return;
                    wake = reason;
                    loop.quit();
                };
            };
            QIODevice *device = &channel();
            QObject::connect(device, &QIODevice::readyRead, &loop, wakeFor(Wake::Socket));
            QObject::connect(device, &QIODevice::bytesWritten, &loop, wakeFor(Wake::Socket));
            if (m_tls) {
                QObject::connect(m_tls.get(), &protocol::TlsSocket::stageChanged, &loop, wakeFor(Wake::Socket));
            } else {
                QObject::connect(m_socket.get(), &QAbstractSocket::stateChanged, &loop, wakeFor(Wake::Socket));
                QObject::connect(m_socket.get(), &QAbstractSocket::errorOccurred, &loop, wakeFor(Wake::Socket));
            }
            QTimer timer;
            timer.setSingleShot(true);
            QObject::connect(&timer, &QTimer::timeout, &loop, wakeFor(Wake::TimedOut));
            timer.start(timeoutMilliseconds());
            m_waitLoop = &loop;
            loop.exec();
            m_waitLoop = nullptr;
            if (m_cancelled)
                wake = Wake::Cancelled;
        }
        switch (wake) {
        case Wake::Socket:
            break;
        case Wake::TimedOut:
            if (connecting)
                throw ConnectFailed { QStringLiteral("sem resposta em %1 segundos").arg(Timeout) };
            failWaiting(true);
        case Wake::Cancelled:
        case Wake::None: // the application is ending its event loops
            m_cancelled = false;
            dropConnection();
            throw EAbort();
        }
    }
}

QString TSocketConnection::connectFailure(const QList<TConnectAttempt> &attempts) const
{
    const TConnectAttempt &last = attempts.constLast();
    return QStringLiteral("Não foi possível conectar ao servidor de aplicação %1:%2 (%3).")
        .arg(last.host, QString::number(last.port), last.reason);
}

int TSocketConnection::timeoutMilliseconds() const
{
    // Qt waits at most INT_MAX milliseconds; a time-out is never "forever".
    constexpr int kLongest = std::numeric_limits<int>::max() / 1000;
    return std::clamp(Timeout, 1, kLongest) * 1000;
}

OleVariant TSocketConnection::Call(const QString &method, std::vector<TRemoteArg> arguments,
                                   protocol::DataPacketSink *parts)
{
    TCallWaitScope waitScope;
    CallUnderWay underWay(m_inCall);
    m_cancelled = false;
    // Bytes that came while no call was outstanding answer no request: a new
    // connection keeps them out of this call's answer.
    // (A TLS stream takes from the kernel to tell.)
    if (Connected() && (channel().bytesAvailable() > 0 || (!m_tls && m_socket->waitForReadyRead(0))))
        dropConnection();
    SetConnected(true);
    protocol::Request request { ServerName, method, {} };
    for (const TRemoteArg &argument : arguments) {
        protocol::Argument sent;
        switch (argument.m_kind) {
        case TRemoteArg::Text:
            sent.text = Ansi::toUnicode(argument.m_text);
            break;
        case TRemoteArg::TextReference:
            sent.kind = protocol::ArgumentKind::StrRef;
            sent.text = Ansi::toUnicode(*argument.m_variable);
            break;
        case TRemoteArg::Date:
            sent.kind = protocol::ArgumentKind::Date;
            sent.date = argument.m_date;
            break;
        }
        request.args.append(sent);
    }

    protocol::Response response;
    try {
        response = protocol::decodeResponse(exchange(protocol::encodeRequest(request), parts));
    } catch (const protocol::ProtocolError &failure) {
        fail(QStringLiteral("Resposta inválida do servidor de aplicação: %1").arg(QString::fromUtf8(failure.what())));
    }
    if (response.isException && response.exceptionClass == QLatin1String(protocol::kTlsRefusedClass))
        fail(QStringLiteral("Conexão com o servidor de aplicação %1 recusada: %2.").arg(serverName(), response.exceptionMessage));
    // Cancelled after the last wait: the answer is dropped all the same.
    if (std::exchange(m_cancelled, false)) {
        dropConnection();
        throw EAbort();
    }
    if (response.isException)
        throw ERemoteError(response.exceptionClass, response.exceptionMessage);

    qsizetype next = 0;
    for (TRemoteArg &argument : arguments) {
        if (argument.m_kind != TRemoteArg::TextReference)
            continue;
        if (next >= response.refs.size())
            fail(QStringLiteral("O servidor de aplicação não devolveu os argumentos por referência."));
        *argument.m_variable = Ansi::fromUnicode(response.refs.at(next++));
    }
    return response.result;
}

QByteArray TSocketConnection::exchange(const QByteArray &request, protocol::DataPacketSink *parts)
{
    channel().write(protocol::frameOf(request));
    await([this] { return channel().bytesToWrite() == 0; }, false);
    // One buffer for the whole answer: frames are read into it and decoded where they lie.
    protocol::FrameReader reader(FrameLimit);
    QByteArrayView payload;
    protocol::ArrivingRows arriving; // of the frame on its way
    QElapsedTimer sinceProgress; // a count given, or a frame whole
    sinceProgress.start();
    for (;;) {
        refuseOverLimit(reader.declaredLength());
        if (reader.next(payload)) {
            arriving = {};
            sinceProgress.start();
            if (!isPart(QByteArray::fromRawData(payload.data(), payload.size()), parts))
                break;
            continue;
        }
        if (parts && sinceProgress.hasExpired(kArrivingCountInterval)) {
            try {
                parts->rowsArriving(arriving.count(reader.arrivingPayload()));
            } catch (...) {
                dropConnection(); // as for a failure with the rows of a part
                throw;
            }
            sinceProgress.start();
        }
        await([this] { return channel().bytesAvailable() > 0; }, false);
        if (m_peerChecked) {
            reader.readFrom(channel());
            continue;
        }
        QByteArray arrived = channel().readAll(); // the first bytes, checked before anything is read as frames
        checkPeer(arrived);
        reader.append(arrived);
    }
    const QByteArray answer = payload.toByteArray(); // its own copy: the buffer is reused
    // Bytes past the final frame answer no request.
    if (reader.buffered() > 0 || channel().bytesAvailable() > 0)
        dropConnection();
    return answer;
}

void TSocketConnection::refuseOverLimit(qint64 declaredLength)
{
    if (declaredLength > AnswerLimit)
        fail(QStringLiteral("A resposta do servidor de aplicação passa do limite de memória de %1 MiB deste computador "
                            "(um quadro de %2 bytes).")
                 .arg(AnswerLimit >> 20)
                 .arg(declaredLength));
}

bool TSocketConnection::isPart(const QByteArray &payload, protocol::DataPacketSink *parts)
{
    RefuseParts refuse;
    protocol::DataPacketSink *sink = parts ? parts : &refuse;
    try {
        return protocol::readPart(payload, *sink);
    } catch (const protocol::ProtocolError &) {
        throw; // reported with every other malformed answer
    } catch (...) {
        // The rest of the answer is still on its way: dropping the connection
        // is what tells the server to stop.
        dropConnection();
        throw;
    }
}

void TSocketConnection::checkPeer(QByteArray &arrived)
{
    if (m_peerChecked)
        return;
    while (arrived.size() < protocol::kAnswerStartSize) {
        await([this] { return channel().bytesAvailable() > 0; }, false);
        arrived += channel().readAll();
    }
    m_peerChecked = true;
    if (!protocol::couldStartAnswer(arrived, FrameLimit))
        fail(QStringLiteral("O programa em %1:%2 não fala o protocolo do servidor de aplicação (respondeu \"%3\"): "
                            "confira o endereço e a porta.")
                 .arg(Host, QString::number(Port), protocol::printableStart(arrived)));
}

QString TSocketConnection::serverName() const
{
    return QStringLiteral("%1:%2").arg(Host, QString::number(Port));
}

void TSocketConnection::failWaiting(bool timedOut)
{
    if (timedOut)
        fail(QStringLiteral("O servidor de aplicação %1:%2 não respondeu em %3 segundos; a conexão foi encerrada.")
                 .arg(Host, QString::number(Port), QString::number(Timeout)));
    // A server that ends the connection before the first byte of its first answer, after
    // a handshake with the client's certificate, refused that certificate past the
    // handshake (a chain longer than it takes ends it so under TLS 1.3).
    if (!m_peerChecked && Tls.Enabled() && !Tls.CertFile.isEmpty()) {
        const QString detail = channel().errorString();
        dropConnection();
        RefuseAfterClientCertificate(serverName(), detail);
    }
    const QString message = QStringLiteral("A conexão com o servidor de aplicação foi perdida (%1).").arg(channel().errorString());
    dropConnection();
    throw EConnectionLost(message);
}

void TSocketConnection::fail(const QString &message)
{
    dropConnection();
    throw ESocketError(message);
}
