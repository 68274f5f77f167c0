// The client's receive path alone, on a recorded answer of script lines sent over
// loopback as fast as the socket takes it. Each client runs in a process of its own
// (its time, CPU and peak memory its own), in one run beside its anchors:
//   bytes         the stream read and dropped: the floor;
//   fresh-copy    frames cut as the client cut them before: a new buffer per read
//                 and a copy per frame, each part decoded and dropped;
//   reused        frames read into one reused buffer and decoded where they lie;
//   lines-memory  the real call into the line record set, texts in memory, then
//                 the script written from them (the client before its texts went
//                 to a file);
//   lines-file    the real call, texts in a file of the target directory, then
//                 that file kept as the script (synced and renamed).
//
//   bench_receive [--rows N] [--repeat R] [--work DIR]
#include "bench/procstatus.h"

#include "client/recordsetfields.h"
#include "client/remotemethods.h"
#include "client/scriptfile.h"
#include "protocol/datapacket.h"
#include "protocol/frame.h"
#include "protocol/message.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QtEndian>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <map>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr qsizetype kPartSize = qsizetype(1) << 20; // as the server cuts its parts

void must(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "bench_receive: %s\n", what);
        std::exit(1);
    }
}

// The answer's frames: parts of about kPartSize of lines like the generation's,
// then the final response with an empty packet.
QByteArray recordedAnswer(qint64 rows)
{
    const QList<protocol::FieldDesc> fields { { QStringLiteral("LINHA"), protocol::FieldKind::String, 4000 } };
    QByteArray stream;
    auto packet = std::make_unique<protocol::DataPacketWriter>(fields);
    for (qint64 row = 0; row < rows; ++row) {
        const QByteArray line = "INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) VALUES ('TAB"
            + QByteArray::number(row % 20) + "', 'K" + QByteArray::number(row) + "', 'DSNOME', 'ENG', 'Tradu\xe7\xe3o n\xba "
            + QByteArray::number(row * 7919 % 100000) + "', 46000.25) ON CONFLICT (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA) "
            "DO UPDATE SET DSTRADUCAO = excluded.DSTRADUCAO, DTALTERACAO = excluded.DTALTERACAO;";
        packet->addString(line);
        if (packet->size() >= kPartSize) {
            stream += protocol::frameOf(protocol::encodePart(packet->finish()));
            packet = std::make_unique<protocol::DataPacketWriter>(fields);
        }
    }
    if (packet->size() > 0)
        stream += protocol::frameOf(protocol::encodePart(packet->finish()));
    protocol::DataPacketWriter last(fields);
    stream += protocol::frameOf(protocol::encodeOkResponse(last.finish(), { QStringLiteral("TAB") }));
    return stream;
}

// Serves the recorded answer to every connection, after reading its request frame.
class Replayer
{
public:
    explicit Replayer(const QByteArray &answer)
        : m_answer(answer)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        must(::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0, "bind");
        must(::listen(m_listener, 4) == 0, "listen");
        socklen_t size = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~Replayer()
    {
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        m_thread.join();
    }
    int port() const { return m_port; }

private:
    void serve()
    {
        for (;;) {
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client < 0)
                return;
            quint32 length = 0;
            bool ok = ::recv(client, &length, 4, MSG_WAITALL) == 4;
            QByteArray request(qsizetype(ntohl(length)), Qt::Uninitialized);
            ok = ok && ::recv(client, request.data(), size_t(request.size()), MSG_WAITALL) == request.size();
            for (qsizetype sent = 0; ok && sent < m_answer.size();) {
                const ssize_t n = ::send(client, m_answer.constData() + sent, size_t(m_answer.size() - sent), MSG_NOSIGNAL);
                ok = n > 0;
                sent += n;
            }
            char drain[64];
            while (ok && ::recv(client, drain, sizeof drain, 0) > 0) { } // until the client closes
            ::close(client);
        }
    }

    QByteArray m_answer;
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
};

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void sendRequest(QTcpSocket &socket)
{
    socket.write(protocol::frameOf("request"));
    must(socket.waitForBytesWritten(10000), "request not sent");
}

