#pragma once

// HAProxy in front of bench_team's servers: the shipped configuration with the
// bench's loopback ports in place of its addresses, and a stats socket in the bench's
// folder to see when every server is up.
#include "bench/eventwait.h"
#include "tests/support/endswiththetest.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

class TeamBalancer
{
public:
    static constexpr int kStartAttempts = 3; // a free port may be taken before HAProxy binds it
    static constexpr int kStepMs = 10'000;   // to start, to stop, for the stats socket to answer
    // For every server to be up: 2 good checks 2 s apart, with room for a loaded machine.
    static constexpr int kUpMs = 30'000;

    static QString program() { return QStandardPaths::findExecutable(QStringLiteral("haproxy"), { QStringLiteral("/usr/sbin") }); }

    explicit TeamBalancer(const QString &folder)
        : m_folder(folder)
    {
    }
    ~TeamBalancer()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(kStepMs)) {
            m_process.kill();
            m_process.waitForFinished(kStepMs);
        }
    }

    // Starts HAProxy in front of the servers (port, metrics port) and waits for them to
    // be up; on failure says why in `failure`.
    bool start(const std::vector<std::pair<int, int>> &servers, QString &failure)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(path(QStringLiteral("haproxy.log")));
        EndsWithTheTest(m_process);
        for (int attempt = 0; attempt < kStartAttempts && m_process.state() != QProcess::Running; ++attempt) {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            m_port = probe.serverPort();
            probe.close();
            if (!writeConfiguration(servers, failure))
                return false;
            m_process.start(program(), { QStringLiteral("-db"), QStringLiteral("-f"), path(QStringLiteral("haproxy.cfg")) });
            m_process.waitForStarted(kStepMs);
            // Running once its stats socket answers; ended when it could not bind.
            runEventsUntil([&] { return m_process.state() != QProcess::Running || upServers() >= 0; }, kStepMs);
        }
        if (m_process.state() != QProcess::Running) {
            failure = QStringLiteral("HAProxy did not start: %1").arg(log());
            return false;
        }
        if (!runEventsUntil([&] { return upServers() == int(servers.size()); }, kUpMs)) {
            failure = QStringLiteral("HAProxy did not see the %1 server(s) up: %2").arg(servers.size()).arg(log());
            return false;
        }
        return true;
    }

    int port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }

    // A server as HAProxy's health checks see it.
    struct ServerState
    {
        QByteArray status; // "UP", "DOWN", ...
        int downs = 0;     // times marked down since HAProxy started
        int downSeconds = 0;
    };
    // Each server's state, in the order given to start(); none when the stats socket
    // does not answer.
    std::optional<std::vector<ServerState>> serverStates() const
    {
        QLocalSocket socket;
        socket.connectToServer(path(QStringLiteral("haproxy.sock")));
        if (!socket.waitForConnected(kStepMs))
            return std::nullopt;
        socket.write("show stat\n");
        QByteArray csv;
        while (socket.waitForReadyRead(kStepMs))
            csv += socket.readAll();
        const QList<QByteArray> lines = csv.split('\n');
        const QList<QByteArray> header = lines.value(0).mid(2).split(',');
        const qsizetype status = header.indexOf("status");
        const qsizetype downs = header.indexOf("chkdown");
        const qsizetype downSeconds = header.indexOf("downtime");
        if (status < 0 || downs < 0 || downSeconds < 0)
            return std::nullopt;
        std::vector<ServerState> states;
        for (const QByteArray &line : lines) {
            const QList<QByteArray> fields = line.split(',');
            if (fields.value(0) == "qlx02600-servers" && fields.value(1).startsWith("app"))
                states.push_back({ fields.value(status), fields.value(downs).toInt(), fields.value(downSeconds).toInt() });
        }
        return states;
    }

private:
    QString path(const QString &name) const { return QDir(m_folder).filePath(name); }
    QString log() const
    {
        QFile file(path(QStringLiteral("haproxy.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

    bool writeConfiguration(const std::vector<std::pair<int, int>> &servers, QString &failure) const
    {
        QFile shipped(QStringLiteral(QLX_HAPROXY_CFG));
        if (!shipped.open(QIODevice::ReadOnly)) {
            failure = QStringLiteral("cannot read %1").arg(shipped.fileName());
            return false;
        }
        QString text = QString::fromUtf8(shipped.readAll());
        const QString bind = QStringLiteral("    bind :21102\n");
        const QString serverLine = QStringLiteral("    server app%1 10.0.0.%2:21102 check port 9102\n");
        if (!text.contains(bind) || !text.contains(serverLine.arg(1).arg(7)) || !text.contains(serverLine.arg(2).arg(8))) {
            failure = QStringLiteral("%1 no longer has the lines the bench replaces").arg(shipped.fileName());
            return false;
        }
        text.replace(bind, QStringLiteral("    bind 127.0.0.1:%1\n").arg(m_port));
        QString lines;
        for (std::size_t i = 0; i < servers.size(); ++i)
            lines += QStringLiteral("    server app%1 127.0.0.1:%2 check port %3\n").arg(i + 1).arg(servers[i].first).arg(servers[i].second);
        text.replace(serverLine.arg(1).arg(7), lines);
        text.remove(serverLine.arg(2).arg(8));
        // Debian's global section, as the bench has it: the stats socket in its folder.
        const QString global = QStringLiteral("global\n    stats socket %1 mode 600 level admin\n\n").arg(path(QStringLiteral("haproxy.sock")));
        QFile rendered(path(QStringLiteral("haproxy.cfg")));
        if (!rendered.open(QIODevice::WriteOnly) || rendered.write((global + text).toUtf8()) <= 0) {
            failure = QStringLiteral("cannot write %1").arg(rendered.fileName());
            return false;
        }
        return true;
    }

    // The servers HAProxy's stats socket shows up; -1 when it does not answer.
    int upServers() const
    {
        const std::optional<std::vector<ServerState>> states = serverStates();
        if (!states)
            return -1;
        return int(std::count_if(states->begin(), states->end(), [](const ServerState &state) { return state.status == "UP"; }));
    }

    QString m_folder;
    QProcess m_process;
    int m_port = 0;
};
