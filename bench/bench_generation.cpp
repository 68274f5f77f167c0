// A whole generation at scale: the real qlx02600-server streams GetPropriedCds
// from its database to qlx02600-gen and to the screen's own client path, with no
// display, in rounds. Each round runs in turn, on the same data:
//   - the write: the script, read into memory beforehand, written to a fresh file
//     as the clients write theirs (1 MiB writes, the disk asked to start every
//     8 MiB) and synced (fdatasync);
//   - the stock-tools job composing the identical file (shell | iconv | CR LF | sync);
//   - the rows read as the server reads them, each row's texts copied out, then
//     again with each row's line composed: one of the two is the least a thread
//     reading the rows does before the next row, whose step ends the last row's texts;
//   - the bare query: the rows read in this process as the server reads them
//     (its query and client-library calls), every column touched, nothing kept;
//   - qlx02600-gen end to end, just after the query;
//   - the screen's client path (fetch into the line record set, then the file).
// The floor is the slower of the bare query and the write (the server reads while
// the client writes); the CPU floor is the CPU of the server and the generator
// spread over the online cores; the work floor is the CPU of the work no generation
// avoids (the query, the lines composed as the server composes them, the script's
// bytes carried over a loopback connection, the write) over the cores; the thread
// floor is the slower of the write and the quicker of the two readings above. Every job writes a
// file of its own, which is fingerprinted, deleted and synced, then a pause, before
// the next job: a script left on disk makes the next one's writes dearer here.
// Prints each round's ratios, their median and range, the targets met or not, the
// peak memory of each side above its idle, and whether the files are byte-identical.
//
//   bench_generation [--rows N]... [--repeat R] [--work DIR] [--postgres URI] [--tls] [--memory-only]
//
// Without --rows it runs 1 000 000 rows (add --rows 5000000 for the large case;
// 10M and 50M run the same way, at about 320 bytes of script a line). --repeat is
// the number of rounds (3 by default). A run needs room on disk for two scripts
// (the warm-up's and one job's), and the page cache must hold one for the write.
// The answer limits of server and clients are raised above the script.
// --memory-only leaves out the write and the stock-tools job: for memory figures
// at 50M rows, where a full round takes long and a script does not fit in memory;
// it compares the screen path's file to the generator's. With --tls it runs
// instead rounds of the screen's client path over plaintext and over TLS with
// client certificates, and prints TLS's ratio to plaintext and its extra CPU
// beside the negotiated cipher's own cost and TLS straight on a loopback connection. SQLite
// databases are kept in the work directory (default build/bench-work) and reused by
// later runs. With --postgres
// it also runs on that PostgreSQL database (its tables are replaced by the same
// rows), against a psql | iconv | sed job.
#include "bench/appserverprocess.h"
#include "bench/ciphercost.h"
#include "bench/must.h"
#include "bench/proccpu.h"
#include "bench/procstatus.h"
#include "bench/roundspread.h"
#include "bench/scriptwrite.h"
#include "bench/seeddatabase.h"
#include "bench/serverbarequery.h"
#include "bench/shellcommand.h"
#include "bench/sockettls.h"
#include "bench/stockquery.h"
#include "bench/timedprogram.h"
#include "bench/tlssession.h"

#include "client/remotemethods.h"
#include "client/scriptfile.h"
#include "protocol/contract.h"
#include "runtime/core/answerheap.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

// Pause after a job's file is deleted and synced: the next job does not pay for the
// last one's writeback.
constexpr int kSettlePauseMs = 2000;
// Targets of the team, as multiples or limits.
constexpr double kSqliteFloorTarget = 1.3; // generator against the floor on SQLite
constexpr double kPostgresFloorTarget = 1.5; // generator against the floor on PostgreSQL
constexpr double kSqliteStockTarget = 0.5; // generator against the stock-tools job on SQLite
constexpr double kPostgresStockTarget = 0.6; // generator against the stock-tools job on PostgreSQL
constexpr double kCpuPerLineTarget = 0.8; // µs of CPU a line, server and client
constexpr double kClientMemoryTarget = 32; // MiB above idle, generator and screen path
constexpr double kServerMemoryTarget = 64; // MiB above idle
constexpr double kScreenTarget = 1.2; // screen path against the generator
constexpr double kFirstPartTarget = 0.1; // first part's moment as a share of the fetch
constexpr double kTlsTarget = 1.25; // TLS against plaintext
// Times TLS straight on a loopback connection is measured against plaintext over one.
constexpr int kSocketCarryPasses = 5;

// The table-list argument: every table, padded to 20 and joined.
QString tableList()
{
    QString list;
    for (int i = 1; i <= kTables; ++i)
        list += tableCode(i).leftJustified(20, QLatin1Char(' '));
    return list;
}

// The server's request for every table since the beginning.
ScriptRowsRequest everyRow()
{
    ScriptRowsRequest request { QLatin1String(kLanguage), 0, {} };
    for (int i = 1; i <= kTables; ++i)
        request.tables << tableCode(i);
    return request;
}

double mib(qint64 bytes)
{
    return double(bytes) / 1048576.0;
}

// CPU seconds of every child process waited for so far.
double childrenCpu()
{
    return rusageCpuSeconds(RUSAGE_CHILDREN);
}

