// Three servers on one demo database behind Debian's HAProxy, run with the shipped
// configuration on loopback ports: TLS passes through to the servers, sessions
// spread over them, a server drained with SIGTERM gets no new session while its
// answer under way goes out whole, and a killed server is marked down while the
// generations go on through the others.
#include "tests/support/endswiththetest.h"
#include "tests/support/metricspage.h"
#include "tests/support/pki.h"

#include "protocol/datapacket.h"
#include "protocol/frame.h"
#include "protocol/message.h"

#include <QCborMap>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <csignal>
#include <memory>

namespace {

// How long HAProxy may take to mark a server down: 2 failed checks 2 s apart, each
// allowed 5 s, with room for a loaded machine.
constexpr int kMarkedDownMs = 30'000;
// For a process to start or end, a generation, an answer.
constexpr int kStepMs = 60'000;
constexpr int kStartAttempts = 3; // a free port may be taken before HAProxy binds it
// Rows of 3000 characters (a script line takes at most 4000 bytes) that make one answer
// larger than every buffer between the server and a client that does not read (about
// 42 MB), so that it stays under way.
constexpr int kLargeRows = 14'000;
// How often a test looks for the large answer's call, to stop its client well before
// the answer is whole (a fast server sends it in about 100 ms).
constexpr int kMidAnswerPollMs = 2;
// One for each test that takes one away (drained, killed idle, killed mid-answer), and one left to serve.
constexpr int kServers = 4;

const QString kAllTables = QStringLiteral("CATEGORIA           MENSAGEM            PRODUTO             UNIDADE");

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// qlx02600-server on the shared database, over TLS, with its metrics.
class TeamServer
{
public:
    TeamServer(const QString &database, const Pki &pki, const QString &name)
        : m_log(pki.path(name + QStringLiteral(".log")))
        , m_calls(pki.path(name + QStringLiteral(".calls")))
    {
        m_process.setStandardErrorFile(m_log);
        EndsWithTheTest(m_process);
        // Behind the balancer every session comes from its address: the cap of one
        // address is that of the server.
        m_process.start(QStringLiteral(QLX_SERVER_PATH),
                        { QStringLiteral("--db"), database, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                          QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--tls-cert"),
                          pki.pem(QStringLiteral("server")), QStringLiteral("--tls-key"), pki.key(QStringLiteral("server")),
                          QStringLiteral("--max-clients-per-address"), QStringLiteral("64"),
                          QStringLiteral("--drain-timeout"), QStringLiteral("120"), QStringLiteral("--call-log"), m_calls });
        while ((m_port == 0 || m_metricsPort == 0) && m_process.waitForReadyRead(kStepMs)) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                if (line.startsWith("listening on "))
                    m_port = line.split(':').last().toInt();
                else if (line.startsWith("metrics on "))
                    m_metricsPort = line.split(':').last().toInt();
            }
        }
    }

    ~TeamServer()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    int port() const { return m_port; }
    int metricsPort() const { return m_metricsPort; }
    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    // The exit status once it has ended by itself within kStepMs; -1 otherwise.
    int exitCode()
    {
        const bool ended = m_process.waitForFinished(kStepMs) && m_process.exitStatus() == QProcess::NormalExit;
        return ended ? m_process.exitCode() : -1;
    }
    QByteArray log() const
    {
        QFile file(m_log);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Generations answered whole: the audit lines of GetPropriedCds that went out ok.
    int generations() const { return int(log().count("call=\"GetPropriedCds\" language=\"ENG\"")); }
    // The calls it received, one JSON line each, written as they arrive.
    QByteArray calls() const
    {
        QFile file(m_calls);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QString m_log;
    QString m_calls;
    QProcess m_process;
    int m_port = 0;
    int m_metricsPort = 0;
};

// A client that asks for the large answer and reads none of it until told to.
class StalledClient
{
public:
    StalledClient(int port, const QString &authority)
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(authority));
        m_socket.setSslConfiguration(tls);
        m_socket.setReadBufferSize(64 * 1024); // reads no more from the network once this is held
        m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(port));
        if (!m_socket.waitForEncrypted(kStepMs))
            return;
        const QList<protocol::Argument> args { { protocol::ArgumentKind::Str, QStringLiteral("POR"), 0 },
                                               { protocol::ArgumentKind::StrRef, kAllTables, 0 },
                                               { protocol::ArgumentKind::Date, QString(), 0 } };
        m_socket.write(protocol::frameOf(
            protocol::encodeRequest({ QStringLiteral("QLX02600.rdmGeraArquivo"), QStringLiteral("GetPropriedCds"), args })));
        m_socket.waitForBytesWritten(kStepMs);
    }

    // Reads the answer to its end: true when it came whole and ok.
    bool readAnswer()
    {
        m_socket.setReadBufferSize(0);
        protocol::FrameReader reader;
        protocol::DataPacketDiscard rows;
        QByteArray payload;
        for (;;) {
            reader.append(m_socket.readAll());
            while (reader.next(payload)) {
                if (!protocol::readPart(payload, rows)) {
                    const protocol::Response response = protocol::decodeResponse(payload);
                    return !response.isException && response.result.toMap().value(QLatin1String("ok")).toBool();
                }
            }
            if (!m_socket.waitForReadyRead(kStepMs))
                return false;
        }
    }

