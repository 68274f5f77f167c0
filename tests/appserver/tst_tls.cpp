// TLS between the clients and the application server, with a throw-away
// certificate authority made by openssl for each run.
#include "tests/support/metricspage.h"
#include "tests/support/pki.h"
#include "tests/support/rawclient.h"
#include "tests/support/serverprocess.h"

#include "client/recordsetfields.h"
#include "client/remotemethods.h"
#include "hostlib/core/netconnection.h"
#include "runtime/core/clientdataset.h"
#include "runtime/core/exceptions.h"
#include "runtime/core/socketconnection.h"

#include <QDir>
#include <QTcpServer>
#include <QTimer>
#include <QElapsedTimer>
#include <QSslCipher>
#include <QSslSocket>
#include <csignal>

#include <sys/resource.h>

namespace {

QStringList serverTls(const Pki &pki, const QString &certificate, bool clientCertificates)
{
    QStringList arguments { QStringLiteral("--tls-cert"), pki.pem(certificate), QStringLiteral("--tls-key"),
                            pki.key(certificate) };
    if (clientCertificates)
        arguments << QStringLiteral("--tls-client-ca") << pki.pem(QStringLiteral("ca"));
    return arguments;
}

struct CallOutcome
{
    QString failure; // empty when the call succeeded
    int languages = 0;
    qint64 elapsedMs = 0;
};

// `connection` pointed at the server's remote object on this machine's `port`, over TLS with `tls`.
void aimAt(TSocketConnection &connection, int port, const TTlsFiles &tls)
{
    connection.ServerName = QStringLiteral("QLX02600.rdmGeraArquivo");
    connection.Host = QStringLiteral("127.0.0.1");
    connection.Port = port;
    connection.Tls = tls;
}

CallOutcome callLanguages(int port, const TTlsFiles &tls)
{
    TNetConnection connection;
    aimAt(connection, port, tls);
    connection.Timeout = 60;
    TClientDataSet languages;
    DeclareLanguageFields(languages);
    CallOutcome outcome;
    QElapsedTimer clock;
    clock.start();
    try {
        GetIdioma(connection, languages);
        outcome.languages = languages.RecordCount();
    } catch (const Exception &failure) {
        outcome.failure = failure.message();
    }
    outcome.elapsedMs = clock.elapsed();
    return outcome;
}

} // namespace

