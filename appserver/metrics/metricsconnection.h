#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// One HTTP/1.1 exchange on the metrics address: a request head read within bounds,
// one answer, then the connection closes. A head over kMostRequestBytes is
// answered 414 or 431, one that does not come within kTimeLimitMs 408; after its
// answer a client has that time again to take it and close.
class MetricsConnection : public QObject
{
    Q_OBJECT

public:
    // Bytes of a request's line and headers together.
    static constexpr qsizetype kMostRequestBytes = 8 * 1024;
    // Milliseconds a client has to send its request, and again to take its answer.
    static constexpr int kTimeLimitMs = 5000;

    // Takes `socket` over; the connection deletes itself once closed.
    explicit MetricsConnection(QTcpSocket *socket, QObject *parent = nullptr);

    void answer(int status, const QByteArray &contentType, const QByteArray &body);

signals:
    // A GET whose target's path is `path`.
    void requested(const QByteArray &path);

private:
    void readHead();
    void timedOut();

    QTcpSocket *m_socket;
    QTimer m_timeLimit;
    bool m_answered = false;
};
