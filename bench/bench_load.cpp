// bench_load: a bounded load on the application server. Calling clients first run
// alone (the anchor), then for T seconds beside idle clients and slow ones that send
// a request one byte a second. Prints calls per second (and their ratio to the
// anchor's), errors, p50/p99 latency, and the server's peak RSS, threads and
// descriptors before, at most and after, read from /proc.
#include "bench/descriptorlimit.h"
#include "protocol/frame.h"
#include "protocol/message.h"

#include <QCborMap>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <sys/resource.h>

namespace {

constexpr int kMostClients = 10000;     // of each kind
constexpr int kMostSeconds = 3600;
constexpr int kServerStartMs = 10000;   // for the server to say where it listens
constexpr int kSettleMs = 5000;         // for the server to end the sessions after the run
constexpr int kSampleMs = 200;          // between two readings of the server's figures
constexpr int kSlowByteMs = 1000;       // a slow client's pace
constexpr int kRetryMs = 100;           // before a refused or dropped caller connects again
constexpr qint64 kAnswerLimit = 64 * 1024 * 1024;

const QString kObject = QStringLiteral("QLX02600.rdmGeraArquivo");

// The server's figures from /proc/PID.
struct ProcessFigures
{
    qint64 peakRssKiB = 0;
    int threads = 0;
    int descriptors = 0;

    static ProcessFigures of(qint64 pid)
    {
        ProcessFigures figures;
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n')) {
                const QList<QByteArray> fields = line.simplified().split(' ');
                if (fields.value(0) == "VmHWM:")
                    figures.peakRssKiB = fields.value(1).toLongLong();
                else if (fields.value(0) == "Threads:")
                    figures.threads = fields.value(1).toInt();
            }
        }
        figures.descriptors = int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
        return figures;
    }
};

struct Tally
{
    std::vector<qint64> latenciesNs;
    int errors = 0;
    int busy = 0;
    int closedByServer = 0;
    bool running = false;
};

bool isBusy(const QByteArray &payload)
{
    try {
        const protocol::Response response = protocol::decodeResponse(payload);
        return response.isException && response.exceptionClass == QLatin1String("EServerBusy");
    } catch (const protocol::ProtocolError &) {
        return false;
    }
}

// A connection that reads every answer whole; what a client kind does with it is its own.
class Client : public QObject
{
public:
    Client(const QString &host, quint16 port, Tally &tally)
        : m_host(host)
        , m_port(port)
        , m_tally(tally)
    {
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
            m_frames.append(m_socket.readAll());
            QByteArray payload;
            try {
                while (m_frames.next(payload))
                    answered(payload);
            } catch (const protocol::ProtocolError &) {
                ++m_tally.errors;
                m_socket.abort();
            }
        });
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
            if (m_tally.running && !m_closing)
                closed();
        });
    }
    void open()
    {
        // On loopback every client comes from an address of its own (127.0.1.0 onwards),
        // as users on their own machines do: the server's per-address cap is not the
        // limit measured here.
        static quint32 nextSource = (127u << 24) | (1u << 8);
        if (QHostAddress(m_host).isLoopback())
            m_socket.bind(QHostAddress(nextSource++));
        m_socket.connectToHost(m_host, m_port);
    }
    void close()
    {
        m_closing = true;
        m_socket.abort();
    }

protected:
    virtual void answered(const QByteArray &payload)
    {
        if (isBusy(payload))
            ++m_tally.busy;
    }
    virtual void closed() { ++m_tally.closedByServer; }

    QString m_host;
    quint16 m_port;
    Tally &m_tally;
    QTcpSocket m_socket;
    protocol::FrameReader m_frames { kAnswerLimit };
    bool m_closing = false;
};

// Sends one byte of a request a second, for ever.
class SlowClient : public Client
{
public:
    SlowClient(const QString &host, quint16 port, Tally &tally)
        : Client(host, port, tally)
        , m_request(protocol::frameOf(protocol::encodeRequest({ kObject, QStringLiteral("GetIdioma"), {} })))
    {
        m_pace.setInterval(kSlowByteMs);
        connect(&m_pace, &QTimer::timeout, this, [this] {
            if (m_socket.state() != QAbstractSocket::ConnectedState)
                return;
            m_socket.write(m_request.mid(m_at, 1));
            m_at = (m_at + 1) % m_request.size();
        });
        m_pace.start();
    }

private:
    QByteArray m_request;
    qsizetype m_at = 0;
    QTimer m_pace;
};

