#pragma once

// The desktops of bench_team, each a connection of its own driven by the event loop
// of the thread its group lives in: screens opened once and left idle, screens opened
// again and again, and desktops generating a large script.
#include "protocol/datapacket.h"
#include "protocol/frame.h"
#include "protocol/message.h"

#include <QCborMap>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace team {

constexpr qint64 kFrameLimit = 64 * 1024 * 1024; // a part holds about 1 MiB
constexpr int kOpenPauseMs = 1000;               // between two opens of a screen opened again and again
constexpr int kRetryMs = 1000;                   // before a desktop whose call failed tries again

const QString kObject = QStringLiteral("QLX02600.rdmGeraArquivo");
// The demo's tables, each code padded to 20 characters.
const QString kAllTables = QStringLiteral("CATEGORIA           MENSAGEM            PRODUTO             UNIDADE");

// What the desktops of a group did while it ran.
struct Tally
{
    bool running = false;
    std::vector<qint64> openNs; // a screen's open: connect + GetIdioma
    int generations = 0;        // whole, with every line
    int errors = 0;
    QString firstError;

    void fail(const QString &what)
    {
        if (running && errors++ == 0)
            firstError = what;
    }
};

// Why an answer is not a good one; empty when it is.
inline QString failureOf(const protocol::Response &response)
{
    if (response.isException)
        return response.exceptionClass + QStringLiteral(": ") + response.exceptionMessage;
    const QCborMap result = response.result.toMap();
    return result.value(QLatin1String("ok")).toBool() ? QString() : result.value(QLatin1String("message")).toString();
}

// One connection, one call at a time; what a desktop does with it is its own.
class Desktop : public QObject
{
public:
    Desktop(const QString &host, quint16 port, Tally &tally)
        : m_tally(tally)
        , m_host(host)
        , m_port(port)
    {
        connect(&m_socket, &QTcpSocket::connected, this, [this] { connected(); });
        connect(&m_socket, &QTcpSocket::readyRead, this, &Desktop::read);
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] { lose(m_socket.errorString()); });
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] { lose(QStringLiteral("closed by the other side")); });
    }
    virtual void start() { open(); }
    void close()
    {
        m_live = false;
        m_socket.abort();
    }

protected:
    void open()
    {
        m_frames = protocol::FrameReader(kFrameLimit);
        m_live = true;
        m_clock.start();
        m_socket.connectToHost(m_host, m_port);
    }
    void call(const QString &method, const QList<protocol::Argument> &args = {})
    {
        m_socket.write(protocol::frameOf(protocol::encodeRequest({ kObject, method, args })));
    }
    // Ends the connection and opens it again after `ms`.
    void againAfter(int ms)
    {
        close();
        QTimer::singleShot(ms, this, &Desktop::open);
    }
    void failed(const QString &what)
    {
        m_tally.fail(what);
        againAfter(kRetryMs);
    }

    virtual void connected() = 0;
    // A frame's payload, valid during the call only.
    virtual void frame(const QByteArray &payload) = 0;
    virtual void lost(const QString &why) { failed(why); }

    Tally &m_tally;
    QElapsedTimer m_clock; // since the connection was asked for

private:
    void read()
    {
        m_frames.append(m_socket.readAll());
        QByteArrayView view;
        try {
            while (m_live && m_frames.next(view))
                frame(QByteArray::fromRawData(view.data(), view.size()));
        } catch (const protocol::ProtocolError &error) {
            failed(QString::fromUtf8(error.what()));
        }
    }
    void lose(const QString &why)
    {
        if (std::exchange(m_live, false))
            lost(why);
    }

    QString m_host;
    quint16 m_port;
    QTcpSocket m_socket;
    protocol::FrameReader m_frames { kFrameLimit };
    bool m_live = false; // a connection asked for and not yet ended
};