// Reads frames until the one that is not a part; the records the parts held.
template<typename NextFrame>
qint64 readParts(NextFrame nextFrame)
{
    struct Count : protocol::DataPacketDiscard
    {
        qint64 rows = 0;
        void endRow() override { ++rows; }
    } count;
    for (;;) {
        const QByteArray payload = nextFrame();
        if (!protocol::readPart(payload, count))
            return count.rows;
    }
}

// One client run; prints "<seconds> <cpu seconds> <peak kB> <idle kB> <records>".
int runClient(const QString &mode, int port, const QString &directory, qint64 streamSize)
{
    QTcpSocket socket;
    const qint64 idle = procStatusKiB(0, "VmRSS");
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    qint64 records = 0;
    const auto waitMore = [&socket] { must(socket.bytesAvailable() > 0 || socket.waitForReadyRead(60000), "no answer"); };
    if (mode == QLatin1String("bytes") || mode == QLatin1String("fresh-copy") || mode == QLatin1String("reused")) {
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        must(socket.waitForConnected(10000), "no connection");
        sendRequest(socket);
    }
    if (mode == QLatin1String("bytes")) {
        std::vector<char> dropped(static_cast<size_t>(kPartSize));
        for (qint64 left = streamSize; left > 0;) {
            waitMore();
            left -= socket.read(dropped.data(), std::min<qint64>(left, qint64(dropped.size())));
        }
    } else if (mode == QLatin1String("fresh-copy")) {
        QByteArray buffer;
        qsizetype start = 0;
        records = readParts([&] {
            for (;;) {
                const qsizetype available = buffer.size() - start;
                if (available >= 4) {
                    const qint64 length = qFromBigEndian<quint32>(buffer.constData() + start);
                    if (available >= 4 + length) {
                        const QByteArray payload = buffer.mid(start + 4, length);
                        start += 4 + length;
                        return payload;
                    }
                }
                waitMore();
                if (start == buffer.size()) {
                    buffer = socket.readAll();
                    start = 0;
                } else {
                    buffer.remove(0, start);
                    start = 0;
                    buffer += socket.readAll();
                }
            }
        });
    } else if (mode == QLatin1String("reused")) {
        protocol::FrameReader reader;
        records = readParts([&] {
            QByteArrayView payload;
            while (!reader.next(payload)) {
                waitMore();
                reader.readFrom(socket);
            }
            return QByteArray::fromRawData(payload.data(), payload.size());
        });
    } else {
        TNetConnection connection;
        connection.Host = QStringLiteral("127.0.0.1");
        connection.Port = port;
        TClientDataSet lines;
        TField *line = DeclareLineField(lines);
        const bool inFile = mode == QLatin1String("lines-file");
        if (inFile)
            KeepScriptLinesIn(lines, *line, (directory + QLatin1Char('/')).toStdString(), QString());
        AnsiString list = "TAB";
        GetPropriedCds(connection, "ENG", list, 0, lines);
        records = lines.RecordCount();
        WriteScriptFile((directory + QStringLiteral("/received.sql")).toStdString(), lines, *line);
    }
    std::printf("%.3f %.3f %lld %lld %lld\n", double(clock.nsecsElapsed()) / 1e9, cpuSeconds() - cpuBefore,
                static_cast<long long>(procStatusKiB(0, "VmHWM")), static_cast<long long>(idle),
                static_cast<long long>(records));
    return 0;
}