private:
    QSslSocket m_socket;
};

// Waits, at most `ms`, for `condition`.
template<typename Condition>
bool waitFor(Condition condition, int ms, int pollMs = 100)
{
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(pollMs);
    }
    return true;
}

} // namespace

class TestHaproxy : public QObject
{
    Q_OBJECT

    QString m_haproxyProgram;
    Pki m_pki;
    std::vector<std::unique_ptr<TeamServer>> m_servers;
    QProcess m_haproxy;
    int m_frontPort = 0;
    QByteArray m_reference; // the English script, as the first generation wrote it
    int m_runs = 0;

    QString statsSocket() const { return m_pki.path(QStringLiteral("haproxy.sock")); }

    // The shipped configuration with the test's addresses and ports.
    bool writeConfiguration()
    {
        QFile shipped(QStringLiteral(QLX_HAPROXY_CFG));
        if (!shipped.open(QIODevice::ReadOnly))
            return false;
        QString text = QString::fromUtf8(shipped.readAll());
        const QString serverLine = QStringLiteral("    server app%1 10.0.0.%2:21102 check port 9102\n");
        if (!text.contains(QStringLiteral("    bind :21102\n")) || !text.contains(serverLine.arg(1).arg(7))
            || !text.contains(serverLine.arg(2).arg(8)))
            return false;
        text.replace(QStringLiteral("    bind :21102\n"), QStringLiteral("    bind 127.0.0.1:%1\n").arg(m_frontPort));
        QString servers;
        for (std::size_t i = 0; i < m_servers.size(); ++i)
            servers += QStringLiteral("    server app%1 127.0.0.1:%2 check port %3\n")
                           .arg(i + 1).arg(m_servers[i]->port()).arg(m_servers[i]->metricsPort());
        text.replace(serverLine.arg(1).arg(7), servers);
        text.remove(serverLine.arg(2).arg(8));
        // Debian's global section, as the test may have it: the stats socket in the test's folder.
        const QString global = QStringLiteral("global\n    stats socket %1 mode 600 level admin\n\n").arg(statsSocket());
        QFile rendered(m_pki.path(QStringLiteral("haproxy.cfg")));
        return rendered.open(QIODevice::WriteOnly) && rendered.write((global + text).toUtf8()) > 0;
    }

    // Each server's state as HAProxy's stats socket shows it: "UP", "DOWN", ...
    QHash<QString, QString> serverStates() const
    {
        QHash<QString, QString> states;
        QLocalSocket socket;
        socket.connectToServer(statsSocket());
        if (!socket.waitForConnected(kStepMs))
            return states;
        socket.write("show stat\n");
        QByteArray csv;
        while (socket.waitForReadyRead(kStepMs))
            csv += socket.readAll();
        const QList<QByteArray> lines = csv.split('\n');
        const QList<QByteArray> header = lines.value(0).mid(2).split(',');
        const qsizetype status = header.indexOf("status");
        for (const QByteArray &line : lines) {
            const QList<QByteArray> fields = line.split(',');
            if (fields.size() > status && fields.value(0) == "qlx02600-servers" && fields.value(1).startsWith("app"))
                states.insert(QString::fromLatin1(fields.value(1)), QString::fromLatin1(fields.value(status)));
        }
        return states;
    }

    // The generator through HAProxy, for `language`, writing `output`.
    void startGenerator(QProcess &gen, const QString &language, const QString &output)
    {
        gen.setStandardOutputFile(QProcess::nullDevice()); // the written file's path
        EndsWithTheTest(gen);
        gen.start(QStringLiteral(QLX_GEN_PATH),
                  { QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(m_frontPort), QStringLiteral("--tls-ca"),
                    m_pki.pem(QStringLiteral("ca")), QStringLiteral("--language"), language,
                    QStringLiteral("--since"), QStringLiteral("2025-01-01 00:00"), QStringLiteral("--all"),
                    QStringLiteral("--output"), output });
    }

