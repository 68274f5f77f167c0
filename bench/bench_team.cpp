// bench_team: N desktops against 1 and then 2 servers behind HAProxy on one PostgreSQL
// database, in the same run. Most desktops open a screen and stay idle, some open a
// screen again and again, some generate a 100k-line script. Prints for each setup
// generations per minute, the p50/p99 time to open a screen (connect + GetIdioma),
// errors, and each server's peak RSS and CPU time; then 2 servers / 1 server.
#include "bench/descriptorlimit.h"
#include "bench/eventwait.h"
#include "bench/proccpu.h"
#include "bench/procstatus.h"
#include "bench/teambalancer.h"
#include "bench/teamdatabase.h"
#include "bench/teamdesktops.h"
#include "bench/teamserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <memory>
#include <optional>
#include <sys/resource.h>

namespace {

constexpr int kDefaultDesktops = 200;
constexpr int kDefaultOpening = 20;
constexpr int kDefaultGenerating = 10;
constexpr int kDefaultSeconds = 30;
constexpr int kMostDesktops = 2000;
constexpr int kMostSeconds = 3600;
constexpr int kCapPerDesktop = 2;          // a server's sessions: room for those of opened screens still ending
constexpr int kSpareDatabaseConnections = 20;
constexpr int kAllOpenMs = 60'000;         // for the idle screens to open before the run
constexpr int kThreadEndMs = 10'000;

struct Load
{
    int idle = 0;
    int opening = 0;
    int generating = 0;
    int seconds = 0;
    int desktops() const { return idle + opening + generating; }
};

struct ServerFigures
{
    qint64 pid = 0;
    qint64 peakRssKiB = 0;
    double cpuSeconds = 0;
    TeamBalancer::ServerState balancerSaw; // over the whole setup
};

struct Setup
{
    std::size_t servers = 0;
    int idleOpened = 0;
    double idleOpenSeconds = 0;
    double generationsPerMinute = 0;
    int generations = 0;
    std::size_t opens = 0;
    double p50 = 0;
    double p99 = 0;
    int errors = 0;
    QString firstError;
    std::vector<ServerFigures> serverFigures;
    double balancerCpuSeconds = 0;
    double databaseCpuSeconds = 0;
    double desktopsCpuSeconds = 0; // this process
};

double percentileMs(std::vector<qint64> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return double(values.at(size_t(fraction * double(values.size() - 1)))) / 1e6;
}

// One setup: `servers` servers behind HAProxy, the idle screens opened first, then
// the opening and generating desktops beside them for the run's seconds. The
// generating desktops read on a thread of their own, so that decoding a part does not
// hold up a screen's open.
std::optional<Setup> runSetup(std::size_t servers, const Load &load, const QString &serverProgram, TeamDatabase &database,
                              const QString &folder, QString &failure)
{
    const QString setupFolder = QStringLiteral("%1/%2-server").arg(folder).arg(servers);
    QDir().mkpath(setupFolder);
    std::vector<std::unique_ptr<TeamServer>> started;
    std::vector<std::pair<int, int>> ports;
    for (std::size_t i = 0; i < servers; ++i) {
        started.push_back(std::make_unique<TeamServer>());
        if (!started.back()->start(serverProgram, database.uri(), kCapPerDesktop * load.desktops(),
                                QStringLiteral("%1/server%2.log").arg(setupFolder).arg(i + 1), failure))
            return std::nullopt;
        ports.emplace_back(started.back()->port(), started.back()->metricsPort());
    }
    TeamBalancer balancer(setupFolder);
    if (!balancer.start(ports, failure))
        return std::nullopt;
    const QString host = QStringLiteral("127.0.0.1");
    const quint16 port = quint16(balancer.port());

    std::vector<double> cpuBefore;
    for (const auto &server : started)
        cpuBefore.push_back(procCpuSeconds(server->pid()));
    const double balancerCpuBefore = procCpuSeconds(balancer.pid());
    const qint64 databasePid = database.pid();
    if (databasePid == 0) {
        failure = QStringLiteral("cannot find PostgreSQL's process");
        return std::nullopt;
    }
    const double databaseCpuBefore = procCpuSeconds(databasePid, true);
    const double desktopsCpuBefore = procCpuSeconds(QCoreApplication::applicationPid());

    team::DesktopGroup idle(load.idle, [&](team::Tally &tally) { return std::make_unique<team::IdleScreen>(host, port, tally); });
    team::DesktopGroup opening(load.opening, [&](team::Tally &tally) { return std::make_unique<team::OpeningScreen>(host, port, tally); });
    auto generating = std::make_unique<team::DesktopGroup>(load.generating, [&](team::Tally &tally) {
        return std::make_unique<team::GeneratingDesktop>(host, port, tally, QLatin1String(TeamDatabase::kLanguage),
                                                         TeamDatabase::kLanguageLines);
    });
    QThread generatingThread;
    generating->moveToThread(&generatingThread);
    generatingThread.start();

    Setup setup;
    setup.servers = servers;
    QElapsedTimer clock;
    clock.start();
    idle.start();
    runEventsUntil([&] { return int(idle.tally().openNs.size()) == load.idle; }, kAllOpenMs);
    setup.idleOpened = int(idle.tally().openNs.size());
    setup.idleOpenSeconds = double(clock.elapsed()) / 1000;

    opening.start();
    QMetaObject::invokeMethod(generating.get(), [&] { generating->start(); });
    runEventsUntil([] { return false; }, load.seconds * 1000);
    opening.stop();
    QSemaphore stopped;
    QMetaObject::invokeMethod(generating.get(), [&] {
        generating->stop();
        stopped.release();
    });
    const bool generatingStopped = stopped.tryAcquire(1, kThreadEndMs);
    generatingThread.quit();
    if (!generatingStopped || !generatingThread.wait(kThreadEndMs)) {
        generatingThread.terminate();
        generatingThread.wait(kThreadEndMs);
        failure = QStringLiteral("the generating desktops did not stop within %1 ms").arg(kThreadEndMs);
        return std::nullopt;
    }
    idle.stop();

    const std::vector<TeamBalancer::ServerState> states = balancer.serverStates().value_or(std::vector<TeamBalancer::ServerState>());
    for (std::size_t i = 0; i < servers; ++i)
        setup.serverFigures.push_back({ started[i]->pid(), procStatusKiB(started[i]->pid(), "VmHWM"),
                                        procCpuSeconds(started[i]->pid()) - cpuBefore[i],
                                        i < states.size() ? states[i] : TeamBalancer::ServerState() });
    setup.balancerCpuSeconds = procCpuSeconds(balancer.pid()) - balancerCpuBefore;
    setup.databaseCpuSeconds = procCpuSeconds(databasePid, true) - databaseCpuBefore;
    setup.desktopsCpuSeconds = procCpuSeconds(QCoreApplication::applicationPid()) - desktopsCpuBefore;

    setup.generations = generating->tally().generations;
    setup.generationsPerMinute = double(setup.generations) * 60 / load.seconds;
    const std::vector<qint64> &opens = opening.tally().openNs;
    setup.opens = opens.size();
    setup.p50 = percentileMs(opens, 0.50);
    setup.p99 = percentileMs(opens, 0.99);
    for (const team::Tally *tally : { &idle.tally(), &opening.tally(), &generating->tally() }) {
        if (setup.firstError.isEmpty())
            setup.firstError = tally->firstError;
        setup.errors += tally->errors;
    }
    return setup;
}

void print(QTextStream &out, const Setup &setup, const Load &load)
{
    out << Qt::fixed << qSetRealNumberPrecision(1);
    out << setup.servers << (setup.servers == 1 ? " server: " : " servers: ") << setup.idleOpened << " of " << load.idle
        << " idle screens opened in " << setup.idleOpenSeconds << " s; " << setup.generationsPerMinute
        << " generations/min (" << setup.generations << " whole), open p50 " << qSetRealNumberPrecision(3) << setup.p50
        << " ms, p99 " << setup.p99 << " ms (" << setup.opens << " opens), errors " << setup.errors << Qt::endl;
    if (!setup.firstError.isEmpty())
        out << "  first error: " << setup.firstError << Qt::endl;
    double cpu = 0;
    for (std::size_t i = 0; i < setup.serverFigures.size(); ++i) {
        const ServerFigures &figures = setup.serverFigures[i];
        cpu += figures.cpuSeconds;
        out << "  server " << i + 1 << " (pid " << figures.pid << "): peak RSS " << qSetRealNumberPrecision(1)
            << double(figures.peakRssKiB) / 1024 << " MiB, CPU " << qSetRealNumberPrecision(2) << figures.cpuSeconds
            << " s; marked down by HAProxy " << figures.balancerSaw.downs << " time(s), " << figures.balancerSaw.downSeconds
            << " s down" << Qt::endl;
    }
    out << "  CPU: servers together " << cpu << " s, PostgreSQL " << setup.databaseCpuSeconds << " s, HAProxy "
        << setup.balancerCpuSeconds << " s, desktops (this process) " << setup.desktopsCpuSeconds << " s" << Qt::endl;
}

double ratio(double value, double anchor)
{
    return anchor > 0 ? value / anchor : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Desktops against 1 and then 2 qlx02600-servers behind HAProxy on one PostgreSQL database."));
    parser.addHelpOption();
    const QCommandLineOption desktopsOption(QStringLiteral("desktops"), QStringLiteral("Desktops in all (default %1).").arg(kDefaultDesktops),
                                            QStringLiteral("N"), QString::number(kDefaultDesktops));
    const QCommandLineOption openingOption(QStringLiteral("opening"),
                                           QStringLiteral("Of them, screens opened again and again (default %1).").arg(kDefaultOpening),
                                           QStringLiteral("N"), QString::number(kDefaultOpening));
    const QCommandLineOption generatingOption(QStringLiteral("generating"),
                                              QStringLiteral("Of them, desktops generating a %1-line script again and again (default %2).")
                                                  .arg(TeamDatabase::kLanguageLines).arg(kDefaultGenerating),
                                              QStringLiteral("N"), QString::number(kDefaultGenerating));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Length of each setup's run (default %1).").arg(kDefaultSeconds),
                                           QStringLiteral("T"), QString::number(kDefaultSeconds));
    const QCommandLineOption serverOption(QStringLiteral("server"), QStringLiteral("The server (default: the one beside this tool)."),
                                          QStringLiteral("PATH"), QCoreApplication::applicationDirPath() + QStringLiteral("/qlx02600-server"));
    parser.addOptions({ desktopsOption, openingOption, generatingOption, secondsOption, serverOption });
    parser.process(app);

