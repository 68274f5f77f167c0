#include "clientsession.h"

#include "rdmgeraarquivo.h"
#include "translationdb.h"

#include <message.h>
#include <protocolerror.h>

#include <QTcpSocket>
#include <QTextStream>
#include <QThread>

ClientSession::ClientSession(qintptr descriptor, QString databaseAddress, ScriptDialect dialect)
    : m_descriptor(descriptor)
    , m_databaseAddress(std::move(databaseAddress))
    , m_dialect(dialect)
{
}

ClientSession::~ClientSession() = default;

void ClientSession::start()
{
    m_socket = new QTcpSocket(this);
    if (!m_socket->setSocketDescriptor(m_descriptor)) {
        emit finished();
        return;
    }
    connect(m_socket, &QTcpSocket::disconnected, this, &ClientSession::finished);
    try {
        const QString connection = QStringLiteral("session-%1").arg(quintptr(QThread::currentThreadId()));
        m_database = std::make_unique<TranslationDb>(m_databaseAddress, connection);
        m_object = std::make_unique<RdmGeraArquivo>(m_database->database(), m_database->backend(), m_dialect);
    } catch (const std::exception &failure) {
        m_socket->write(protocol::frameOf(protocol::encodeExceptionResponse(
            QStringLiteral("EDatabaseError"), QString::fromUtf8(failure.what()))));
        m_socket->flush();
        drop(QString::fromUtf8(failure.what()));
        return;
    }
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientSession::readRequests);
    readRequests();
}

void ClientSession::readRequests()
{
    m_frames.append(m_socket->readAll());
    QByteArray payload;
    try {
        while (m_frames.next(payload)) {
            QByteArray response;
            try {
                response = m_object->answer(protocol::decodeRequest(payload));
            } catch (const protocol::ProtocolError &failure) {
                // A request that cannot be read is answered, then the connection ends.
                m_socket->write(protocol::frameOf(protocol::encodeExceptionResponse(
                    QStringLiteral("EProtocolError"), QString::fromUtf8(failure.what()))));
                drop(QString::fromUtf8(failure.what()));
                return;
            }
            m_socket->write(protocol::frameOf(response));
        }
    } catch (const protocol::ProtocolError &oversized) {
        drop(QString::fromUtf8(oversized.what()));
    }
}

void ClientSession::drop(const QString &reason)
{
    QTextStream(stderr) << "client dropped: " << reason << Qt::endl;
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        emit finished();
}
