#pragma once

// The server's metrics address as a scraper reads it.
#include <QByteArray>
#include <QTcpSocket>

constexpr int kMetricsWaitMs = 60000;

struct HttpAnswer
{
    int status = 0;
    QByteArray head;
    QByteArray body;
};

// One exchange with the metrics address: `request` sent as it is, the answer read to the close.
inline HttpAnswer http(int port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    socket.waitForConnected(kMetricsWaitMs);
    socket.write(request);
    QByteArray got;
    while (socket.waitForReadyRead(kMetricsWaitMs))
        got += socket.readAll();
    got += socket.readAll();
    const qsizetype end = got.indexOf("\r\n\r\n");
    HttpAnswer answer;
    answer.head = got.left(end);
    answer.body = end < 0 ? QByteArray() : got.mid(end + 4);
    answer.status = got.split(' ').value(1).toInt();
    return answer;
}

inline HttpAnswer get(int port, const QByteArray &path)
{
    return http(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

// The value of one sample of a metrics page; -1 when the page has no such sample.
inline double sample(const QByteArray &page, const QByteArray &nameAndLabels)
{
    for (const QByteArray &line : page.split('\n')) {
        if (line.startsWith(nameAndLabels + ' '))
            return line.mid(nameAndLabels.size() + 1).toDouble();
    }
    return -1;
}