// Opens once (GetIdioma) and stays connected, silent.
class IdleScreen : public Desktop
{
public:
    using Desktop::Desktop;

private:
    void connected() override { call(QStringLiteral("GetIdioma")); }
    void frame(const QByteArray &payload) override
    {
        const qint64 elapsed = m_clock.nsecsElapsed();
        const QString failure = failureOf(protocol::decodeResponse(payload));
        if (!failure.isEmpty())
            return failed(failure);
        m_tally.openNs.push_back(elapsed);
    }
    void lost(const QString &why) override { failed(QStringLiteral("idle screen: ") + why); }
};

// Opens (GetIdioma), lists the tables (GetTabela), closes, pauses, and again.
class OpeningScreen : public Desktop
{
public:
    using Desktop::Desktop;

private:
    void connected() override
    {
        m_listing = false;
        call(QStringLiteral("GetIdioma"));
    }
    void frame(const QByteArray &payload) override
    {
        const qint64 elapsed = m_clock.nsecsElapsed();
        const QString failure = failureOf(protocol::decodeResponse(payload));
        if (!failure.isEmpty())
            return failed(failure);
        if (m_listing)
            return againAfter(kOpenPauseMs);
        if (m_tally.running)
            m_tally.openNs.push_back(elapsed);
        m_listing = true;
        call(QStringLiteral("GetTabela"), { { protocol::ArgumentKind::Str, QString(), 0 },
                                            { protocol::ArgumentKind::Str, QStringLiteral("T"), 0 } });
    }

    bool m_listing = false;
};

// Generates a language's script (GetPropriedCds, every table, every date) on a
// connection of its own, reads the whole answer and counts its lines, and again.
class GeneratingDesktop : public Desktop
{
public:
    GeneratingDesktop(const QString &host, quint16 port, Tally &tally, const QString &language, qsizetype lines)
        : Desktop(host, port, tally)
        , m_language(language)
        , m_expected(lines)
    {
    }

private:
    struct LineCount : protocol::DataPacketDiscard
    {
        qsizetype lines = 0;
        void endRow() override { ++lines; }
    };

    void connected() override
    {
        m_count.lines = 0;
        call(QStringLiteral("GetPropriedCds"), { { protocol::ArgumentKind::Str, m_language, 0 },
                                                 { protocol::ArgumentKind::StrRef, kAllTables, 0 },
                                                 { protocol::ArgumentKind::Date, QString(), 0 } });
    }
    void frame(const QByteArray &payload) override
    {
        if (protocol::readPart(payload, m_count))
            return;
        const protocol::Response response = protocol::decodeResponse(payload);
        const QString failure = failureOf(response);
        if (!failure.isEmpty())
            return failed(failure);
        protocol::readDataPacket(response.result.toMap().value(QLatin1String("packet")).taggedValue().toByteArray(), m_count);
        if (m_count.lines != m_expected)
            return failed(QStringLiteral("a generation of %1 lines instead of %2").arg(m_count.lines).arg(m_expected));
        if (m_tally.running)
            ++m_tally.generations;
        againAfter(0);
    }

    QString m_language;
    qsizetype m_expected;
    LineCount m_count;
};

// Desktops of one kind, made and run in the thread the group lives in.
class DesktopGroup : public QObject
{
public:
    using Make = std::function<std::unique_ptr<Desktop>(Tally &)>;

    DesktopGroup(int count, Make make)
        : m_count(count)
        , m_make(std::move(make))
    {
    }
    void start()
    {
        m_tally.running = true;
        for (int i = 0; i < m_count; ++i) {
            m_desktops.push_back(m_make(m_tally));
            m_desktops.back()->start();
        }
    }
    void stop()
    {
        m_tally.running = false;
        for (auto &desktop : m_desktops)
            desktop->close();
        m_desktops.clear();
    }
    // Read in the group's thread, or once it has stopped.
    const Tally &tally() const { return m_tally; }

private:
    int m_count;
    Make m_make;
    Tally m_tally;
    std::vector<std::unique_ptr<Desktop>> m_desktops;
};

} // namespace team