// Calls GetTabela for all tables, one call after the other, timing each.
class CallingClient : public Client
{
public:
    CallingClient(const QString &host, quint16 port, Tally &tally)
        : Client(host, port, tally)
        , m_request(protocol::frameOf(protocol::encodeRequest(
              { kObject, QStringLiteral("GetTabela"), { { protocol::ArgumentKind::Str, QString(), 0 },
                                                        { protocol::ArgumentKind::Str, QStringLiteral("T"), 0 } } })))
    {
        connect(&m_socket, &QTcpSocket::connected, this, &CallingClient::call);
    }

private:
    void call()
    {
        m_clock.start();
        m_socket.write(m_request);
    }
    void answered(const QByteArray &payload) override
    {
        const qint64 latency = m_clock.nsecsElapsed();
        if (!m_tally.running)
            return;
        if (isBusy(payload)) { // the server closes the connection next
            ++m_tally.busy;
            m_refused = true;
            return;
        }
        bool ok = false;
        try {
            const protocol::Response response = protocol::decodeResponse(payload);
            ok = !response.isException && response.result.toMap().value(QLatin1String("ok")).toBool();
        } catch (const protocol::ProtocolError &) {
        }
        if (ok)
            m_tally.latenciesNs.push_back(latency);
        else
            ++m_tally.errors;
        call();
    }
    void closed() override
    {
        if (!std::exchange(m_refused, false))
            ++m_tally.errors;
        m_frames = protocol::FrameReader(kAnswerLimit);
        QTimer::singleShot(kRetryMs, this, &Client::open); // a refused or dropped caller tries again
    }

    QByteArray m_request;
    QElapsedTimer m_clock;
    bool m_refused = false;
};

// Runs the event loop for `ms`, reading the server's figures as it goes.
void runFor(int ms, qint64 pid, ProcessFigures &most)
{
    QTimer sampler;
    sampler.setInterval(kSampleMs);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const ProcessFigures now = ProcessFigures::of(pid);
        most.peakRssKiB = std::max(most.peakRssKiB, now.peakRssKiB);
        most.threads = std::max(most.threads, now.threads);
        most.descriptors = std::max(most.descriptors, now.descriptors);
    });
    sampler.start();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentileMs(std::vector<qint64> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return double(values.at(size_t(fraction * double(values.size() - 1)))) / 1e6;
}

struct Phase
{
    double callsPerSecond = 0;
    double p50 = 0;
    double p99 = 0;
};

