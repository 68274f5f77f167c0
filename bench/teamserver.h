#pragma once

// One qlx02600-server of bench_team on the shared database, on a free loopback port
// with its metrics and health check beside it. Behind the balancer every session
// comes from its address: the caps are raised to `cap` sessions.
#include "tests/support/endswiththetest.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>

class TeamServer
{
public:
    static constexpr int kStartMs = 30'000; // to say where it listens
    static constexpr int kStopMs = 30'000;  // to drain and exit after SIGTERM

    // On failure says why in `failure`, with the server's log.
    bool start(const QString &program, const QString &database, int cap, const QString &log, QString &failure)
    {
        m_process.setStandardErrorFile(log);
        EndsWithTheTest(m_process);
        const QString caps = QString::number(cap);
        m_process.start(program, { QStringLiteral("--db"), database, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                   QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--max-clients"),
                                   caps, QStringLiteral("--max-clients-per-prefix"), caps,
                                   QStringLiteral("--max-handshakes"), caps });
        const QDeadlineTimer deadline(kStartMs);
        while ((m_port == 0 || m_metricsPort == 0) && m_process.waitForReadyRead(int(deadline.remainingTime()))) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                if (line.startsWith("listening on "))
                    m_port = line.split(':').last().toInt();
                else if (line.startsWith("metrics on "))
                    m_metricsPort = line.split(':').last().toInt();
            }
        }
        if (m_port == 0 || m_metricsPort == 0) {
            QFile file(log);
            file.open(QIODevice::ReadOnly);
            failure = QStringLiteral("the server did not start: %1").arg(QString::fromLocal8Bit(file.readAll()));
            return false;
        }
        return true;
    }

    ~TeamServer()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(kStopMs)) {
            m_process.kill();
            m_process.waitForFinished(kStopMs);
        }
    }

    qint64 pid() const { return m_process.processId(); }
    int port() const { return m_port; }
    int metricsPort() const { return m_metricsPort; }

private:
    QProcess m_process;
    int m_port = 0;
    int m_metricsPort = 0;
};
