#pragma once

// A client speaking the protocol by hand, for tests of the server.
#include "protocol/datapacket.h"
#include "protocol/frame.h"
#include "protocol/message.h"

#include <QCborMap>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <optional>

// The texts of an answer's packet, in order.
struct Lines : protocol::DataPacketDiscard
{
    QByteArrayList values;
    void stringValue(qsizetype, QByteArrayView bytes) override { values << bytes.toByteArray(); }
    void nullValue(qsizetype) override { values << QByteArray(); }
};

struct RawClient
{
    // How long a client waits for each step: generous, since a long answer on a busy
    // machine or in a sanitizer build takes many seconds.
    static constexpr int kWaitMs = 60000;

    QSslSocket socket; // plain TCP until encrypt()
    protocol::FrameReader reader;
    Lines parts; // the rows of the parts before the last response
    QList<qsizetype> partSizes;
    qsizetype responseSize = 0; // of the last response's payload

    // Connects to the server on 127.0.0.1 from `from` (a loopback address of the
    // 127.0.0.0/8 range), or from wherever the system picks.
    explicit RawClient(int port, const QHostAddress &from = {})
    {
        if (!from.isNull())
            socket.bind(from);
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        socket.waitForConnected(kWaitMs);
    }
    // Speaks TLS from here on, trusting `authority`, presenting the certificate `cert`
    // with `key` where given; false when the handshake does not complete.
    bool encrypt(const QString &authority, const QString &cert = {}, const QString &key = {})
    {
        if (socket.state() != QAbstractSocket::ConnectedState)
            return false;
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(authority));
        if (!cert.isEmpty()) {
            tls.setLocalCertificate(QSslCertificate::fromPath(cert).value(0));
            QFile keyFile(key);
            if (!keyFile.open(QIODevice::ReadOnly))
                return false;
            tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
        }
        socket.setSslConfiguration(tls);
        socket.setPeerVerifyName(QStringLiteral("localhost"));
        socket.startClientEncryption();
        return socket.waitForEncrypted(kWaitMs);
    }
    void send(const QByteArray &bytes) { socket.write(bytes); socket.waitForBytesWritten(kWaitMs); }
    // The next response, or nothing when the server closed the connection; the rows
    // of the parts before it are in `parts`.
    std::optional<protocol::Response> receive()
    {
        parts.values.clear();
        partSizes.clear();
        QByteArray payload;
        for (;;) {
            reader.append(socket.readAll()); // bytes that came before a close are still read
            while (reader.next(payload)) {
                if (!protocol::readPart(payload, parts)) {
                    responseSize = payload.size();
                    return protocol::decodeResponse(payload);
                }
                partSizes << payload.size();
            }
            if (!socket.waitForReadyRead(kWaitMs))
                return std::nullopt;
        }
    }
    protocol::Response call(const QString &method, const QList<protocol::Argument> &args)
    {
        send(protocol::frameOf(protocol::encodeRequest({ QStringLiteral("QLX02600.rdmGeraArquivo"), method, args })));
        return receive().value_or(protocol::Response {});
    }
};


inline QByteArrayList packetStrings(const protocol::Response &response)
{
    Lines lines;
    protocol::readDataPacket(response.result.toMap().value(QLatin1String("packet")).taggedValue().toByteArray(), lines);
    return lines.values;
}

inline protocol::Argument text(const QString &value, protocol::ArgumentKind kind = protocol::ArgumentKind::Str)
{
    return { kind, value, 0 };
}
inline protocol::Argument date(double value) { return { protocol::ArgumentKind::Date, QString(), value }; }
