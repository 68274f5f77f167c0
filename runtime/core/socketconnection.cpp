#include "socketconnection.h"

#include "exceptions.h"

#include <answerstart.h>
#include <datapacket.h>
#include <frame.h>
#include <message.h>
#include <protocolerror.h>

#include <QSslSocket>
#include <algorithm>
#include <limits>

namespace {

// Where the parts of an answer go when the call expects it whole.
class RefuseParts : public protocol::DataPacketDiscard
{
public:
    void fields(const QList<protocol::FieldDesc> &) override
    {
        throw protocol::ProtocolError("an answer in parts where one frame was expected");
    }
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
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void TSocketConnection::SetConnected(bool connected)
{
    if (connected == Connected())
        return;
    if (!connected) {
        m_socket->disconnectFromHost();
        m_socket.reset();
        return;
    }
    if (BeforeConnect)
        BeforeConnect(nullptr);
    std::unique_ptr<QTcpSocket> socket;
    if (Tls.Enabled()) {
        std::unique_ptr<QSslSocket> tls = NewTlsSocket(Tls);
        tls->connectToHostEncrypted(Host, quint16(Port));
        socket = std::move(tls);
    } else {
        socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(Host, quint16(Port));
    }
    if (!socket->waitForConnected(timeoutMilliseconds())) {
        const bool timedOut = socket->error() == QAbstractSocket::SocketTimeoutError;
        throw ESocketError(connectFailure(
            timedOut ? QStringLiteral("sem resposta em %1 segundos").arg(Timeout) : socket->errorString()));
    }
    if (Tls.Enabled())
        WaitForTls(static_cast<QSslSocket &>(*socket), Host, serverName(), timeoutMilliseconds());
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket = std::move(socket);
    m_peerChecked = false;
}

QString TSocketConnection::connectFailure(const QString &socketError) const
{
    return QStringLiteral("Não foi possível conectar ao servidor de aplicação %1:%2 (%3).")
        .arg(Host, QString::number(Port), socketError);
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
    m_socket->write(protocol::frameOf(request));
    while (m_socket->bytesToWrite() > 0) {
        if (!m_socket->waitForBytesWritten(timeoutMilliseconds()))
            failWaiting();
    }
    protocol::FrameReader reader(FrameLimit);
    QByteArray payload;
    // Every byte that arrives starts the time-out anew: a slow answer still arrives.
    for (;;) {
        while (!reader.next(payload)) {
            if (m_socket->bytesAvailable() == 0 && !m_socket->waitForReadyRead(timeoutMilliseconds()))
                failWaiting();
            QByteArray arrived = m_socket->readAll();
            checkPeer(arrived);
            reader.append(arrived);
        }
        if (!isPart(payload, parts))
            return payload;
    }
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
        m_socket.reset();
        throw;
    }
}

void TSocketConnection::checkPeer(QByteArray &arrived)
{
    if (m_peerChecked)
        return;
    while (arrived.size() < protocol::kAnswerStartSize) {
        if (m_socket->bytesAvailable() == 0 && !m_socket->waitForReadyRead(timeoutMilliseconds()))
            failWaiting();
        arrived += m_socket->readAll();
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

void TSocketConnection::failWaiting()
{
    if (m_socket->error() == QAbstractSocket::SocketTimeoutError)
        fail(QStringLiteral("O servidor de aplicação %1:%2 não respondeu em %3 segundos; a conexão foi encerrada.")
                 .arg(Host, QString::number(Port), QString::number(Timeout)));
    fail(QStringLiteral("A conexão com o servidor de aplicação foi perdida (%1).").arg(m_socket->errorString()));
}

void TSocketConnection::fail(const QString &message)
{
    m_socket.reset();
    throw ESocketError(message);
}