Phase summary(const Tally &tally, int seconds)
{
    return { double(tally.latenciesNs.size()) / seconds, percentileMs(tally.latenciesNs, 0.50),
             percentileMs(tally.latenciesNs, 0.99) };
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A bounded load on qlx02600-server."));
    parser.addHelpOption();
    const QCommandLineOption idleOption(QStringLiteral("idle"), QStringLiteral("Idle clients (default 50)."), QStringLiteral("N"), QStringLiteral("50"));
    const QCommandLineOption slowOption(QStringLiteral("slow"), QStringLiteral("Clients sending a byte a second (default 10)."), QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption callingOption(QStringLiteral("calling"), QStringLiteral("Clients calling without pause (default 4)."), QStringLiteral("N"), QStringLiteral("4"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Length of the loaded run (default 10)."), QStringLiteral("T"), QStringLiteral("10"));
    const QCommandLineOption anchorOption(QStringLiteral("anchor-seconds"), QStringLiteral("Length of the callers' run alone (default 3)."), QStringLiteral("T"), QStringLiteral("3"));
    const QCommandLineOption serverOption(QStringLiteral("server"), QStringLiteral("Server to start on a demo database (default: the one beside this tool)."), QStringLiteral("PATH"),
                                          QCoreApplication::applicationDirPath() + QStringLiteral("/qlx02600-server"));
    const QCommandLineOption serverArgOption(QStringLiteral("server-arg"), QStringLiteral("An argument for the server started (repeatable)."), QStringLiteral("ARG"));
    const QCommandLineOption attachOption(QStringLiteral("attach"), QStringLiteral("Load a running server instead: its process id."), QStringLiteral("PID"));
    const QCommandLineOption addressOption(QStringLiteral("address"), QStringLiteral("The running server's address."), QStringLiteral("HOST:PORT"), QStringLiteral("127.0.0.1:21102"));
    parser.addOptions({ idleOption, slowOption, callingOption, secondsOption, anchorOption, serverOption, serverArgOption, attachOption, addressOption });
    parser.process(app);

    const auto number = [&](const QCommandLineOption &option, int least, int most) {
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        if (!ok || value < least || value > most) {
            err << "--" << option.names().constFirst() << " takes a whole number from " << least << " to " << most << Qt::endl;
            std::exit(2);
        }
        return value;
    };
    const int idle = number(idleOption, 0, kMostClients);
    const int slow = number(slowOption, 0, kMostClients);
    const int calling = number(callingOption, 1, kMostClients);
    const int seconds = number(secondsOption, 1, kMostSeconds);
    const int anchorSeconds = number(anchorOption, 1, kMostSeconds);
    raiseOwnDescriptorLimit();

    QTemporaryDir dir;
    QProcess server;
    qint64 pid = 0;
    QString address = parser.value(addressOption);
    if (parser.isSet(attachOption)) {
        pid = parser.value(attachOption).toLongLong();
    } else {
        const QString database = dir.filePath(QStringLiteral("load.db"));
        QProcess demo;
        demo.setStandardOutputFile(QProcess::nullDevice());
        demo.start(parser.value(serverOption), { QStringLiteral("--init-demo"), database });
        if (!demo.waitForFinished(kServerStartMs) || demo.exitCode() != 0) {
            err << "cannot create a demo database with " << parser.value(serverOption) << Qt::endl;
            return 1;
        }
        server.setStandardErrorFile(dir.filePath(QStringLiteral("server.log")));
        server.start(parser.value(serverOption), QStringList { QStringLiteral("--db"), database, QStringLiteral("--listen"),
                                                               QStringLiteral("127.0.0.1:0") } + parser.values(serverArgOption));
        const QDeadlineTimer deadline(kServerStartMs);
        address.clear();
        while (address.isEmpty() && server.waitForReadyRead(int(deadline.remainingTime()))) {
            const QByteArray line = server.readLine();
            if (line.startsWith("listening on "))
                address = QString::fromLatin1(line.mid(13).trimmed());
        }
        if (address.isEmpty()) {
            err << "the server did not start" << Qt::endl;
            return 1;
        }
        pid = server.processId();
    }
    const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
    const QString host = address.left(colon);
    const quint16 port = address.mid(colon + 1).toUShort();

    const ProcessFigures before = ProcessFigures::of(pid);
    ProcessFigures most = before;

    // The anchor: the callers alone.
    Tally alone;
    alone.running = true;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < calling; ++i)
        clients.push_back(std::make_unique<CallingClient>(host, port, alone));
    for (auto &client : clients)
        client->open();
    runFor(anchorSeconds * 1000, pid, most);
    alone.running = false;
    for (auto &client : clients)
        client->close();
    clients.clear();

    // The load: idle and slow clients connect first, then the callers call beside them.
    Tally loaded;
    loaded.running = true;
    for (int i = 0; i < idle; ++i)
        clients.push_back(std::make_unique<Client>(host, port, loaded));
    for (int i = 0; i < slow; ++i)
        clients.push_back(std::make_unique<SlowClient>(host, port, loaded));
    for (auto &client : clients)
        client->open();
    runFor(kSampleMs, pid, most);
    for (int i = 0; i < calling; ++i) {
        clients.push_back(std::make_unique<CallingClient>(host, port, loaded));
        clients.back()->open();
    }
    runFor(seconds * 1000, pid, most);
    loaded.running = false;
    for (auto &client : clients)
        client->close();
    clients.clear();

    // After: the sessions end a moment after their clients.
    ProcessFigures after = ProcessFigures::of(pid);
    for (const QDeadlineTimer settle(kSettleMs); !settle.hasExpired() && after.threads > before.threads;) {
        runFor(kSampleMs, pid, most);
        after = ProcessFigures::of(pid);
    }

    const Phase anchor = summary(alone, anchorSeconds);
    const Phase load = summary(loaded, seconds);
    out << "load: " << idle << " idle, " << slow << " slow (a byte a second), " << calling << " calling clients for "
        << seconds << " s; server pid " << pid << " at " << address << Qt::endl;
    out << Qt::fixed << qSetRealNumberPrecision(1);
    out << "anchor, " << calling << " calling alone for " << anchorSeconds << " s: " << anchor.callsPerSecond
        << " calls/s, p50 " << qSetRealNumberPrecision(3) << anchor.p50 << " ms, p99 " << anchor.p99 << " ms, errors "
        << alone.errors << Qt::endl;
    out << qSetRealNumberPrecision(1) << "under load: " << load.callsPerSecond << " calls/s ("
        << qSetRealNumberPrecision(2) << (anchor.callsPerSecond > 0 ? load.callsPerSecond / anchor.callsPerSecond : 0)
        << "x the anchor), p50 " << qSetRealNumberPrecision(3) << load.p50 << " ms (" << qSetRealNumberPrecision(2)
        << (anchor.p50 > 0 ? load.p50 / anchor.p50 : 0) << "x), p99 " << qSetRealNumberPrecision(3) << load.p99
        << " ms, errors " << loaded.errors << ", answered busy " << loaded.busy << ", closed by the server "
        << loaded.closedByServer << Qt::endl;
    out << "server: peak RSS " << qSetRealNumberPrecision(1) << double(most.peakRssKiB) / 1024 << " MiB; threads "
        << before.threads << " before, " << most.threads << " at most, " << after.threads << " after; descriptors "
        << before.descriptors << " before, " << most.descriptors << " at most, " << after.descriptors << " after"
        << Qt::endl;

    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(kSettleMs))
            server.kill();
        server.waitForFinished(kSettleMs);
    }
    return 0;
}