struct Run
{
    double seconds = 1e300;
    double cpu = 0;
    qint64 aboveIdleKiB = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption rowsOption(QStringLiteral("rows"), QStringLiteral("Lines in the answer."), QStringLiteral("N"),
                                        QStringLiteral("1000000"));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"), QStringLiteral("Runs of each client; the fastest counts."),
                                          QStringLiteral("R"), QStringLiteral("3"));
    const QCommandLineOption workOption(QStringLiteral("work"), QStringLiteral("Directory for the script file."),
                                        QStringLiteral("DIR"), QStringLiteral(QLX_BENCH_WORK));
    const QCommandLineOption clientOption(QStringLiteral("client"), QStringLiteral("(internal) one client run."),
                                          QStringLiteral("MODE"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("(internal)"), QStringLiteral("PORT"));
    const QCommandLineOption bytesOption(QStringLiteral("bytes"), QStringLiteral("(internal)"), QStringLiteral("N"));
    parser.addOptions({ rowsOption, repeatOption, workOption, clientOption, portOption, bytesOption });
    parser.addHelpOption();
    parser.process(app);
    const QString work = parser.value(workOption);
    if (parser.isSet(clientOption))
        return runClient(parser.value(clientOption), parser.value(portOption).toInt(), work,
                         parser.value(bytesOption).toLongLong());

    must(QDir().mkpath(work), "cannot create the work directory");
    const qint64 rows = parser.value(rowsOption).toLongLong();
    const int repeat = std::max(1, parser.value(repeatOption).toInt());
    const QByteArray answer = recordedAnswer(rows);
    Replayer replayer(answer);
    std::printf("bench_receive: %lld lines, answer %.1f MiB; %d run(s) of each client, the fastest counts "
                "(a shared machine: figures are noisy)\n",
                static_cast<long long>(rows), double(answer.size()) / 1048576.0, repeat);
    const QStringList modes { QStringLiteral("bytes"), QStringLiteral("fresh-copy"), QStringLiteral("reused"),
                              QStringLiteral("lines-memory"), QStringLiteral("lines-file") };
    std::map<QString, Run> runs;
    for (int pass = 0; pass < repeat; ++pass) {
        for (const QString &mode : modes) { // interleaved, so that a busy moment spreads over all
            QProcess client;
            client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            client.start(QCoreApplication::applicationFilePath(),
                         { QStringLiteral("--client"), mode, QStringLiteral("--port"), QString::number(replayer.port()),
                           QStringLiteral("--work"), work, QStringLiteral("--bytes"), QString::number(answer.size()) });
            must(client.waitForFinished(-1) && client.exitCode() == 0, "a client failed");
            const QList<QByteArray> out = client.readAllStandardOutput().trimmed().split(' ');
            must(out.size() == 5, "a client printed no figures");
            Run &run = runs[mode];
            if (out.at(0).toDouble() < run.seconds) {
                run.seconds = out.at(0).toDouble();
                run.cpu = out.at(1).toDouble();
            }
            run.aboveIdleKiB = std::max(run.aboveIdleKiB, out.at(2).toLongLong() - out.at(3).toLongLong());
        }
        QFile::remove(work + QStringLiteral("/received.sql"));
    }
    const Run &floor = runs[QStringLiteral("bytes")];
    for (const QString &mode : modes) {
        const Run &run = runs[mode];
        std::printf("%-13s %7.3f s (%5.2fx the bytes alone)  CPU %6.3f s  peak %7.1f MiB above idle\n", qPrintable(mode),
                    run.seconds, run.seconds / floor.seconds, run.cpu, double(run.aboveIdleKiB) / 1024.0);
    }
    const Run &fresh = runs[QStringLiteral("fresh-copy")];
    const Run &reused = runs[QStringLiteral("reused")];
    std::printf("reused buffer / fresh buffers: %.2fx the time, %.2fx the CPU\n", reused.seconds / fresh.seconds,
                reused.cpu / fresh.cpu);
    const Run &memory = runs[QStringLiteral("lines-memory")];
    const Run &file = runs[QStringLiteral("lines-file")];
    std::printf("lines in a file (kept as the script) / lines in memory (then written): %.2fx the time, %.2fx the memory\n",
                file.seconds / memory.seconds, double(file.aboveIdleKiB) / double(std::max<qint64>(memory.aboveIdleKiB, 1)));
    return 0;
}