    std::optional<int> bad;
    const auto number = [&](const QCommandLineOption &option, int least, int most) {
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        if (!ok || value < least || value > most) {
            err << "--" << option.names().constFirst() << " takes a whole number from " << least << " to " << most << Qt::endl;
            bad = 2;
        }
        return value;
    };
    const int desktops = number(desktopsOption, 1, kMostDesktops);
    Load load;
    load.opening = number(openingOption, 0, kMostDesktops);
    load.generating = number(generatingOption, 0, kMostDesktops);
    load.seconds = number(secondsOption, 1, kMostSeconds);
    load.idle = desktops - load.opening - load.generating;
    if (!bad && load.idle < 0) {
        err << "--opening and --generating take more than the " << desktops << " desktops" << Qt::endl;
        bad = 2;
    }
    if (bad)
        return *bad;
    if (!TeamDatabase::installed()) {
        err << "PostgreSQL is not installed (no initdb and pg_ctl in /usr/lib/postgresql/*/bin): install the postgresql package" << Qt::endl;
        return 1;
    }
    if (TeamBalancer::program().isEmpty()) {
        err << "HAProxy is not installed: install the haproxy package" << Qt::endl;
        return 1;
    }
    raiseOwnDescriptorLimit();

    QTemporaryDir folder;
    const QString serverProgram = parser.value(serverOption);
    TeamDatabase database;
    QString failure;
    // Every server may hold a session per desktop, each with its connection.
    if (!database.start(serverProgram, kCapPerDesktop * desktops + kSpareDatabaseConnections, failure)) {
        err << failure << Qt::endl;
        return 1;
    }
    out << "team: " << desktops << " desktops (" << load.idle << " idle, " << load.opening << " opening a screen again and again ("
        << team::kOpenPauseMs / 1000.0 << " s apart), " << load.generating << " generating " << TeamDatabase::kLanguageLines
        << " lines) for " << load.seconds << " s a setup; PostgreSQL at 127.0.0.1:" << database.port() << Qt::endl;

    std::vector<Setup> setups;
    for (const std::size_t servers : { std::size_t(1), std::size_t(2) }) {
        const std::optional<Setup> setup = runSetup(servers, load, serverProgram, database, folder.path(), failure);
        if (!setup) {
            err << servers << " server(s): " << failure << Qt::endl;
            return 1;
        }
        print(out, *setup, load);
        setups.push_back(*setup);
    }
    out << qSetRealNumberPrecision(2) << "2 servers / 1 server: "
        << ratio(setups[1].generationsPerMinute, setups[0].generationsPerMinute) << "x the generations per minute, "
        << ratio(setups[1].p99, setups[0].p99) << "x the p99 open time" << Qt::endl;
    return 0;
}