    // One English generation through HAProxy: true when it wrote the reference's bytes.
    bool generate()
    {
        const QString output = m_pki.path(QStringLiteral("run%1.sql").arg(++m_runs));
        QProcess gen;
        gen.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        gen.setStandardOutputFile(QProcess::nullDevice()); // the written file's path
        EndsWithTheTest(gen);
        gen.start(QStringLiteral(QLX_GEN_PATH),
                  { QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(m_frontPort), QStringLiteral("--tls-ca"),
                    m_pki.pem(QStringLiteral("ca")), QStringLiteral("--language"), QStringLiteral("ENG"),
                    QStringLiteral("--since"), QStringLiteral("2025-01-01 00:00"), QStringLiteral("--all"),
                    QStringLiteral("--output"), output, QStringLiteral("--quiet") });
        if (!gen.waitForFinished(kStepMs) || gen.exitStatus() != QProcess::NormalExit || gen.exitCode() != 0)
            return false;
        QFile file(output);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray written = file.readAll();
        if (m_reference.isEmpty())
            m_reference = written;
        return !written.isEmpty() && written == m_reference;
    }

    int generations() const
    {
        int total = 0;
        for (const auto &server : m_servers)
            total += server->generations();
        return total;
    }

    // Runs `count` generations, each whole, and waits for their audit lines.
    void generateAll(int count)
    {
        const int before = generations();
        for (int i = 0; i < count; ++i)
            QVERIFY2(generate(), qPrintable(QStringLiteral("generation %1 through HAProxy failed or differs").arg(m_runs)));
        QVERIFY(waitFor([&] { return generations() == before + count; }, kStepMs));
    }

private slots:
    void initTestCase()
    {
        m_haproxyProgram = QStandardPaths::findExecutable(QStringLiteral("haproxy"), { QStringLiteral("/usr/sbin") });
        if (m_haproxyProgram.isEmpty())
            QSKIP("HAProxy is not installed: install the haproxy package to run this test");
        QVERIFY(m_pki.makeAuthority(QStringLiteral("ca")));
        // The clients name the balancer; the servers' certificate is for that name.
        QVERIFY(m_pki.issue(QStringLiteral("server"), QStringLiteral("ca"), QStringLiteral("127.0.0.1"),
                            QStringLiteral("IP:127.0.0.1")));
        const QString database = m_pki.path(QStringLiteral("demo.db"));
        QCOMPARE(QProcess::execute(QStringLiteral(QLX_SERVER_PATH), { QStringLiteral("--init-demo"), database }), 0);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
            db.setDatabaseName(database);
            QVERIFY(db.open());
            QSqlQuery large(db);
            QVERIFY2(large.exec(QStringLiteral(
                         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                         "INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) "
                         "SELECT 'PRODUTO', 'GRANDE' || i, 'DSPRODUTO', 'POR', replace(hex(zeroblob(1500)), '0', 'x'), 46000 "
                         "FROM n").arg(kLargeRows)),
                     qPrintable(large.lastError().text()));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("seed"));
        for (int i = 1; i <= kServers; ++i) {
            m_servers.push_back(std::make_unique<TeamServer>(database, m_pki, QStringLiteral("server%1").arg(i)));
            QVERIFY(m_servers.back()->port() > 0 && m_servers.back()->metricsPort() > 0);
        }
        m_haproxy.setProcessChannelMode(QProcess::ForwardedChannels);
        EndsWithTheTest(m_haproxy);
        for (int attempt = 0; attempt < kStartAttempts && m_haproxy.state() != QProcess::Running; ++attempt) {
            m_frontPort = freePort();
            QVERIFY(writeConfiguration());
            m_haproxy.start(m_haproxyProgram, { QStringLiteral("-db"), QStringLiteral("-f"),
                                                m_pki.path(QStringLiteral("haproxy.cfg")) });
            m_haproxy.waitForStarted(kStepMs);
            // Running once its stats socket answers; ended when it could not bind.
            waitFor([&] { return m_haproxy.state() != QProcess::Running || !serverStates().isEmpty(); }, kStepMs);
        }
        QVERIFY2(m_haproxy.state() == QProcess::Running, "HAProxy did not start");
        QVERIFY2(waitFor([&] { return serverStates().values() == QStringList(kServers, QStringLiteral("UP")); }, kMarkedDownMs),
                 "HAProxy did not see every server up");
    }

    void sessionsSpreadOverTheServers()
    {
        generateAll(6);
        for (const auto &server : m_servers)
            QVERIFY2(server->generations() > 0, server->log().constData());
    }

    void aDrainedServerGetsNoNewSession()
    {
        StalledClient stalled(m_frontPort, m_pki.pem(QStringLiteral("ca")));
        // The session stays on the server that took it: the one that received its call.
        TeamServer *draining = nullptr;
        QVERIFY(waitFor([&] {
            for (const auto &server : m_servers) {
                if (server->calls().contains("\"POR\""))
                    draining = server.get();
            }
            return draining != nullptr;
        }, kStepMs));
        draining->signal(SIGTERM);
        QVERIFY(waitFor([&] { return draining->log().contains("stopping: no new sessions"); }, kStepMs));
        const HttpAnswer health = get(draining->metricsPort(), "/healthz");
        QCOMPARE(health.status, 503);
        QCOMPARE(health.body, QByteArray("draining\n"));
        const QString name = QStringLiteral("app%1").arg(
            std::find_if(m_servers.begin(), m_servers.end(), [&](const auto &s) { return s.get() == draining; })
            - m_servers.begin() + 1);
        QVERIFY2(waitFor([&] { return serverStates().value(name) == QLatin1String("DOWN"); }, kMarkedDownMs),
                 "HAProxy did not mark the draining server down");

        const int drainedBefore = draining->generations();
        generateAll(4);
        QCOMPARE(draining->generations(), drainedBefore);

        QVERIFY2(stalled.readAnswer(), draining->log().constData());
        QCOMPARE(draining->exitCode(), 0);
        QVERIFY(draining->log().contains("stopped: every answer under way finished"));
    }

    void aKilledServerIsMarkedDownWhileTheOthersServe()
    {
        TeamServer *killed = nullptr;
        QString name;
        for (std::size_t i = 0; i < m_servers.size() && !killed; ++i) {
            if (serverStates().value(QStringLiteral("app%1").arg(i + 1)) == QLatin1String("UP")) {
                killed = m_servers[i].get();
                name = QStringLiteral("app%1").arg(i + 1);
            }
        }
        QVERIFY(killed);
        killed->signal(SIGKILL);
        QCOMPARE(killed->exitCode(), -1); // gone, by the signal
        const int killedBefore = killed->generations();
        generateAll(2); // before HAProxy has noticed: a refused connection goes to another server
        QVERIFY2(waitFor([&] { return serverStates().value(name) == QLatin1String("DOWN"); }, kMarkedDownMs),
                 "HAProxy did not mark the killed server down");
        generateAll(3);
        QCOMPARE(killed->generations(), killedBefore);
    }

    // A generation whose server is killed in the middle of its answer is made again
    // through HAProxy, on another server: the file is whole, as an undisturbed run's.
    void aGenerationWhoseServerDiesIsRepeated()
    {
        const auto portugueseCalls = [](const TeamServer &server) { return server.calls().count("\"POR\""); };
        std::vector<qsizetype> before;
        for (const auto &server : m_servers)
            before.push_back(portugueseCalls(*server));
        const QString cut = m_pki.path(QStringLiteral("cut.sql"));
        const QString whole = m_pki.path(QStringLiteral("whole.sql"));
        QProcess interrupted;
        startGenerator(interrupted, QStringLiteral("POR"), cut);
        TeamServer *serving = nullptr;
        QVERIFY(waitFor([&] {
            for (std::size_t i = 0; i < m_servers.size(); ++i) {
                if (portugueseCalls(*m_servers[i]) > before[i])
                    serving = m_servers[i].get();
            }
            return serving != nullptr;
        }, kStepMs, kMidAnswerPollMs));
        // The generator is held still while its server dies: the buffers between them
        // hold less than the answer, so it cannot be whole before the kill.
        const auto generator = pid_t(interrupted.processId());
        QVERIFY2(generator > 0, "the generator ended before its server was killed"); // kill(0) would stop the test's group
        ::kill(generator, SIGSTOP);
        serving->signal(SIGKILL);
        ::kill(generator, SIGCONT);
        QVERIFY(interrupted.waitForFinished(kStepMs));
        const QByteArray said = interrupted.readAllStandardError();
        QVERIFY2(interrupted.exitStatus() == QProcess::NormalExit && interrupted.exitCode() == 0, said.constData());
        QVERIFY2(said.contains("reconectando"), said.constData()); // killed before its answer was whole
        QProcess undisturbed;
        startGenerator(undisturbed, QStringLiteral("POR"), whole);
        QVERIFY(undisturbed.waitForFinished(kStepMs) && undisturbed.exitCode() == 0);
        QFile first(cut);
        QFile second(whole);
        QVERIFY(first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly));
        const QByteArray written = first.readAll();
        QVERIFY(written.size() > kLargeRows * 1500);
        QVERIFY(written == second.readAll());
    }

    void cleanupTestCase()
    {
        m_haproxy.kill();
        m_haproxy.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestHaproxy)
#include "tst_haproxy.moc"
