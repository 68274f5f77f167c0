#include "appserver/metrics/metricsconnection.h"

#include <QTcpSocket>

#include <sys/socket.h>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

const QByteArray kPlainText = "text/plain; charset=utf-8";

} // namespace

MetricsConnection::MetricsConnection(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_socket->setParent(this);
    // One byte past the bound shows a head that is too long, and no more is read.
    m_socket->setReadBufferSize(kMostRequestBytes + 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &MetricsConnection::readHead);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    m_timeLimit.setSingleShot(true);
    connect(&m_timeLimit, &QTimer::timeout, this, &MetricsConnection::timedOut);
    m_timeLimit.start(kTimeLimitMs);
}

void MetricsConnection::readHead()
{
    if (m_answered) { // what follows the head is dropped
        m_socket->readAll();
        return;
    }
    const QByteArray head = m_socket->peek(kMostRequestBytes + 1);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0 || end + 4 > kMostRequestBytes) {
        if (head.size() > kMostRequestBytes) {
            const bool lineTooLong = !head.left(kMostRequestBytes).contains('\n');
            answer(lineTooLong ? 414 : 431, kPlainText,
                   QByteArray("the request's line and headers take at most ") + QByteArray::number(kMostRequestBytes)
                       + " bytes\n");
        }
        return;
    }
    const QList<QByteArray> request = head.left(head.indexOf("\r\n")).split(' ');
    if (request.size() != 3 || !request.at(1).startsWith('/') || !request.at(2).startsWith("HTTP/1.")) {
        answer(400, kPlainText, "a request line is METHOD /PATH HTTP/1.1\n");
        return;
    }
    if (request.at(0) != "GET") {
        answer(405, kPlainText, "only GET is served\n");
        return;
    }
    const QByteArray &target = request.at(1);
    const qsizetype query = target.indexOf('?');
    emit requested(query < 0 ? target : target.first(query));
}

void MetricsConnection::answer(int status, const QByteArray &contentType, const QByteArray &body)
{
    if (m_answered)
        return;
    m_answered = true;
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    response += "Content-Type: " + contentType + "\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n";
    if (status == 405)
        response += "Allow: GET\r\n";
    // Once the answer is out only the sending side closes: the client still reads it
    // whatever it sent beyond the head, instead of losing it to a reset.
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_socket->bytesToWrite() == 0)
            ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
    });
    m_socket->write(response + "\r\n" + body);
    m_timeLimit.start(kTimeLimitMs);
}

void MetricsConnection::timedOut()
{
    if (!m_answered) {
        answer(408, kPlainText, QByteArray("no whole request within ") + QByteArray::number(kTimeLimitMs) + " ms\n");
        return;
    }
    m_socket->abort();
    deleteLater();
}
