// qlx02600-server: the reference application server of the remote object, on a
// SQLite or a PostgreSQL database.
#include "appserver/database/demodatabase.h"
#include "appserver/database/privatefiles.h"
#include "appserver/database/translationdb.h"
#include "appserver/log/calllog.h"
#include "appserver/log/serverlog.h"
#include "appserver/metrics/metricsserver.h"
#include "appserver/metrics/metricsthread.h"
#include "appserver/network/appserver.h"
#include "appserver/network/descriptors.h"
#include "appserver/network/listenaddress.h"
#include "appserver/network/servertls.h"
#include "appserver/service/servercontrol.h"
#include "appserver/service/systemdnotify.h"

#include "protocol/contract.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
#include <QTextStream>
#include <algorithm>
#include <malloc.h>
#include <optional>
#include <stdexcept>

namespace {

// Blocks from this size on are mapped apart and unmapped when freed: a part's
// buffer, sent from and freed as the socket takes it, goes back to the system at
// once rather than left in its thread's arena, whose threshold would otherwise
// rise to the part's size.
constexpr int kMappedBlockThreshold = 512 * 1024;

} // namespace

int main(int argc, char *argv[])
{
    mallopt(M_MMAP_THRESHOLD, kMappedBlockThreshold);
    QCoreApplication app(argc, argv);
    ServerLog::install();
    QCoreApplication::setApplicationName(QStringLiteral("qlx02600-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QLX_PACKAGE_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Application server of %1.").arg(QLatin1String(protocol::contract::kObjectName)));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dbOption(QStringLiteral("db"),
        QStringLiteral("SQLite database file (one that exists), or PostgreSQL database as postgresql://user@host:port/dbname "
                       "or as \"host=H port=P dbname=D user=U\" (password from PGPASSWORD or ~/.pgpass)."),
        QStringLiteral("FILE|URI"));
    const QCommandLineOption listenOption(QStringLiteral("listen"),
        QStringLiteral("Address to listen on (default 127.0.0.1:21102; port 0 picks a free one)."), QStringLiteral("HOST:PORT"),
        QStringLiteral("127.0.0.1:21102"));
    const QCommandLineOption demoOption(QStringLiteral("init-demo"),
        QStringLiteral("Create a demo database in FILE (or in the PostgreSQL database of URI) and exit; "
                       "a database that holds data is kept (exit 3)."),
        QStringLiteral("FILE|URI"));
    const QCommandLineOption forceDemoOption(QStringLiteral("force-demo"),
        QStringLiteral("With --init-demo: replace a database that holds data."));
    const QCommandLineOption dialectOption(QStringLiteral("script-dialect"),
        QStringLiteral("SQL of the script lines: sqlite or postgresql (default: the database's own)."),
        QStringLiteral("DIALECT"));
    const QCommandLineOption maxClientsOption(QStringLiteral("max-clients"),
        QStringLiteral("Clients served at once; one more is answered busy (default %1).").arg(ServerLimits::kDefaultMaxClients),
        QStringLiteral("N"), QString::number(ServerLimits::kDefaultMaxClients));
    const QCommandLineOption perPrefixOption(QStringLiteral("max-clients-per-prefix"),
        QStringLiteral("Clients served at once from one network (--client-prefix-v4, --client-prefix-v6); one more is "
                       "answered busy (default %1).").arg(ServerLimits::kDefaultMaxClientsPerPrefix),
        QStringLiteral("N"), QString::number(ServerLimits::kDefaultMaxClientsPerPrefix));
    // The older name of --max-clients-per-prefix, from when each address was counted apart.
    QCommandLineOption perAddressOption(QStringLiteral("max-clients-per-address"), perPrefixOption.description(),
                                        QStringLiteral("N"));
    perAddressOption.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption prefixV4Option(QStringLiteral("client-prefix-v4"),
        QStringLiteral("Leading bits of an IPv4 address that make one client network (default %1).")
            .arg(ClientPrefix::kDefaultV4Bits),
        QStringLiteral("BITS"), QString::number(ClientPrefix::kDefaultV4Bits));
    const QCommandLineOption prefixV6Option(QStringLiteral("client-prefix-v6"),
        QStringLiteral("Leading bits of an IPv6 address that make one client network (default %1).")
            .arg(ClientPrefix::kDefaultV6Bits),
        QStringLiteral("BITS"), QString::number(ClientPrefix::kDefaultV6Bits));
    const QCommandLineOption handshakesOption(QStringLiteral("max-handshakes"),
        QStringLiteral("Clients in their handshake at once (TLS not established, or no whole request yet); one more "
                       "is answered busy (default %1).").arg(ServerLimits::kDefaultMaxHandshakes),
        QStringLiteral("N"), QString::number(ServerLimits::kDefaultMaxHandshakes));
    const QCommandLineOption handshakeTimeoutOption(QStringLiteral("handshake-timeout"),
        QStringLiteral("Close a session whose handshake is not over after this long (default %1).")
            .arg(ServerLimits::kDefaultHandshakeTimeout),
        QStringLiteral("SECONDS"), QString::number(ServerLimits::kDefaultHandshakeTimeout));
    const QCommandLineOption idleOption(QStringLiteral("idle-timeout"),
        QStringLiteral("Close a session idle for this long (default %1).").arg(ServerLimits::kDefaultIdleTimeout),
        QStringLiteral("SECONDS"), QString::number(ServerLimits::kDefaultIdleTimeout));
    const QCommandLineOption maxAnswerOption(QStringLiteral("max-answer"),
        QStringLiteral("Largest answer sent, all its parts counted; a larger one is reported as a failure "
                       "naming its size (default %1).").arg(ServerLimits::kDefaultMaxAnswer),
        QStringLiteral("BYTES"), QString::number(ServerLimits::kDefaultMaxAnswer));
    const QCommandLineOption callLogOption(QStringLiteral("call-log"),
        QStringLiteral("Write one JSON line for every call received to FILE."), QStringLiteral("FILE"));
    const QCommandLineOption tlsCertOption(QStringLiteral("tls-cert"),
        QStringLiteral("Serve over TLS with this PEM certificate (its chain may follow it); needs --tls-key."),
        QStringLiteral("PEM"));
    const QCommandLineOption tlsKeyOption(QStringLiteral("tls-key"),
        QStringLiteral("The unencrypted PEM private key of --tls-cert."), QStringLiteral("PEM"));
    const QCommandLineOption tlsClientCaOption(QStringLiteral("tls-client-ca"),
        QStringLiteral("Serve only clients whose certificate this PEM authority signed (mutual TLS)."),
        QStringLiteral("PEM"));
    const QCommandLineOption drainOption(QStringLiteral("drain-timeout"),
        QStringLiteral("On SIGTERM or SIGINT, wait this long for the answers under way before exiting (default %1).")
            .arg(AppServer::kDefaultDrainTimeout),
        QStringLiteral("SECONDS"), QString::number(AppServer::kDefaultDrainTimeout));
    const QCommandLineOption allowPlaintextOption(QStringLiteral("allow-plaintext"),
        QStringLiteral("Listen without TLS on an address outside the loopback range."));
    const QCommandLineOption metricsOption(QStringLiteral("metrics"),
        QStringLiteral("Serve /metrics (Prometheus) and /healthz over HTTP on this address, e.g. 127.0.0.1:9102."),
        QStringLiteral("HOST:PORT"));
    parser.addOptions({ dbOption, listenOption, demoOption, forceDemoOption, dialectOption, maxClientsOption, perPrefixOption,
                        perAddressOption, prefixV4Option, prefixV6Option, handshakesOption, handshakeTimeoutOption, idleOption,
                        maxAnswerOption, callLogOption, tlsCertOption, tlsKeyOption, tlsClientCaOption, drainOption,
                        allowPlaintextOption, metricsOption });
    QTextStream out(stdout);
    if (!parser.parse(QCoreApplication::arguments())) { // a bad option is a bad argument, as any other
        ServerLog::Line() << parser.errorText();
        return 2;
    }
    parser.process(app); // --help, --version
    if (!parser.positionalArguments().isEmpty()) { // a stray word is a mistake, never ignored
        ServerLog::Line() << "Unexpected argument '" << parser.positionalArguments().constFirst() << "'.";
        return 2;
    }
    makeNewFilesPrivate();
    const long descriptorLimit = raiseDescriptorLimit();

    ServerLimits limits;
    bool valid = true;
    const auto number = [&](const QCommandLineOption &option, qint64 most) {
        bool ok = false;
        const qint64 value = parser.value(option).toLongLong(&ok);
        if (!ok || value < 1 || value > most) {
            ServerLog::Line() << "--" << option.names().constFirst() << " takes a whole number from 1 to " << most;
            valid = false;
        }
        return value;
    };
    limits.maxClients = int(number(maxClientsOption, ServerLimits::kMostClients));
    const bool byOlderName = parser.isSet(perAddressOption) && !parser.isSet(perPrefixOption);
    limits.maxClientsPerPrefix = int(number(byOlderName ? perAddressOption : perPrefixOption, ServerLimits::kMostClients));
    limits.clientPrefix.v4Bits = int(number(prefixV4Option, 32));
    limits.clientPrefix.v6Bits = int(number(prefixV6Option, 128));
    limits.maxHandshakes = int(number(handshakesOption, ServerLimits::kMostClients));
    limits.handshakeTimeout = int(number(handshakeTimeoutOption, ServerLimits::kMostIdleTimeout));
    limits.idleTimeout = int(number(idleOption, ServerLimits::kMostIdleTimeout));
    limits.maxAnswer = number(maxAnswerOption, ServerLimits::kMostAnswer);
    const int drainTimeout = int(number(drainOption, AppServer::kMostDrainTimeout));
    if (!valid)
        return 2;

    std::optional<ServerTls> tls;
    const ServerTlsFiles tlsFiles { parser.value(tlsCertOption), parser.value(tlsKeyOption), parser.value(tlsClientCaOption) };
    try {
        tls = loadServerTls(tlsFiles);
    } catch (const std::invalid_argument &unusable) {
        ServerLog::Line() << unusable.what();
        return 2;
    }

    std::optional<ScriptDialect> dialect;
    const QString dialectName = parser.value(dialectOption);
    if (!dialectName.isEmpty() && dialectName != QLatin1String("sqlite") && dialectName != QLatin1String("postgresql")) {
        ServerLog::Line() << "--script-dialect must be sqlite or postgresql, not " << dialectName;
        return 2;
    }
    if (!dialectName.isEmpty())
        dialect = dialectName == QLatin1String("postgresql") ? ScriptDialect::PostgreSQL : ScriptDialect::SQLite;
    if (parser.isSet(forceDemoOption) && !parser.isSet(demoOption)) {
        ServerLog::Line() << "--force-demo goes with --init-demo";
        return 2;
    }
    ListenAddress listenAddress;
    std::optional<ListenAddress> metricsAddress;
    try {
        if (parser.isSet(demoOption)) {
            createDemoDatabase(parser.value(demoOption), parser.isSet(forceDemoOption));
            out << "demo database: " << DatabaseAddress::masked(parser.value(demoOption)) << Qt::endl;
            return 0;
        }
        if (!parser.isSet(dbOption)) {
            ServerLog::Line() << "--db FILE or --db URI is required";
            return 2;
        }
        listenAddress = ListenAddress::parse(parser.value(listenOption));
        if (parser.isSet(metricsOption))
            metricsAddress = MetricsServer::parseAddress(parser.value(metricsOption));
        // A mistyped path must not become a new, empty database that answers nothing.
        if (const DatabaseAddress address = DatabaseAddress::parse(parser.value(dbOption));
            address.backend == DatabaseAddress::Backend::SQLite && !QFileInfo::exists(address.file)) {
            ServerLog::Line() << "--db " << address.file << ": no such database file (--init-demo " << address.file
                              << " makes a demo one)";
            return 2;
        }
        TranslationDb check(parser.value(dbOption), QStringLiteral("startup"));
        if (QString error; parser.isSet(callLogOption) && !CallLog::open(parser.value(callLogOption), error)) {
            ServerLog::Line() << "cannot write the call log " << parser.value(callLogOption) << ": " << error;
            return 1;
        }
        if (check.backend() == DatabaseAddress::Backend::SQLite) {
            if (const QString warning = sharedFileWarning(parser.value(dbOption)); !warning.isEmpty())
                ServerLog::Line() << warning;
        }
        if (!dialect) // the database's own
            dialect = check.backend() == DatabaseAddress::Backend::PostgreSQL ? ScriptDialect::PostgreSQL
                                                                              : ScriptDialect::SQLite;
    } catch (const std::invalid_argument &badAddress) {
        ServerLog::Line() << badAddress.what();
        return 2;
    } catch (const DemoRefused &refused) {
        ServerLog::Line() << refused.what();
        return 3;
    } catch (const std::exception &failure) {
        ServerLog::Line() << failure.what();
        return 1;
    }

    AppServer server(parser.value(dbOption), *dialect, limits, tls);
    const ServerControl control(server, drainTimeout, tlsFiles); // signals, read once the event loop runs
    try {
        const QList<QHostAddress> addresses = listenAddress.addresses();
        // Other machines reach the translations only over TLS, unless the operator says otherwise.
        const bool beyondLoopback = std::any_of(addresses.begin(), addresses.end(),
                                                [](const QHostAddress &address) { return !address.isLoopback(); });
        if (beyondLoopback && !tls && !parser.isSet(allowPlaintextOption)) {
            ServerLog::Line() << "refusing to listen on " << listenAddress.text << " without TLS: give --tls-cert and --tls-key "
                << "(or --allow-plaintext to serve other machines in clear text)";
            return 2;
        }
        for (const QHostAddress &address : addresses) {
            // [::] takes IPv4 clients too: Qt keeps a socket on AnyIPv6 to IPv6 alone.
            if (server.listen(address == QHostAddress::AnyIPv6 ? QHostAddress(QHostAddress::Any) : address,
                              listenAddress.port))
                break;
        }
    } catch (const std::runtime_error &unresolved) {
        ServerLog::Line() << unresolved.what();
        return 1;
    }
    if (!server.isListening()) {
        ServerLog::Line() << "cannot listen on " << listenAddress.text << ": " << server.errorString();
        return 1;
    }
    std::optional<MetricsThread> metrics;
    try {
        if (metricsAddress) {
            metrics.emplace().start(parser.value(dbOption), *metricsAddress);
            QObject::connect(&server, &AppServer::drainRequested, &*metrics, &MetricsThread::drainStarted);
        }
    } catch (const std::runtime_error &unserved) {
        ServerLog::Line() << unserved.what();
        return 1;
    }
    const QHostAddress bound = server.serverAddress();
    const QString shown = bound.protocol() == QAbstractSocket::AnyIPProtocol ? QStringLiteral("[::]") // dual-stack
        : bound.protocol() == QAbstractSocket::IPv6Protocol                  ? QStringLiteral("[%1]").arg(bound.toString())
                                                                             : bound.toString();
    out << "listening on " << shown << ':' << server.serverPort() << Qt::endl;
    if (metrics)
        out << "metrics on " << metrics->shownAddress() << Qt::endl;
    if (tls)
        ServerLog::Line() << "TLS on, " << (tls->clientCertificates ? "client certificates required"
                                                                              : "no client certificate asked");
    ServerLog::Line() << "serving at most " << limits.maxClients << " clients, " << limits.maxClientsPerPrefix
        << " from one network (/" << limits.clientPrefix.v4Bits << ", /" << limits.clientPrefix.v6Bits << "), "
        << limits.maxHandshakes << " in their handshake, for at most " << limits.handshakeTimeout
        << " s; closing sessions idle for " << limits.idleTimeout
        << " s, answers of at most " << limits.maxAnswer << " bytes; descriptor limit " << descriptorLimit;
    SystemdNotify::ready();
    SystemdNotify::keepWatchdog(&server);
    return QCoreApplication::exec();
}
