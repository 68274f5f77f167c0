#pragma once

// The real qlx02600-server on a free loopback port, on any database address,
// with a raw client that returns each response's bytes.
#include "protocol/frame.h"
#include "protocol/message.h"

#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

class ListeningServer
{
public:
    static constexpr int kWaitMs = 30'000; // for the server to start, and for each answer

    explicit ListeningServer(const QStringList &arguments)
    {
        m_process.setStandardErrorFile(m_logDir.filePath(QStringLiteral("server.log")));
        m_process.start(QStringLiteral(QLX_SERVER_PATH),
                        arguments + QStringList { QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0") });
        const bool metrics = arguments.contains(QStringLiteral("--metrics"));
        while ((m_port == 0 || (metrics && m_metricsPort == 0)) && m_process.waitForReadyRead(kWaitMs)) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine();
                if (line.startsWith("listening on "))
                    m_port = line.trimmed().split(':').last().toInt();
                else if (line.startsWith("metrics on "))
                    m_metricsPort = line.trimmed().split(':').last().toInt();
            }
        }
    }
    ~ListeningServer()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    int port() const { return m_port; }
    int metricsPort() const { return m_metricsPort; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // What the server wrote to its standard error.
    QByteArray log() const
    {
        QFile file(m_logDir.filePath(QStringLiteral("server.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_logDir;
    QProcess m_process;
    int m_port = 0;
    int m_metricsPort = 0;
};

// A client speaking the protocol by hand, keeping every response's bytes.
class RawCaller
{
public:
    explicit RawCaller(int port)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        m_socket.waitForConnected(ListeningServer::kWaitMs);
    }

    // The response's payload, or empty when the server did not answer.
    QByteArray call(const QString &method, const QList<protocol::Argument> &args)
    {
        m_socket.write(protocol::frameOf(protocol::encodeRequest({ QStringLiteral("QLX02600.rdmGeraArquivo"), method, args })));
        m_socket.waitForBytesWritten(ListeningServer::kWaitMs);
        QByteArray payload;
        while (!m_reader.next(payload)) {
            if (!m_socket.waitForReadyRead(ListeningServer::kWaitMs))
                return {};
            m_reader.append(m_socket.readAll());
        }
        return payload;
    }

private:
    QTcpSocket m_socket;
    protocol::FrameReader m_reader;
};