class TstTls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_pki.makeAuthority(QStringLiteral("ca")));
        QVERIFY(m_pki.makeAuthority(QStringLiteral("other-ca")));
        const QString here = QStringLiteral("DNS:localhost,IP:127.0.0.1");
        QVERIFY(m_pki.issue(QStringLiteral("server"), QStringLiteral("ca"), QStringLiteral("localhost"), here));
        QVERIFY(m_pki.issue(QStringLiteral("server-renewed"), QStringLiteral("ca"), QStringLiteral("localhost"), here));
        QVERIFY(m_pki.issue(QStringLiteral("server-other-ca"), QStringLiteral("other-ca"), QStringLiteral("localhost"), here));
        QVERIFY(m_pki.issue(QStringLiteral("server-expired"), QStringLiteral("ca"), QStringLiteral("localhost"), here, -1));
        QVERIFY(m_pki.issue(QStringLiteral("server-elsewhere"), QStringLiteral("ca"), QStringLiteral("outro.example"),
                            QStringLiteral("DNS:outro.example")));
        QVERIFY(m_pki.issue(QStringLiteral("desk-01"), QStringLiteral("ca"), QStringLiteral("desk-01"), QStringLiteral("DNS:desk-01")));
        QVERIFY(m_pki.issue(QStringLiteral("desk-expired"), QStringLiteral("ca"), QStringLiteral("desk-expired"),
                            QStringLiteral("DNS:desk-expired"), -1));
        QVERIFY(m_pki.issue(QStringLiteral("stranger"), QStringLiteral("other-ca"), QStringLiteral("stranger"),
                            QStringLiteral("DNS:stranger")));
        // Chains over the server's limits: 2000 names in one certificate, 11 certificates,
        // and more bytes than a handshake takes.
        QStringList names;
        for (int i = 0; i < 2000; ++i)
            names << QStringLiteral("DNS:desk-%1.names.example.com").arg(i, 4, 10, QLatin1Char('0'));
        QVERIFY(m_pki.issue(QStringLiteral("desk-many-names"), QStringLiteral("ca"), QStringLiteral("desk-many-names"),
                            names.join(QLatin1Char(','))));
        QStringList longChain;
        QString issuer = QStringLiteral("ca");
        for (int i = 1; i <= 10; ++i) {
            const QString intermediate = QStringLiteral("intermediate-%1").arg(i);
            QVERIFY(m_pki.issueAuthority(intermediate, issuer));
            longChain.prepend(intermediate);
            issuer = intermediate;
        }
        QVERIFY(m_pki.issue(QStringLiteral("desk-long"), issuer, QStringLiteral("desk-long"), QStringLiteral("DNS:desk-long")));
        QVERIFY(m_pki.chain(QStringLiteral("desk-long-chain"), QStringList { QStringLiteral("desk-long") } + longChain));
        const QString many = QStringLiteral("desk-many-names");
        QVERIFY(m_pki.chain(QStringLiteral("desk-huge-chain"), { many, many, many }));
        // A subject made to write a line of its own into the server's log.
        QVERIFY(m_pki.issue(QStringLiteral("desk-forged"), QStringLiteral("ca"),
                            QStringLiteral("x\naudit peer=10.9.9.9:1 end=client-closed calls=9"), QStringLiteral("DNS:desk-forged")));
    }

    // SIGHUP reloads the TLS files: new sessions get the renewed certificate, an open
    // session goes on; files that cannot be used are refused and the old ones stay.
    void reloadOnSighup_data()
    {
        QTest::addColumn<bool>("usable");
        QTest::newRow("a renewed certificate") << true;
        QTest::newRow("an unreadable certificate") << false;
    }
    void reloadOnSighup()
    {
        QFETCH(bool, usable);
        QTemporaryDir live;
        const QString certificate = live.filePath(QStringLiteral("server.pem"));
        const QString key = live.filePath(QStringLiteral("server.key"));
        QVERIFY(QFile::copy(m_pki.pem(QStringLiteral("server")), certificate));
        QVERIFY(QFile::copy(m_pki.key(QStringLiteral("server")), key));
        ServerProcess server({}, true, { QStringLiteral("--tls-cert"), certificate, QStringLiteral("--tls-key"), key });
        QVERIFY(server.port() != 0);
        TNetConnection open;
        aimAt(open, server.port(), TTlsFiles { m_pki.pem(QStringLiteral("ca")), QString(), QString() });
        int connects = 0;
        open.BeforeConnect = [&connects](QObject *) { ++connects; };
        TClientDataSet languages;
        DeclareLanguageFields(languages);
        GetIdioma(open, languages);

        QVERIFY(QFile::remove(certificate) && QFile::remove(key));
        if (usable) {
            QVERIFY(QFile::copy(m_pki.pem(QStringLiteral("server-renewed")), certificate));
            QVERIFY(QFile::copy(m_pki.key(QStringLiteral("server-renewed")), key));
        } else {
            QFile broken(certificate);
            QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("no certificate\n") > 0);
            QVERIFY(QFile::copy(m_pki.key(QStringLiteral("server-renewed")), key));
        }
        QCOMPARE(::kill(pid_t(server.pid()), SIGHUP), 0);
        QVERIFY2(server.waitForLog(usable ? "TLS files reloaded" : "TLS reload refused"), server.log().constData());

        GetIdioma(open, languages); // the open session goes on
        QCOMPARE(connects, 1);
        QSslSocket newcomer;
        newcomer.setPeerVerifyName(QStringLiteral("localhost"));
        QSslConfiguration trust = newcomer.sslConfiguration();
        trust.setCaCertificates(QSslCertificate::fromPath(m_pki.pem(QStringLiteral("ca"))));
        newcomer.setSslConfiguration(trust);
        newcomer.connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(server.port()));
        QVERIFY2(newcomer.waitForEncrypted(20000), qPrintable(newcomer.errorString()));
        const QString expected = m_pki.pem(usable ? QStringLiteral("server-renewed") : QStringLiteral("server"));
        QCOMPARE(newcomer.peerCertificate(), QSslCertificate::fromPath(expected).constFirst());
        QVERIFY(server.running());
    }

    void forgedSubjectLeavesNoLineOfItsOwn()
    {
        ServerProcess server({}, true, serverTls(m_pki, QStringLiteral("server"), true));
        QVERIFY(server.port() != 0);
        const CallOutcome outcome = callLanguages(server.port(), { m_pki.pem(QStringLiteral("ca")),
                                                                   m_pki.pem(QStringLiteral("desk-forged")),
                                                                   m_pki.key(QStringLiteral("desk-forged")) });
        QCOMPARE(outcome.failure, QString());
        QVERIFY2(server.waitForLog(" seconds="), server.log()); // the end of the connection
        int shown = 0;
        for (const QByteArray &line : server.log().split('\n')) {
            if (!line.contains("10.9.9.9"))
                continue;
            ++shown;
            QVERIFY2(line.startsWith("audit peer=127.0.0.1:"), line.constData());
        }
        QCOMPARE(shown, 2); // the call and the end of the connection
    }

    void handshake_data()
    {
        QTest::addColumn<QString>("serverCertificate");
        QTest::addColumn<bool>("clientCertificates");
        QTest::addColumn<QString>("clientCertificate");
        QTest::addColumn<QString>("failure"); // a part of the message; empty: the call succeeds

        QTest::addColumn<QString>("counted"); // the reason of qlx_tls_failures_total that counts it

        const QString server = QStringLiteral("server");
        const QString handshake = QStringLiteral("handshake");
        const QString refused = QStringLiteral("client-certificate");
        QTest::newRow("good certificate") << server << false << QString() << QString() << QString();
        QTest::newRow("untrusted authority") << QStringLiteral("server-other-ca") << false << QString()
                                             << QStringLiteral("não foi assinado pela autoridade confiável") << handshake;
        QTest::newRow("expired certificate") << QStringLiteral("server-expired") << false << QString()
                                             << QStringLiteral("o certificado do servidor expirou em") << handshake;
        QTest::newRow("wrong host name") << QStringLiteral("server-elsewhere") << false << QString()
                                         << QStringLiteral("não é do nome 127.0.0.1 (é de outro.example)") << handshake;
        QTest::newRow("client certificate required, missing") << server << true << QString()
                                                              << QStringLiteral("exige um certificado do cliente") << refused;
        QTest::newRow("client certificate required, present")
            << server << true << QStringLiteral("desk-01") << QString() << QString();
        QTest::newRow("client certificate of another authority")
            << server << true << QStringLiteral("stranger")
            << QStringLiteral("não aceitou o certificado do cliente: não foi assinado pela autoridade do servidor") << refused;
        QTest::newRow("expired client certificate") << server << true << QStringLiteral("desk-expired")
                                                    << QStringLiteral("o certificado do cliente expirou em") << refused;
    }

    void handshake()
    {
        QFETCH(QString, serverCertificate);
        QFETCH(bool, clientCertificates);
        QFETCH(QString, clientCertificate);
        QFETCH(QString, failure);
        QFETCH(QString, counted);
        ServerProcess server({}, true, serverTls(m_pki, serverCertificate, clientCertificates)
                                           + QStringList { QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0") });
        QVERIFY(server.port() != 0);
        TTlsFiles tls { m_pki.pem(QStringLiteral("ca")), QString(), QString() };
        if (!clientCertificate.isEmpty()) {
            tls.CertFile = m_pki.pem(clientCertificate);
            tls.KeyFile = m_pki.key(clientCertificate);
        }
        const CallOutcome outcome = callLanguages(server.port(), tls);
        QByteArray page;
        const auto failures = [&](const QString &reason) {
            page = get(server.metricsPort(), "/metrics").body;
            return sample(page, "qlx_tls_failures_total{reason=\"" + reason.toUtf8() + "\"}");
        };
        if (!counted.isEmpty())
            QVERIFY2(QTest::qWaitFor([&] { return failures(counted) == 1; }, 20000), page.constData());
        for (const char *reason : { "handshake", "client-certificate", "plaintext-client", "chain-too-large" }) {
            if (counted != QLatin1String(reason))
                QVERIFY2(failures(QLatin1String(reason)) == 0, page.constData());
        }
        if (failure.isEmpty()) {
            QCOMPARE(outcome.failure, QString());
            QCOMPARE(outcome.languages, 3);
            if (!clientCertificate.isEmpty())
                QVERIFY2(server.waitForLog("subject=\"CN=" + clientCertificate.toUtf8() + "\" call=\"GetIdioma\""),
                         server.log());
            return;
        }
        QVERIFY2(outcome.failure.contains(failure), qPrintable(outcome.failure));
        QVERIFY2(outcome.failure.contains(QStringLiteral("servidor de aplicação 127.0.0.1:%1 recusada").arg(server.port())),
                 qPrintable(outcome.failure));
        if (clientCertificates) { // the server says why, and serves nothing
            QVERIFY2(server.waitForLog(" end=tls-refused calls=0"), server.log());
            QVERIFY(!server.log().contains("call="));
        }
    }

    // A chain over the server's limits is refused, the log naming the limit and the
    // client saying why: over the count or the bytes the server takes, after the
    // handshake; over the bytes a handshake takes, by the handshake's end.
    void oversizedClientChainsRefused_data()
    {
        QTest::addColumn<QString>("clientCertificate");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QByteArray>("logged");
        const QString sizes = QStringLiteral("passam do tamanho que o servidor aceita");
        const QByteArray limits = "over the limit of 10 certificates and 32768 bytes";
        QTest::newRow("2000 names") << QStringLiteral("desk-many-names") << sizes << limits;
        QTest::newRow("11 certificates") << QStringLiteral("desk-long-chain") << sizes << limits;
        QTest::newRow("more than a handshake takes") << QStringLiteral("desk-huge-chain")
                                                     << QStringLiteral("a sua cadeia não é longa demais (tls-cert)")
                                                     << QByteArray("over the 102400 bytes a handshake takes");
    }
    void oversizedClientChainsRefused()
    {
        QFETCH(QString, clientCertificate);
        QFETCH(QString, failure);
        QFETCH(QByteArray, logged);
        ServerProcess server({}, true, serverTls(m_pki, QStringLiteral("server"), true));
        QVERIFY(server.port() != 0);
        const CallOutcome outcome = callLanguages(server.port(), { m_pki.pem(QStringLiteral("ca")), m_pki.pem(clientCertificate),
                                                                   m_pki.key(clientCertificate) });
        QVERIFY2(outcome.failure.contains(failure), qPrintable(outcome.failure));
        QVERIFY2(outcome.failure.contains(QStringLiteral("servidor de aplicação 127.0.0.1:%1 recusada").arg(server.port())),
                 qPrintable(outcome.failure));
        QVERIFY2(server.waitForLog(logged), server.log());
        QVERIFY(!server.log().contains("call="));
        QVERIFY(!server.log().contains("internal error"));
    }

    // A client's own files are checked before it connects, its key against its certificate
    // too: a handshake with another key would fail in words that blame the server.
    void unusableClientFilesRefused_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("failure");
        QTest::newRow("key of another certificate") << QStringLiteral("desk-01.pem") << QStringLiteral("stranger.key")
                                                    << QStringLiteral("não é a do certificado");
        QTest::newRow("certificate as the key") << QStringLiteral("desk-01.pem") << QStringLiteral("desk-01.pem")
                                                << QStringLiteral("não tem uma chave privada PEM");
        QTest::newRow("key as the certificate") << QStringLiteral("desk-01.key") << QStringLiteral("desk-01.key")
                                                << QStringLiteral("não tem um certificado PEM");
    }

    void unusableClientFilesRefused()
    {
        QFETCH(QString, certificate);
        QFETCH(QString, key);
        QFETCH(QString, failure);
        ServerProcess server({}, true, serverTls(m_pki, QStringLiteral("server"), true));
        QVERIFY(server.port() != 0);
        const CallOutcome outcome = callLanguages(
            server.port(), TTlsFiles { m_pki.pem(QStringLiteral("ca")), m_pki.path(certificate), m_pki.path(key) });
        QVERIFY2(outcome.failure.contains(failure), qPrintable(outcome.failure));
        QVERIFY2(outcome.elapsedMs < 15000, qPrintable(QString::number(outcome.elapsedMs))); // the time-out is 60 s
        QVERIFY2(!server.log().contains("peer="), server.log()); // it never connected
    }

    // Calls follow each other on one TLS connection, with no reconnect between them:
    // nothing TLS leaves on the socket passes for a stray answer.
    void callsShareOneTlsConnection()
    {
        ServerProcess server({}, true, serverTls(m_pki, QStringLiteral("server"), true));
        QVERIFY(server.port() != 0);
        TNetConnection connection;
        aimAt(connection, server.port(),
              TTlsFiles { m_pki.pem(QStringLiteral("ca")), m_pki.pem(QStringLiteral("desk-01")),
                          m_pki.key(QStringLiteral("desk-01")) });
        int connects = 0;
        connection.BeforeConnect = [&connects](QObject *) { ++connects; };
        for (int call = 0; call < 3; ++call) {
            TClientDataSet languages;
            DeclareLanguageFields(languages);
            GetIdioma(connection, languages);
            QCOMPARE(languages.RecordCount(), 3);
            QTest::qWait(200); // what the server sends after an answer has arrived by the next call
        }
        QCOMPARE(connects, 1);
    }

    // Under TLS 1.3 the server picks AES-128-GCM whatever the client lists first, and
    // agrees to the other suites of a client that offers no AES-128-GCM.
    void tls13SuiteChosen_data()
    {
        QTest::addColumn<QByteArray>("offered"); // empty: the client's own list
        QTest::addColumn<QString>("agreed");
        QTest::newRow("the client's own list") << QByteArray() << QStringLiteral("TLS_AES_128_GCM_SHA256");
        QTest::newRow("ChaCha20 listed first")
            << QByteArray("TLS_CHACHA20_POLY1305_SHA256:TLS_AES_256_GCM_SHA384:TLS_AES_128_GCM_SHA256")
            << QStringLiteral("TLS_AES_128_GCM_SHA256");
        QTest::newRow("AES-256-GCM only") << QByteArray("TLS_AES_256_GCM_SHA384") << QStringLiteral("TLS_AES_256_GCM_SHA384");
        QTest::newRow("ChaCha20 only") << QByteArray("TLS_CHACHA20_POLY1305_SHA256")
                                       << QStringLiteral("TLS_CHACHA20_POLY1305_SHA256");
    }

    void tls13SuiteChosen()
    {
        QFETCH(QByteArray, offered);
        QFETCH(QString, agreed);
        ServerProcess server({}, true, serverTls(m_pki, QStringLiteral("server"), false));
        QVERIFY(server.port() != 0);
        const auto socket = std::make_unique<QSslSocket>();
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(QSslCertificate::fromPath(m_pki.pem(QStringLiteral("ca"))));
        configuration.setProtocol(QSsl::TlsV1_3OrLater);
        if (!offered.isEmpty())
            configuration.setBackendConfigurationOption("Ciphersuites", offered);
        socket->setSslConfiguration(configuration);
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(server.port()));
        QVERIFY2(socket->waitForEncrypted(10000), qPrintable(socket->errorString()));
        QCOMPARE(socket->sessionCipher().name(), agreed);
    }

    // A client and a server that disagree on TLS learn it at once, not at the time-out.
    void mismatchFailsFast_data()
    {
        QTest::addColumn<bool>("serverTls");
        QTest::addColumn<bool>("clientTls");
        QTest::addColumn<QString>("failure");
        QTest::newRow("plaintext client, TLS server") << true << false
                                                      << QStringLiteral("recusada: o servidor só aceita conexões TLS");
        QTest::newRow("TLS client, plaintext server") << false << true << QStringLiteral("ele não usa TLS?");
    }

    void mismatchFailsFast()
    {
        QFETCH(bool, serverTls);
        QFETCH(bool, clientTls);
        QFETCH(QString, failure);
        ServerProcess server({}, true, serverTls ? ::serverTls(m_pki, QStringLiteral("server"), false) : QStringList());
        QVERIFY(server.port() != 0);
        const TTlsFiles tls { clientTls ? m_pki.pem(QStringLiteral("ca")) : QString(), QString(), QString() };
        const CallOutcome outcome = callLanguages(server.port(), tls);
        QVERIFY2(outcome.failure.contains(failure), qPrintable(outcome.failure));
        QVERIFY2(outcome.elapsedMs < 15000, qPrintable(QString::number(outcome.elapsedMs))); // the time-out is 60 s
    }

    // A server that takes the connection and never answers the handshake: the wait runs
    // the event loop (timers fire) and ends with the time-out's message.
    void silentHandshakeKeepsTheEventLoopRunning()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        TNetConnection connection;
        aimAt(connection, silent.serverPort(), TTlsFiles { m_pki.pem(QStringLiteral("ca")), QString(), QString() });
        connection.Timeout = 1;
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(50);
        TClientDataSet languages;
        DeclareLanguageFields(languages);
        QString failure;
        try {
            GetIdioma(connection, languages);
        } catch (const Exception &error) {
            failure = error.message();
        }
        QVERIFY2(ticks >= 5, qPrintable(QStringLiteral("%1 ticks; %2").arg(ticks).arg(failure)));
        QVERIFY2(failure.contains(QStringLiteral("não respondeu em 1 segundos")), qPrintable(failure));
    }

    // Over the client cap a TLS server still answers "busy", over TLS.
    void busyOverTls()
    {
        ServerProcess server({}, true, serverTls(m_pki, QStringLiteral("server"), false) + QStringList {
                                 QStringLiteral("--max-clients"), QStringLiteral("1") });
        QVERIFY(server.port() != 0);
        const TTlsFiles tls { m_pki.pem(QStringLiteral("ca")), QString(), QString() };
        TNetConnection first;
        aimAt(first, server.port(), tls);
        TClientDataSet languages;
        DeclareLanguageFields(languages);
        GetIdioma(first, languages); // holds the only session
        QVERIFY(first.Connected());
        const CallOutcome second = callLanguages(server.port(), tls);
        QVERIFY2(second.failure.contains(QStringLiteral("ocupado")), qPrintable(second.failure));
    }

    // Silent connections from many addresses take no more than the handshakes' share
    // of the slots, and only until a newer client comes or the handshake's time is up:
    // a client with a certificate is served, never told that every slot is taken.
    void silentConnectionsLeaveRoomForClients()
    {
        ServerProcess server({}, true, serverTls(m_pki, QStringLiteral("server"), true) + QStringList {
                                 QStringLiteral("--max-clients"), QStringLiteral("64"),
                                 QStringLiteral("--handshake-timeout"), QStringLiteral("2") });
        QVERIFY(server.port() != 0);
        std::vector<std::unique_ptr<QTcpSocket>> silent;
        for (int host = 1; host <= 8; ++host) {
            for (int i = 0; i < 8; ++i) { // each address at its own cap of 8
                silent.push_back(std::make_unique<QTcpSocket>());
                silent.back()->bind(QHostAddress(QStringLiteral("127.0.10.%1").arg(host)));
                silent.back()->connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
            }
        }
        for (auto &socket : silent) // all of them within the handshake time
            QVERIFY(socket->waitForConnected(30000));
        const TTlsFiles desk { m_pki.pem(QStringLiteral("ca")), m_pki.pem(QStringLiteral("desk-01")),
                               m_pki.key(QStringLiteral("desk-01")) };
        // The client takes the place of the oldest silent one; on a loaded machine, while
        // as many of those closes are still under way, it is turned away and tries again.
        CallOutcome served = callLanguages(server.port(), desk);
        const QDeadlineTimer deadline(15000);
        while (!served.failure.isEmpty() && !deadline.hasExpired()) {
            QVERIFY2(!served.failure.contains(QStringLiteral("limite de 64")), qPrintable(served.failure));
            QTest::qWait(200);
            served = callLanguages(server.port(), desk);
        }
        QCOMPARE(served.failure, QString());
        QCOMPARE(served.languages, 3);
        // The handshake cap holds 16: older silent ones were closed to make room (or, with
        // 16 such closes under way, newcomers refused), the last ones at the handshake
        // time-out; none was refused for the client cap.
        QVERIFY2(server.waitForLog(" end=handshake-timeout "), server.log().constData());
        const qsizetype evicted = server.log().count(" end=handshake-evicted ");
        QVERIFY2(evicted >= 16, qPrintable(QStringLiteral("%1 evicted\n%2").arg(evicted).arg(QString::fromUtf8(server.log()))));
        QVERIFY2(!server.log().contains("limite de 64 conexões"), server.log().constData());
        QVERIFY2(!server.log().contains("deste endereço"), server.log().constData());
        for (auto &socket : silent)
            QVERIFY(socket->state() == QAbstractSocket::UnconnectedState || socket->waitForDisconnected(10000));
    }

    // An answer of many parts, each larger than TLS takes at a time, arrives whole and
    // in order: the same file as over plaintext.
    void largeAnswerAsOverPlaintext()
    {
        const auto seed = [](QSqlDatabase &db) {
            exec(db, QStringLiteral("INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA) VALUES ('ENG', 'Ingles')"));
            exec(db, QStringLiteral("INSERT INTO PROGTRAD (CDPROGTRAD) VALUES ('UNIDADE')"));
            exec(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60000) "
                                    "INSERT INTO TRADUCAO SELECT 'UNIDADE', 'K' || i, 'DS', 'ENG', "
                                    "'Texto numero ' || i || ' com algumas palavras a mais', 46000 + i / 64.0 FROM n"));
        };
        QTemporaryDir work;
        QByteArray scripts[2];
        for (const bool secure : { false, true }) {
            ServerProcess server(seed, false, secure ? serverTls(m_pki, QStringLiteral("server"), true) : QStringList());
            QVERIFY(server.port() != 0);
            const QString file = work.filePath(secure ? QStringLiteral("tls.sql") : QStringLiteral("plain.sql"));
            QStringList arguments { QStringLiteral("--server"), server.address(), QStringLiteral("--language"),
                                    QStringLiteral("ENG"), QStringLiteral("--since"), QStringLiteral("2000-01-01 00:00"),
                                    QStringLiteral("--all"), QStringLiteral("--output"), file };
            if (secure)
                arguments << QStringLiteral("--tls-ca") << m_pki.pem(QStringLiteral("ca")) << QStringLiteral("--tls-cert")
                          << m_pki.pem(QStringLiteral("desk-01")) << QStringLiteral("--tls-key")
                          << m_pki.key(QStringLiteral("desk-01"));
            QProcess generator;
            generator.start(QStringLiteral(QLX_GEN_PATH), arguments);
            QVERIFY(generator.waitForFinished(60000));
            QVERIFY2(generator.exitCode() == 0, generator.readAllStandardError().constData());
            QFile script(file);
            QVERIFY(script.open(QIODevice::ReadOnly));
            scripts[secure] = script.readAll();
        }
        QCOMPARE(scripts[0].count('\n'), 60000);
        QVERIFY(scripts[1] == scripts[0]);
    }

    // Either side going mid-answer over TLS ends only that connection, without a
    // signal for writing to it: the server logs the client gone and serves the next,
    // the client is told the connection was lost.
    void sideGoneMidAnswer_data()
    {
        QTest::addColumn<bool>("serverGoes");
        QTest::newRow("the client goes") << false;
        QTest::newRow("the server goes") << true;
    }
    void sideGoneMidAnswer()
    {
        QFETCH(bool, serverGoes);
        ServerProcess server([](QSqlDatabase &db) {
            exec(db, QStringLiteral("INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA) VALUES ('ENG', 'Ingles')"));
            exec(db, QStringLiteral("INSERT INTO PROGTRAD (CDPROGTRAD) VALUES ('UNIDADE')"));
            exec(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600000) "
                                    "INSERT INTO TRADUCAO SELECT 'UNIDADE', 'K' || i, 'DS', 'ENG', 'Text number ' || i, 400 FROM n"));
        }, false, serverTls(m_pki, QStringLiteral("server"), false));
        QVERIFY(server.port() != 0);
        if (!serverGoes) {
            {
                RawClient gone(server.port());
                QVERIFY(gone.encrypt(m_pki.pem(QStringLiteral("ca"))));
                gone.send(protocol::frameOf(protocol::encodeRequest({ QStringLiteral("QLX02600.rdmGeraArquivo"), QStringLiteral("GetPropriedCds"),
                                                  { text(QStringLiteral("ENG")), text(QStringLiteral("UNIDADE"), protocol::ArgumentKind::StrRef),
                                                    date(0) } })));
                QVERIFY(gone.socket.waitForReadyRead(RawClient::kWaitMs)); // the answer has begun
                gone.socket.abort();
            }
            QVERIFY2(server.waitForLog(" outcome=client-gone"), server.log().constData());
            const CallOutcome next = callLanguages(server.port(), { m_pki.pem(QStringLiteral("ca")), QString(), QString() });
            QCOMPARE(next.failure, QString());
            QCOMPARE(next.languages, 1);
            return;
        }
        // The server is killed once the first rows of the answer have arrived.
        struct KillOnFirstRow : protocol::DataPacketDiscard
        {
            qint64 server = 0;
            void endRow() override
            {
                if (const qint64 pid = std::exchange(server, 0); pid > 0)
                    ::kill(pid_t(pid), SIGKILL);
            }
        } killer;
        killer.server = server.pid();
        TSocketConnection connection;
        aimAt(connection, server.port(), TTlsFiles { m_pki.pem(QStringLiteral("ca")), QString(), QString() });
        connection.Timeout = 30;
        AnsiString program("UNIDADE");
        QElapsedTimer clock;
        clock.start();
        QString failure;
        try {
            connection.Call(QStringLiteral("GetPropriedCds"),
                            { TRemoteArg::byValue(AnsiString("ENG")), TRemoteArg::byReference(program), TRemoteArg::dateTime(0) },
                            &killer);
        } catch (const EConnectionLost &lost) {
            failure = lost.message();
        }
        QVERIFY2(failure.contains(QStringLiteral("A conexão com o servidor de aplicação foi perdida")), qPrintable(failure));
        QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!connection.Connected());
    }

    // Short of descriptors a TLS server answers "busy" over TLS too, never in plaintext.
    void busyOverTlsWithoutDescriptors()
    {
        ServerProcess server({}, true, serverTls(m_pki, QStringLiteral("server"), false));
        QVERIFY(server.port() != 0);
        const pid_t pid = pid_t(server.pid());
        // At most three descriptor numbers free: fewer than a session needs.
        const QStringList open = QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
        rlim_t lowestFree = 0;
        while (open.contains(QString::number(lowestFree)))
            ++lowestFree;
        rlimit original {};
        QCOMPARE(prlimit(pid, RLIMIT_NOFILE, nullptr, &original), 0);
        const rlimit lowered { lowestFree + 3, original.rlim_max };
        QCOMPARE(prlimit(pid, RLIMIT_NOFILE, &lowered, nullptr), 0);
        const CallOutcome refused = callLanguages(server.port(), { m_pki.pem(QStringLiteral("ca")), QString(), QString() });
        QVERIFY2(refused.failure.contains(QStringLiteral("sem descritores")), qPrintable(refused.failure));
        QVERIFY2(server.log().contains("out of descriptors"), server.log().constData());
    }

    void plaintextOutsideLoopbackRefused_data()
    {
        QTest::addColumn<QString>("listen");
        QTest::newRow("every address") << QStringLiteral("0.0.0.0:0");
        QTest::newRow("one outside address") << QStringLiteral("192.0.2.10:0");
        QTest::newRow("every IPv6 address") << QStringLiteral("[::]:0");
    }

    // Refused before anything listens, so no test binds beyond loopback.
    void plaintextOutsideLoopbackRefused()
    {
        QFETCH(QString, listen);
        QTemporaryDir dir;
        QCOMPARE(QProcess::execute(QStringLiteral(QLX_SERVER_PATH), { QStringLiteral("--init-demo"), dir.filePath(QStringLiteral("t.db")) }), 0);
        QProcess server;
        server.start(QStringLiteral(QLX_SERVER_PATH),
                     { QStringLiteral("--db"), dir.filePath(QStringLiteral("t.db")), QStringLiteral("--listen"), listen });
        QVERIFY(server.waitForFinished(30000));
        QCOMPARE(server.exitCode(), 2);
        QVERIFY(!server.readAllStandardOutput().contains("listening on"));
        QVERIFY(server.readAllStandardError().contains("without TLS"));
    }

    void unusableServerFilesRefusedAtStart_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("message");
        QTest::newRow("key of another certificate") << QStringLiteral("server") << QStringLiteral("desk-01")
                                                    << QStringLiteral("is not the key of the certificate");
        QTest::newRow("certificate as the key") << QStringLiteral("server") << QStringLiteral("server.pem")
                                                << QStringLiteral("holds no unencrypted PEM");
        QTest::newRow("key as the certificate") << QStringLiteral("server.key") << QStringLiteral("server")
                                                << QStringLiteral("holds no PEM certificate");
    }

    // Files no handshake could use stop the server before it listens, naming them.
    void unusableServerFilesRefusedAtStart()
    {
        QFETCH(QString, certificate);
        QFETCH(QString, key);
        QFETCH(QString, message);
        const auto file = [this](const QString &name, bool isKey) {
            return name.contains(QLatin1Char('.')) ? m_pki.path(name) : isKey ? m_pki.key(name) : m_pki.pem(name);
        };
        QTemporaryDir dir;
        QProcess server;
        server.start(QStringLiteral(QLX_SERVER_PATH),
                     { QStringLiteral("--db"), dir.filePath(QStringLiteral("t.db")), QStringLiteral("--listen"),
                       QStringLiteral("127.0.0.1:0"), QStringLiteral("--tls-cert"), file(certificate, false),
                       QStringLiteral("--tls-key"), file(key, true) });
        QVERIFY(server.waitForFinished(30000));
        QCOMPARE(server.exitCode(), 2);
        QVERIFY(!server.readAllStandardOutput().contains("listening on"));
        const QByteArray error = server.readAllStandardError();
        QVERIFY2(error.contains(message.toUtf8()), error.constData());
    }

    // The generator takes its TLS files through the host's one settings lookup.
    void generatorSettings_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("authority"); // "missing": a file that is not there
        QTest::addColumn<QString>("key");       // of the certificate desk-01; empty: none given
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QString own = QStringLiteral("desk-01");
        QTest::newRow("option") << QStringLiteral("option") << QStringLiteral("ca") << own << 0 << QString();
        QTest::newRow("environment") << QStringLiteral("environment") << QStringLiteral("ca") << own << 0 << QString();
        QTest::newRow("settings file") << QStringLiteral("file") << QStringLiteral("ca") << own << 0 << QString();
        QTest::newRow("untrusted, nothing written") << QStringLiteral("option") << QStringLiteral("other-ca") << own << 3
                                                    << QStringLiteral("não foi assinado pela autoridade confiável");
        // A setting that cannot work is a bad argument, told before any connection.
        QTest::newRow("client certificate without authority")
            << QStringLiteral("environment") << QString() << own << 2 << QStringLiteral("sem a autoridade confiável");
        QTest::newRow("authority file missing") << QStringLiteral("option") << QStringLiteral("missing") << own << 2
                                                << QStringLiteral("Não foi possível ler a autoridade confiável (tls-ca)");
        QTest::newRow("certificate without its key") << QStringLiteral("option") << QStringLiteral("ca") << QString() << 2
                                                     << QStringLiteral("tls-cert e de tls-key");
        QTest::newRow("key of another certificate") << QStringLiteral("file") << QStringLiteral("ca") << QStringLiteral("stranger")
                                                    << 2 << QStringLiteral("não é a do certificado");
    }

    void generatorSettings()
    {
        QFETCH(QString, source);
        QFETCH(QString, authority);
        QFETCH(QString, key);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        ServerProcess server({}, true, serverTls(m_pki, QStringLiteral("server"), true));
        QVERIFY(server.port() != 0);
        QTemporaryDir work;
        const QString output = work.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(output));
        const QString ca = authority.isEmpty() ? QString() : m_pki.pem(authority);
        const QString cert = m_pki.pem(QStringLiteral("desk-01"));
        const QString keyFile = key.isEmpty() ? QString() : m_pki.key(key);

        QStringList arguments { QStringLiteral("--server"), server.address(), QStringLiteral("--language"),
                                QStringLiteral("ENG"), QStringLiteral("--since"), QStringLiteral("2000-01-01 00:00"),
                                QStringLiteral("--all"), QStringLiteral("--dir"), output };
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), work.filePath(QStringLiteral("config")));
        for (const char *name : { "QLX_TLS_CA", "QLX_TLS_CERT", "QLX_TLS_KEY" })
            environment.remove(QLatin1String(name));
        if (source == QLatin1String("option")) {
            arguments << QStringLiteral("--tls-ca") << ca << QStringLiteral("--tls-cert") << cert
                      << QStringLiteral("--tls-key") << keyFile;
        } else if (source == QLatin1String("environment")) {
            environment.insert(QStringLiteral("QLX_TLS_CA"), ca);
            environment.insert(QStringLiteral("QLX_TLS_CERT"), cert);
            environment.insert(QStringLiteral("QLX_TLS_KEY"), keyFile);
        } else {
            QVERIFY(QDir().mkpath(work.filePath(QStringLiteral("config/qlx"))));
            QFile settings(work.filePath(QStringLiteral("config/qlx/qlxhost.conf")));
            QVERIFY(settings.open(QIODevice::WriteOnly));
            settings.write(QStringLiteral("tls-ca=%1\ntls-cert=%2\ntls-key=%3\n").arg(ca, cert, keyFile).toUtf8());
        }
        QProcess generator;
        generator.setProcessEnvironment(environment);
        generator.start(QStringLiteral(QLX_GEN_PATH), arguments);
        QVERIFY(generator.waitForFinished(60000));
        const QString err = QString::fromUtf8(generator.readAllStandardError());
        QCOMPARE(generator.exitCode(), exitCode);
        QVERIFY2(err.contains(message), qPrintable(err));
        QCOMPARE(QDir(output).entryList(QDir::Files).size(), exitCode == 0 ? 1 : 0);
    }

private:
    Pki m_pki;
};

QTEST_GUILESS_MAIN(TstTls)
#include "tst_tls.moc"
