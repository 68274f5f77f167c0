#pragma once

#include "bench/must.h"

#include <QProcess>
#include <QStringList>
#include <csignal>
#include <sys/prctl.h>

// qlx02600-server on a free port of 127.0.0.1, stopped with the object, or with the
// bench when it stops on a failure.
class AppServerProcess
{
public:
    AppServerProcess(const QString &binary, const QString &database, const QStringList &arguments = {})
    {
        m_process.setStandardErrorFile(QProcess::nullDevice()); // its banner and log
        m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start(binary, QStringList { QStringLiteral("--db"), database, QStringLiteral("--listen"),
                                              QStringLiteral("127.0.0.1:0") } + arguments);
        must(m_process.waitForStarted(10000), QStringLiteral("server did not start"));
        while (m_port == 0 && m_process.waitForReadyRead(10000)) {
            const QByteArray line = m_process.readLine();
            if (line.startsWith("listening on "))
                m_port = line.trimmed().split(':').last().toInt();
        }
        must(m_port != 0, QStringLiteral("server did not listen"));
    }
    ~AppServerProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(10000);
    }
    int port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    int m_port = 0;
};