// What the kernel can give without swapping, in KiB.
qint64 memoryAvailableKiB()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    must(meminfo.open(QIODevice::ReadOnly), QStringLiteral("cannot read /proc/meminfo"));
    for (const QByteArray &line : meminfo.readAll().split('\n')) {
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

const char *verdict(bool met)
{
    return met ? "met" : "NOT met";
}

// The machine's load, as uptime prints it.
void printLoad(const char *when)
{
    QProcess uptime;
    uptime.start(QStringLiteral("uptime"), QStringList());
    uptime.waitForFinished(10000);
    std::printf("load at the %s: %s\n", when, uptime.readAllStandardOutput().trimmed().constData());
    std::fflush(stdout);
}

// Writes a text file, or stops the bench.
void writeFile(const QString &path, const QString &text)
{
    QFile file(path);
    must(file.open(QIODevice::WriteOnly | QIODevice::Truncate), QStringLiteral("cannot write ") + path);
    file.write(text.toUtf8());
}

// A script's SHA-256, to compare the runs' files without keeping them.
QByteArray fingerprint(const QString &path)
{
    QFile file(path);
    must(file.open(QIODevice::ReadOnly), QStringLiteral("cannot read ") + path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    must(hash.addData(&file), QStringLiteral("cannot read ") + path);
    return hash.result();
}

// Deletes a run's file, then lets the disk settle before the next run. A script kept
// on disk makes the next run's writes slower on this machine (a virtual machine).
void setAside(const QString &path)
{
    must(QFile::remove(path), QStringLiteral("cannot delete ") + path);
    timedShell(QStringLiteral("sync"));
    QThread::msleep(kSettlePauseMs);
}

// Deletes a round's files, then lets the disk settle before the next round.
void clearRound(const QString &directory)
{
    QDir(directory).removeRecursively();
    timedShell(QStringLiteral("sync"));
    QThread::msleep(kSettlePauseMs);
}

// The client side, in a process of its own so that its peak memory is its own:
// GetPropriedCds into the line record set, its texts kept in the target directory,
// then the script file, exactly as the screen does them. Idle is the process after
// one small call. Prints "client <fetch s> <write s> <peak kB> <records> <first part s> <idle kB>".
int runClient(int port, const QString &directory, const TTlsFiles &tls)
{
    KeepAnswerBuffersInHeap(); // as qlxhost does at its start
    TNetConnection connection;
    connection.ServerName = QLatin1String(protocol::contract::kObjectName);
    connection.Host = QStringLiteral("127.0.0.1");
    connection.Port = port;
    connection.Tls = tls;
    {
        TClientDataSet languages;
        languages.AddField(QStringLiteral("IDIDIOMA"), TFieldType::ftString, 3);
        GetIdioma(connection, languages);
    }
    const qint64 idleKiB = procStatusKiB(0, "VmRSS");
    TClientDataSet lines;
    TField *line = lines.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
    KeepScriptLinesIn(lines, *line, (directory + QLatin1Char('/')).toStdString(), QString());
    AnsiString list = tableList().toStdString();
    QElapsedTimer clock;
    clock.start();
    double firstPart = -1;
    GetPropriedCds(connection, kLanguage, list, 0, lines, [&](qsizetype) {
        if (firstPart < 0)
            firstPart = double(clock.nsecsElapsed()) / 1e9;
    });
    const double fetch = double(clock.nsecsElapsed()) / 1e9;
    clock.restart();
    WriteScriptFile((directory + QStringLiteral("/ours.sql")).toStdString(), lines, *line);
    const double write = double(clock.nsecsElapsed()) / 1e9;
    std::printf("client %.3f %.3f %lld %lld %.3f %lld\n", fetch, write, static_cast<long long>(procStatusKiB(0, "VmHWM")),
                static_cast<long long>(lines.RecordCount()), firstPart, static_cast<long long>(idleKiB));
    return 0;
}

// One run of the screen's client path (runClient in a process of its own): its
// time is the fetch and the file's write, as the screen's user waits for them.
struct ScreenRun
{
    double seconds = 0;
    double firstPart = 0;
    double cpu = 0; // the client process's
    qint64 peakKiB = 0;
    qint64 idleKiB = 0;
    QString file;
};

ScreenRun runScreenPath(const QString &self, int port, const QString &directory, qint64 rows,
                        const QStringList &tlsArguments = {})
{
    must(QDir().mkpath(directory), QStringLiteral("cannot create ") + directory);
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const double cpuBefore = childrenCpu();
    client.start(self, QStringList { QStringLiteral("--client"), QString::number(port), directory } + tlsArguments);
    must(client.waitForFinished(-1) && client.exitCode() == 0, QStringLiteral("client failed"));
    const QList<QByteArray> out = client.readAllStandardOutput().trimmed().split(' ');
    must(out.size() == 7 && out.at(0) == "client", QStringLiteral("client printed no figures"));
    must(out.at(4).toLongLong() == rows, QStringLiteral("the client received %1 records, not %2").arg(out.at(4)).arg(rows));
    return { out.at(1).toDouble() + out.at(2).toDouble(), out.at(5).toDouble(), childrenCpu() - cpuBefore,
             out.at(3).toLongLong(), out.at(6).toLongLong(), directory + QStringLiteral("/ours.sql") };
}

// A server started for one round, warmed by one small call so that its idle is a
// served state.
// The answer limits of server and clients, raised above every script the bench
// makes (16 GiB at 50M rows; the default is 4 GiB).
constexpr qint64 kAnswerLimitMiB = qint64(1) << 20;

struct WarmServer
{
    WarmServer(const QString &binaries, const QString &database, const QString &self)
        : server(binaries + QStringLiteral("/qlx02600-server"), database,
                 { QStringLiteral("--max-answer"), QString::number(kAnswerLimitMiB << 20) })
    {
        QProcess warm;
        warm.start(self, { QStringLiteral("--warm"), QString::number(server.port()) });
        warm.waitForFinished(60000);
        idleKiB = procStatusKiB(server.pid(), "VmRSS");
    }
    AppServerProcess server;
    qint64 idleKiB = 0;
};

// qlx02600-gen fetching every row from the server into `directory`: its run and
// its CPU with the server's, and the script it wrote.
struct GeneratorRun
{
    Run run;
    double cpu = 0;
    QString file;
};

GeneratorRun runGenerator(const QString &binaries, const AppServerProcess &server, const QString &directory)
{
    must(QDir().mkpath(directory), QStringLiteral("cannot create ") + directory);
    const double serverCpuBefore = procCpuSeconds(server.pid());
    const double cpuBefore = childrenCpu();
    const Run run = timedProgram(binaries + QStringLiteral("/qlx02600-gen"),
        { QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(server.port()), QStringLiteral("--language"),
          QLatin1String(kLanguage), QStringLiteral("--since"), QStringLiteral("1899-12-30 00:00"), QStringLiteral("--all"),
          QStringLiteral("--dir"), directory });
    const double cpu = procCpuSeconds(server.pid()) - serverCpuBefore + childrenCpu() - cpuBefore;
    const QStringList written = QDir(directory).entryList({ QStringLiteral("TRD_*.sql") }, QDir::Files);
    must(written.size() == 1, QStringLiteral("the generator wrote no script"));
    return { run, cpu, directory + QLatin1Char('/') + written.first() };
}

// Where the rows live and the stock-tools job on that backend.
struct Backend
{
    QString name;
    QString database; // the server's --db
    QString stockCommand; // composes the script into %1, then syncs
    double stockTarget; // the generator's target as a share of the stock job
    double floorTarget; // the generator's target as a multiple of the floor
};

// One round's figures; the write and the stock job are 0 when left out.
struct Round
{
    double bare = 0;
    double bareCpu = 0;
    double readCopying = 0; // the query, each row's texts copied out
    double readComposing = 0; // the query, each row's line composed
    double write = 0;
    double writeCpu = 0;
    double carryCpu = 0; // the script's bytes over a loopback connection, both ends
    double composeCpu = 0; // the lines composed from the rows, as the server does, alone
    double stock = 0;
    double stockCpu = 0;
    double generator = 0;
    double generatorCpu = 0; // with the server's
    double screen = 0;
    double screenCpu = 0; // with the server's
    double firstPartShare = 0;
    double generatorAboveMiB = 0;
    double screenAboveMiB = 0;
    double serverAboveMiB = 0;
    bool identical = true;

    double floor() const { return std::max(bare, write); }
    // What the thread that reads the rows must do at least: each row is copied out
    // or composed before the next, whichever costs less.
    double readingThread() const { return std::min(readCopying, readComposing); }
    double threadFloor() const { return std::max(readingThread(), write); }
    // The CPU of the work no generation avoids: reading the rows, composing their
    // lines, carrying them from the server to the client, writing the file.
    double workCpu() const { return bareCpu + composeCpu + carryCpu + writeCpu; }
};

// A column of figures over the rounds.
template<typename Figure>
std::vector<double> column(const std::vector<Round> &rounds, Figure figure)
{
    std::vector<double> values;
    for (const Round &round : rounds)
        values.push_back(figure(round));
    return values;
}

void benchmark(const Backend &backend, qint64 rows, int rounds, bool memoryOnly, const QString &work,
               const QString &self, const QString &binaries)
{
    const int cores = int(sysconf(_SC_NPROCESSORS_ONLN));
    const double perLine = 1e6 / double(rows); // seconds of the whole to µs a line

    // A first generation, untimed: the database in the page cache, the script the
    // write floor copies, and the generator's memory with no line to fetch.
    const QString warmDir = work + QStringLiteral("/warm-up");
    QDir(warmDir).removeRecursively();
    qint64 generatorIdleKiB = 0;
    QString script;
    {
        WarmServer warm(binaries, backend.database, self);
        script = runGenerator(binaries, warm.server, warmDir).file;
        generatorIdleKiB = timedProgram(binaries + QStringLiteral("/qlx02600-gen"),
            { QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(warm.server.port()), QStringLiteral("--language"),
              QLatin1String(kLanguage), QStringLiteral("--since"), QStringLiteral("2999-12-31 00:00"), QStringLiteral("--all"),
              QStringLiteral("--dir"), work }, 1).peakKiB; // nothing to write, so no file in the way
    }
    const qint64 scriptBytes = QFileInfo(script).size();
    if (memoryOnly)
        QDir(warmDir).removeRecursively(); // room on disk: no write copies it
    else
        must(scriptBytes / 1024 <= memoryAvailableKiB() / 2,
             QStringLiteral("the script (%1 MiB) cannot be held in memory for the write: use --memory-only").arg(mib(scriptBytes)));
    std::printf("\n== %s, %lld rows: script %.1f MiB, %.0f bytes a line; %d online cores ==\n", qPrintable(backend.name),
                static_cast<long long>(rows), mib(scriptBytes), double(scriptBytes) / double(rows), cores);
    std::printf("round  query  write  stock    gen screen | gen/floor gen/stock screen/gen | CPU us/line gen/CPU-floor"
                " | gen+MiB screen+MiB\n");
    std::fflush(stdout);

    std::vector<Round> figures;
    for (int pass = 1; pass <= rounds; ++pass) {
        Round r;
        const QString roundDir = work + QStringLiteral("/round-%1").arg(pass);
        must(QDir().mkpath(roundDir), QStringLiteral("cannot create ") + roundDir);

        // Each job's file is fingerprinted and set aside before the next job: none
        // writes after another's script.
        QByteArray stockPrint;
        if (!memoryOnly) {
            {
                const ScriptInMemory bytes(script);
                must(bytes.size() == size_t(scriptBytes), QStringLiteral("cannot read ") + script);
                const QString copy = roundDir + QStringLiteral("/write.sql");
                const ScriptInMemory::Written written = bytes.writeTo(copy);
                must(written.seconds >= 0, QStringLiteral("cannot write the script's copy"));
                r.write = written.seconds;
                r.writeCpu = written.cpu;
                setAside(copy);
            }
            const QString stockFile = roundDir + QStringLiteral("/stock.sql");
            const double stockCpuBefore = childrenCpu();
            r.stock = timedShell(backend.stockCommand.arg(shellQuoted(stockFile)));
            r.stockCpu = childrenCpu() - stockCpuBefore;
            stockPrint = fingerprint(stockFile);
            setAside(stockFile);
        }
        r.carryCpu = socketCarryCpuSeconds(scriptBytes);
        must(r.carryCpu >= 0, QStringLiteral("cannot carry the script over a loopback connection"));
        r.composeCpu = composeCpuSeconds(backend.database, everyRow());
        must(r.composeCpu >= 0, QStringLiteral("cannot compose the lines in the bench"));

        const auto readRows = [&](RowWork work) {
            const BareQuery read = readRowsAsTheServer(backend.database, everyRow(), work);
            must(read.error.isEmpty() && read.rows == rows,
                 QStringLiteral("reading the rows: %1 rows of %2 %3").arg(read.rows).arg(rows).arg(read.error));
            return read.seconds;
        };
        r.readCopying = readRows(RowWork::CopyOut);
        r.readComposing = readRows(RowWork::Compose);

        // The query runs just before the generator: this machine's speed drifts over
        // seconds, and the two are compared.
        const BareQuery bare = readRowsAsTheServer(backend.database, everyRow());
        must(bare.error.isEmpty() && bare.rows == rows,
             QStringLiteral("bare query: %1 rows of %2 %3").arg(bare.rows).arg(rows).arg(bare.error));
        r.bare = bare.seconds;
        r.bareCpu = bare.cpu;
        WarmServer served(binaries, backend.database, self);
        const GeneratorRun generated = runGenerator(binaries, served.server, roundDir + QStringLiteral("/generated"));
        r.generator = generated.run.wall;
        r.generatorCpu = generated.cpu;
        r.generatorAboveMiB = mib((generated.run.peakKiB - generatorIdleKiB) * 1024);
        const QByteArray generatedPrint = fingerprint(generated.file);
        setAside(generated.file);

        const double serverCpuBefore = procCpuSeconds(served.server.pid());
        const ScreenRun screen = runScreenPath(self, served.server.port(), roundDir + QStringLiteral("/screen"), rows);
        r.screen = screen.seconds;
        r.screenCpu = screen.cpu + procCpuSeconds(served.server.pid()) - serverCpuBefore;
        r.firstPartShare = screen.firstPart / screen.seconds;
        r.screenAboveMiB = mib((screen.peakKiB - screen.idleKiB) * 1024);
        r.serverAboveMiB = mib((procStatusKiB(served.server.pid(), "VmHWM") - served.idleKiB) * 1024);
        const QByteArray screenPrint = fingerprint(screen.file);
        setAside(screen.file);

        const QByteArray &reference = memoryOnly ? generatedPrint : stockPrint;
        r.identical = generatedPrint == reference && screenPrint == reference;
        figures.push_back(r);
        const auto stockText = [&](double seconds, const char *format) {
            return memoryOnly ? QStringLiteral("-") : QString::asprintf(format, seconds);
        };
        std::printf("%5d %6.2f %6s %6s %6.2f %6.2f | %8.2fx %9s %9.2fx | %11.2f %11.2fx | %7.1f %10.1f%s\n", pass, r.bare,
                    qPrintable(stockText(r.write, "%.2f")), qPrintable(stockText(r.stock, "%.2f")), r.generator, r.screen,
                    r.generator / r.floor(), qPrintable(stockText(r.generator / r.stock, "%.2fx")), r.screen / r.generator,
                    r.generatorCpu * perLine, r.generator / std::max(r.floor(), r.generatorCpu / cores),
                    r.generatorAboveMiB, r.screenAboveMiB, r.identical ? "" : "  (files differ)");
        std::fflush(stdout);
        QDir(roundDir).removeRecursively(); // its jobs' files are set aside, synced and settled already
    }
    QDir(warmDir).removeRecursively();

    const auto spread = [&](auto figure) { return spreadOf(column(figures, figure)); };
    const RoundSpread bare = spread([](const Round &r) { return r.bare; });
    const RoundSpread write = spread([](const Round &r) { return r.write; });
    const RoundSpread floor = spread([](const Round &r) { return r.floor(); });
    const RoundSpread sum = spread([](const Round &r) { return r.bare + r.write; });
    const RoundSpread generator = spread([](const Round &r) { return r.generator; });
    const RoundSpread toFloor = spread([](const Round &r) { return r.generator / r.floor(); });
    const RoundSpread toStock = spread([](const Round &r) { return r.generator / r.stock; });
    const RoundSpread stockCpu = spread([](const Round &r) { return r.generatorCpu / r.stockCpu; });
    const RoundSpread screenToGenerator = spread([](const Round &r) { return r.screen / r.generator; });
    const RoundSpread cpu = spread([&](const Round &r) { return r.generatorCpu * perLine; });
    const RoundSpread screenCpu = spread([&](const Round &r) { return r.screenCpu * perLine; });
    // The CPU no generation can do without: reading the rows, carrying the script's
    // bytes from the server to the client, and writing the file.
    const RoundSpread floorCpu = spread([&](const Round &r) { return (r.bareCpu + r.carryCpu + r.writeCpu) * perLine; });
    const RoundSpread composeCpu = spread([&](const Round &r) { return r.composeCpu * perLine; });
    const RoundSpread cpuFloor = spread([&](const Round &r) { return r.generatorCpu / cores; });
    const RoundSpread toBothFloors = spread([&](const Round &r) { return r.generator / std::max(r.floor(), r.generatorCpu / cores); });
    const RoundSpread workFloor = spread([&](const Round &r) { return r.workCpu() / cores; });
    const RoundSpread toWorkFloor = spread([&](const Round &r) { return r.generator / std::max(r.floor(), r.workCpu() / cores); });
    const RoundSpread readCopying = spread([](const Round &r) { return r.readCopying; });
    const RoundSpread readComposing = spread([](const Round &r) { return r.readComposing; });
    const RoundSpread threadFloor = spread([](const Round &r) { return r.threadFloor(); });
    const RoundSpread toThreadFloor = spread([](const Round &r) { return r.generator / r.threadFloor(); });
    const RoundSpread firstPart = spread([](const Round &r) { return r.firstPartShare; });
    const double generatorAbove = spread([](const Round &r) { return r.generatorAboveMiB; }).max;
    const double screenAbove = spread([](const Round &r) { return r.screenAboveMiB; }).max;
    const double serverAbove = spread([](const Round &r) { return r.serverAboveMiB; }).max;
    const bool identical = std::all_of(figures.begin(), figures.end(), [](const Round &r) { return r.identical; });
    const auto line = [](const char *name, const RoundSpread &s, const char *unit) {
        std::printf("  %-34s median %7.2f%s  (%.2f-%.2f)\n", name, s.median, unit, s.min, s.max);
    };
    std::printf("over %d round(s), median (min-max):\n", rounds);
    line("bare query, as the server reads", bare, " s");
    if (!memoryOnly)
        line("write of the script, fdatasync", write, " s");
    line("floor = max(query, write)", floor, " s");
    if (!memoryOnly)
        line("query + write, for reference", sum, " s");
    line("CPU floor = CPU / cores", cpuFloor, " s");
    line(memoryOnly ? "query+carry CPU, us a line" : "query+carry+write CPU, us a line", floorCpu, "");
    line("composing the lines, us a line", composeCpu, "");
    line("work floor = (both) / cores", workFloor, " s");
    line("query, each row copied out", readCopying, " s");
    line("query, each line composed", readComposing, " s");
    line(memoryOnly ? "thread floor = least of both" : "thread floor = max(least, write)", threadFloor, " s");
    line("qlx02600-gen end to end", generator, " s");
    line("gen / max(floor, CPU floor)", toBothFloors, "x");
    line("gen / max(floor, work floor)", toWorkFloor, "x");
    line("gen / thread floor", toThreadFloor, "x");
    if (!memoryOnly)
        line("gen CPU / stock job's CPU", stockCpu, "x");
    line("screen path CPU, us a line", screenCpu, "");
    std::printf("targets:\n");
    std::printf("  gen / floor                %.2fx (%.2f-%.2f)  <= %.2f: %s  (against max(floor, work floor): %.2fx;"
                " against the thread floor: %.2fx)\n",
                toFloor.median, toFloor.min, toFloor.max, backend.floorTarget, verdict(toFloor.median <= backend.floorTarget),
                toWorkFloor.median, toThreadFloor.median);
    if (!memoryOnly)
        std::printf("  gen / stock-tools job      %.2fx (%.2f-%.2f)  <= %.2f: %s\n", toStock.median, toStock.min,
                    toStock.max, backend.stockTarget, verdict(toStock.median <= backend.stockTarget));
    std::printf("  CPU a line, server + gen   %.2f us (%.2f-%.2f)  <= %.2f: %s  (the floor's own CPU: %.2f us;"
                " with composing the lines: %.2f us)\n",
                cpu.median, cpu.min, cpu.max, kCpuPerLineTarget, verdict(cpu.median <= kCpuPerLineTarget), floorCpu.median,
                spread([&](const Round &r) { return r.workCpu() * perLine; }).median);
    std::printf("  screen path / gen          %.2fx (%.2f-%.2f)  <= %.2f: %s\n", screenToGenerator.median,
                screenToGenerator.min, screenToGenerator.max, kScreenTarget, verdict(screenToGenerator.median <= kScreenTarget));
    std::printf("  first part at the screen   %.0f%% of its fetch  <= %.0f%%: %s\n", 100 * firstPart.median,
                100 * kFirstPartTarget, verdict(firstPart.median <= kFirstPartTarget));
    std::printf("  gen memory above idle      %.1f MiB at most  <= %.0f: %s\n", generatorAbove, kClientMemoryTarget,
                verdict(generatorAbove <= kClientMemoryTarget));
    std::printf("  screen memory above idle   %.1f MiB at most  <= %.0f: %s\n", screenAbove, kClientMemoryTarget,
                verdict(screenAbove <= kClientMemoryTarget));
    std::printf("  server memory above idle   %.1f MiB at most  <= %.0f: %s\n", serverAbove, kServerMemoryTarget,
                verdict(serverAbove <= kServerMemoryTarget));
    std::printf("  files byte-identical       %s in every round (gen and screen path against %s)\n",
                identical ? "yes" : "NO", memoryOnly ? "each other" : "the stock-tools job");
    std::fflush(stdout);
}

// A throw-away authority, the server's certificate for 127.0.0.1 and a client's,
// made once in the work directory.
QString benchCertificates(const QString &work)
{
    const QString dir = work + QStringLiteral("/tls");
    if (QFile::exists(dir + QStringLiteral("/client.pem")))
        return dir;
    must(QDir().mkpath(dir), QStringLiteral("cannot create ") + dir);
    const QString issue = QStringLiteral(
        "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout %1.key -out %1.csr -subj /CN=%1 "
        "&& printf 'subjectAltName=%2\\n' > %1.ext && openssl x509 -req -in %1.csr -CA ca.pem -CAkey ca.key "
        "-CAcreateserial -days 3650 -extfile %1.ext -out %1.pem");
    timedShell(QStringLiteral("cd %1 && { openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                              "-keyout ca.key -out ca.pem -subj /CN=bench-ca -days 3650 && %2 && %3; } >/dev/null 2>&1")
                   .arg(shellQuoted(dir), issue.arg(QStringLiteral("server"), QStringLiteral("IP:127.0.0.1")),
                        issue.arg(QStringLiteral("client"), QStringLiteral("DNS:client"))));
    return dir;
}

// Rounds of the screen's client path over plaintext and over TLS with client
// certificates, in turn first, each on a server of its own on the same database;
// TLS's extra CPU a line beside the negotiated cipher's own cost over the script's
// bytes (sealed by the server, opened by the client) and TLS on a loopback connection.
void tlsRounds(const QString &database, qint64 rows, int rounds, const QString &work, const QString &self,
               const QString &serverBinary)
{
    const QString pki = benchCertificates(work);
    const QStringList serverTls { QStringLiteral("--tls-cert"), pki + QStringLiteral("/server.pem"),
                                  QStringLiteral("--tls-key"), pki + QStringLiteral("/server.key"),
                                  QStringLiteral("--tls-client-ca"), pki + QStringLiteral("/ca.pem") };
    const QStringList clientTls { QStringLiteral("--client-tls"), pki };
    const TTlsFiles clientFiles { pki + QStringLiteral("/ca.pem"), pki + QStringLiteral("/client.pem"),
                                  pki + QStringLiteral("/client.key") };
    const double perLine = 1e6 / double(rows);

    // An untimed run: the database in the page cache, and the script's size.
    const QString warmDir = work + QStringLiteral("/warm-up");
    QDir(warmDir).removeRecursively();
    qint64 scriptBytes = 0;
    TlsSession session;
    {
        AppServerProcess plain(serverBinary, database);
        scriptBytes = QFileInfo(runScreenPath(self, plain.port(), warmDir, rows).file).size();
        AppServerProcess secure(serverBinary, database, serverTls);
        session = negotiatedSession(secure.port(), clientFiles);
        must(!session.suite.isEmpty(), QStringLiteral("no TLS session with the bench's server"));
    }
    clearRound(warmDir);

    std::printf("\n== %lld rows over TLS: %s, %s ==\n", static_cast<long long>(rows), qPrintable(session.protocol),
                qPrintable(session.suite));
    std::printf("round  plaintext    TLS  TLS/plain | CPU us/line plaintext    TLS  extra | server peak MiB plain TLS\n");
    std::vector<double> ratios, extraCpu, plainCpu, tlsCpu, plainSeconds;
    for (int pass = 1; pass <= rounds; ++pass) {
        const QString roundDir = work + QStringLiteral("/round-%1").arg(pass);
        double seconds[2] = { 0, 0 }; // plaintext, TLS
        double cpu[2] = { 0, 0 }; // client and server
        qint64 serverPeakKiB[2] = { 0, 0 };
        QByteArray prints[2];
        // Each run's file is set aside before the next run, and the two take turns at
        // running first: neither runs after the other's script.
        for (const bool secure : { pass % 2 == 0, pass % 2 != 0 }) {
            AppServerProcess server(serverBinary, database, secure ? serverTls : QStringList());
            const double serverCpuBefore = procCpuSeconds(server.pid());
            const ScreenRun run = runScreenPath(self, server.port(),
                                                roundDir + (secure ? QStringLiteral("/tls") : QStringLiteral("/plain")), rows,
                                                secure ? clientTls : QStringList());
            seconds[secure] = run.seconds;
            cpu[secure] = run.cpu + procCpuSeconds(server.pid()) - serverCpuBefore;
            serverPeakKiB[secure] = procStatusKiB(server.pid(), "VmHWM");
            prints[secure] = fingerprint(run.file);
            setAside(run.file);
        }
        must(prints[0] == prints[1], QStringLiteral("the TLS run's file differs from the plaintext run's"));
        ratios.push_back(seconds[1] / seconds[0]);
        plainSeconds.push_back(seconds[0]);
        plainCpu.push_back(cpu[0] * perLine);
        tlsCpu.push_back(cpu[1] * perLine);
        extraCpu.push_back((cpu[1] - cpu[0]) * perLine);
        std::printf("%5d %10.2f %6.2f %9.2fx | %21.2f %6.2f %6.2f | %20.1f %5.1f\n", pass, seconds[0], seconds[1],
                    ratios.back(), plainCpu.back(), tlsCpu.back(), extraCpu.back(), mib(serverPeakKiB[0] * 1024),
                    mib(serverPeakKiB[1] * 1024));
        std::fflush(stdout);
        QDir(roundDir).removeRecursively(); // its runs' files are set aside, synced and settled already
    }
    const RoundSpread ratio = spreadOf(ratios);
    const RoundSpread extra = spreadOf(extraCpu);
    const double cipher = cipherCpuSeconds(session.suite, scriptBytes);
    std::printf("over %d round(s), median (min-max):\n", rounds);
    std::printf("  CPU a line, plaintext       %.2f us (%.2f-%.2f)\n", spreadOf(plainCpu).median, spreadOf(plainCpu).min,
                spreadOf(plainCpu).max);
    std::printf("  CPU a line, TLS             %.2f us (%.2f-%.2f)\n", spreadOf(tlsCpu).median, spreadOf(tlsCpu).min,
                spreadOf(tlsCpu).max);
    std::printf("  TLS's extra CPU a line      %.2f us (%.2f-%.2f), server and client\n", extra.median, extra.min, extra.max);
    if (cipher >= 0)
        std::printf("  the cipher's own, a line    %.2f us: %s sealing and opening %.1f MiB in %zu-byte records"
                    " (%.0f%% of the extra; the rest is copies and record handling)\n",
                    cipher * perLine, EVP_CIPHER_get0_name(suiteCipher(session.suite)), mib(scriptBytes), kTlsRecordBytes,
                    100 * cipher * perLine / extra.median);
    else
        std::printf("  the cipher's own: not measured (no AEAD cipher known for %s)\n", qPrintable(session.suite));
    // TLS as OpenSSL alone carries it: the least a TLS socket in our own code could
    // add, measured kSocketCarryPasses times in turn with plaintext over the same kind of connection.
    std::vector<double> socketExtra;
    for (int pass = 0; pass < kSocketCarryPasses; ++pass) {
        const double plain = socketCarryCpuSeconds(scriptBytes);
        const double secure = socketCarryCpuSeconds(scriptBytes, session.suite, pki + QStringLiteral("/server.pem"),
                                                    pki + QStringLiteral("/server.key"));
        if (plain >= 0 && secure >= 0)
            socketExtra.push_back((secure - plain) * perLine);
    }
    if (socketExtra.size() == size_t(kSocketCarryPasses)) {
        const RoundSpread onSocket = spreadOf(socketExtra);
        std::printf("  TLS on the socket itself    %.2f us a line (%.2f-%.2f) more than plaintext: OpenSSL straight on a"
                    " loopback connection, the bytes alone (%.0f%% of the extra)\n",
                    onSocket.median, onSocket.min, onSocket.max, 100 * onSocket.median / extra.median);
    } else {
        std::printf("  TLS on the socket itself: not measured (OpenSSL would not carry %s over a loopback connection)\n",
                    qPrintable(session.suite));
    }
    if (cipher >= 0) {
        // No TLS does less than plaintext's work and the cipher's: on cores that plaintext
        // keeps busy, that CPU over the cores is as fast as TLS can go.
        const int cores = int(sysconf(_SC_NPROCESSORS_ONLN));
        std::vector<double> floors;
        for (size_t round = 0; round < plainSeconds.size(); ++round)
            floors.push_back(std::max(1.0, (plainCpu[round] / perLine + cipher) / cores / plainSeconds[round]));
        const RoundSpread floor = spreadOf(floors);
        std::printf("  TLS's floor / plaintext     %.2fx (%.2f-%.2f): plaintext's CPU and the cipher's over %d cores,"
                    " against plaintext's time\n",
                    floor.median, floor.min, floor.max, cores);
    }
    std::printf("  TLS / plaintext             %.2fx (%.2f-%.2f)  <= %.2f: %s\n", ratio.median, ratio.min, ratio.max,
                kTlsTarget, verdict(ratio.median <= kTlsTarget));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption rowsOption(QStringLiteral("rows"), QStringLiteral("Rows to generate (repeatable)."), QStringLiteral("N"));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"), QStringLiteral("Rounds of all the jobs in turn."),
                                          QStringLiteral("R"), QStringLiteral("3"));
    const QCommandLineOption workOption(QStringLiteral("work"), QStringLiteral("Directory for databases and files."),
                                        QStringLiteral("DIR"), QStringLiteral(QLX_BENCH_WORK));
    const QCommandLineOption postgresOption(QStringLiteral("postgres"),
                                            QStringLiteral("Also run on this PostgreSQL database (its tables are replaced)."),
                                            QStringLiteral("URI"));
    const QCommandLineOption memoryOnlyOption(QStringLiteral("memory-only"),
                                              QStringLiteral("Leave out the write and the stock-tools job."));
    const QCommandLineOption clientOption(QStringLiteral("client"), QStringLiteral("(internal) the client side."), QStringLiteral("PORT"));
    const QCommandLineOption warmOption(QStringLiteral("warm"), QStringLiteral("(internal) one small call."), QStringLiteral("PORT"));
    const QCommandLineOption tlsOption(QStringLiteral("tls"), QStringLiteral("TLS against plaintext, as a ratio."));
    const QCommandLineOption clientTlsOption(QStringLiteral("client-tls"),
        QStringLiteral("(internal) the client's certificates in DIR."), QStringLiteral("DIR"));
    parser.addOptions({ rowsOption, repeatOption, workOption, postgresOption, memoryOnlyOption, clientOption, warmOption,
                        tlsOption, clientTlsOption });
    parser.addHelpOption();
    parser.process(app);

    if (parser.isSet(clientOption)) {
        const QString pki = parser.value(clientTlsOption);
        const TTlsFiles tls = pki.isEmpty() ? TTlsFiles()
            : TTlsFiles { pki + QStringLiteral("/ca.pem"), pki + QStringLiteral("/client.pem"), pki + QStringLiteral("/client.key") };
        return runClient(parser.value(clientOption).toInt(), parser.positionalArguments().value(0), tls);
    }
    if (parser.isSet(warmOption)) {
        TNetConnection connection;
        connection.ServerName = QLatin1String(protocol::contract::kObjectName);
        connection.Host = QStringLiteral("127.0.0.1");
        connection.Port = parser.value(warmOption).toInt();
        TClientDataSet languages;
        languages.AddField(QStringLiteral("IDIDIOMA"), TFieldType::ftString, 3);
        GetIdioma(connection, languages);
        return 0;
    }

    qputenv("QLX_ANSWER_LIMIT_MIB", QByteArray::number(kAnswerLimitMiB)); // for every client it starts
    const QString work = parser.value(workOption);
    must(QDir().mkpath(work), QStringLiteral("cannot create ") + work);
    QList<qint64> sizes;
    for (const QString &rows : parser.values(rowsOption))
        sizes << rows.toLongLong();
    if (sizes.isEmpty())
        sizes = { 1000000 };
    const int rounds = std::max(1, parser.value(repeatOption).toInt());
    const bool memoryOnly = parser.isSet(memoryOnlyOption);
    const QString self = QCoreApplication::applicationFilePath();
    const QString binaries = QCoreApplication::applicationDirPath();
    const QString postgres = parser.value(postgresOption);
    // The stock job syncs its own file's data, as the generator does (fdatasync).
    const QString toScript = QStringLiteral(" | iconv -f UTF-8 -t WINDOWS-1252 | sed 's/$/\\r/' > %1 && sync --data %1");
    std::printf("bench_generation: %d round(s), each job once a round in turn; work directory %s\n", rounds, qPrintable(work));
    printLoad("start");
    for (qint64 rows : sizes) {
        const QString database = QStringLiteral("%1/translations-%2.db").arg(work).arg(rows);
        if (!QFile::exists(database)) {
            QElapsedTimer clock;
            clock.start();
            createDatabase(database + QStringLiteral(".part"), QStringLiteral(QLX_SCHEMA_PATH), rows);
            QFile::rename(database + QStringLiteral(".part"), database);
            std::printf("(database of %lld rows created in %.1f s)\n", static_cast<long long>(rows),
                        double(clock.elapsed()) / 1000.0);
            std::fflush(stdout);
        }
        if (parser.isSet(tlsOption)) {
            tlsRounds(database, rows, rounds, work, self, binaries + QStringLiteral("/qlx02600-server"));
            continue;
        }
        const QString stockSql = work + QStringLiteral("/stock-sqlite.sql");
        writeFile(stockSql, stockQuery(false));
        benchmark({ QStringLiteral("SQLite"), database,
                    QStringLiteral("sqlite3 -batch %1 < %2").arg(shellQuoted(database), shellQuoted(stockSql)) + toScript,
                    kSqliteStockTarget, kSqliteFloorTarget },
                  rows, rounds, memoryOnly, work, self, binaries);
        if (!postgres.isEmpty()) {
            QElapsedTimer clock;
            clock.start();
            createPostgresDatabase(postgres, binaries + QStringLiteral("/qlx02600-server"), rows);
            std::printf("(PostgreSQL database of %lld rows created in %.1f s)\n", static_cast<long long>(rows),
                        double(clock.elapsed()) / 1000.0);
            std::fflush(stdout);
            const QString psql = QStringLiteral("psql -X -q -A -t -d %1 -c %2").arg(shellQuoted(postgres));
            benchmark({ QStringLiteral("PostgreSQL"), postgres, psql.arg(shellQuoted(stockQuery(true))) + toScript,
                        kPostgresStockTarget, kPostgresFloorTarget },
                      rows, rounds, memoryOnly, work, self, binaries);
        }
    }
    printLoad("end");
    return 0;
}
