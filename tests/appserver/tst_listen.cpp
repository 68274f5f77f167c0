// The server's --listen: every malformed address is refused naming it, before
// anything is opened; a name or an IPv6 address is listened on, or the failure
// says why; [::] serves IPv4 clients too, by their IPv4 address.
#include "tests/support/rawclient.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kWaitMs = 30'000;

struct Run
{
    int status = -1;        // -1: still running (after it said where it listens, or silent)
    QByteArray listening;   // the "listening on" line
    QByteArray said;        // standard error
};

Run runServer(const QString &database, const QString &listen)
{
    QProcess server;
    server.start(QStringLiteral(QLX_SERVER_PATH),
                 { QStringLiteral("--db"), database, QStringLiteral("--listen"), listen });
    Run run;
    if (!server.waitForStarted(kWaitMs))
        return run;
    const QDeadlineTimer deadline(kWaitMs);
    while (!run.listening.contains('\n') && server.state() == QProcess::Running && !deadline.hasExpired()) {
        server.waitForReadyRead(100);
        run.listening += server.readAllStandardOutput();
    }
    if (server.state() == QProcess::Running) {
        server.kill(); // listening, or silent for too long: status -1, with or without the line
        server.waitForFinished(kWaitMs);
    } else {
        server.waitForFinished(kWaitMs);
        run.listening += server.readAllStandardOutput();
        run.status = server.exitCode();
    }
    run.listening = run.listening.trimmed();
    run.said = server.readAllStandardError();
    return run;
}

} // namespace

class TestListen : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString database() const { return m_dir.filePath(QStringLiteral("listen.db")); }

private slots:
    void initTestCase()
    {
        QCOMPARE(QProcess::execute(QStringLiteral(QLX_SERVER_PATH), { QStringLiteral("--init-demo"), database() }), 0);
    }

    void malformedAddressesAreRefusedNamingThem_data()
    {
        QTest::addColumn<QString>("listen");
        QTest::addColumn<QString>("reason");
        QTest::newRow("port over 65535") << QStringLiteral("127.0.0.1:99999") << QStringLiteral("0 to 65535");
        QTest::newRow("port 65536") << QStringLiteral("127.0.0.1:65536") << QStringLiteral("0 to 65535");
        QTest::newRow("port in letters") << QStringLiteral("127.0.0.1:abc") << QStringLiteral("0 to 65535");
        QTest::newRow("negative port") << QStringLiteral("127.0.0.1:-5") << QStringLiteral("0 to 65535");
        QTest::newRow("signed port") << QStringLiteral("127.0.0.1:+80") << QStringLiteral("0 to 65535");
        QTest::newRow("empty port") << QStringLiteral("127.0.0.1:") << QStringLiteral("0 to 65535");
        QTest::newRow("port with a blank inside") << QStringLiteral("127.0.0.1:21 02") << QStringLiteral("0 to 65535");
        QTest::newRow("no host") << QStringLiteral(":21102") << QStringLiteral("name the host");
        QTest::newRow("IPv6 without brackets") << QStringLiteral("::1:21102") << QStringLiteral("in brackets");
        QTest::newRow("unclosed bracket") << QStringLiteral("[::1:21102") << QStringLiteral("is missing");
        QTest::newRow("text after the bracket") << QStringLiteral("[::1]21102") << QStringLiteral("may follow");
        QTest::newRow("IPv4 in brackets") << QStringLiteral("[127.0.0.1]:21102") << QStringLiteral("IPv6");
        QTest::newRow("IPv6 port over 65535") << QStringLiteral("[::1]:70000") << QStringLiteral("0 to 65535");
    }
    void malformedAddressesAreRefusedNamingThem()
    {
        QFETCH(QString, listen);
        QFETCH(QString, reason);
        const Run run = runServer(database(), listen);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.listening.isEmpty(), run.listening.constData());
        QVERIFY2(run.said.contains(QStringLiteral("--listen \"%1\"").arg(listen).toUtf8()), run.said.constData());
        QVERIFY2(run.said.contains(reason.toUtf8()), run.said.constData());
    }

    void namesAndIPv6AreListenedOn_data()
    {
        QTest::addColumn<QString>("listen");
        QTest::addColumn<QString>("listening");
        QTest::newRow("IPv4 address") << QStringLiteral("127.0.0.1:0") << QStringLiteral("127.0.0.1:");
        QTest::newRow("host name") << QStringLiteral("localhost:0") << QString();
        QTest::newRow("IPv6 address") << QStringLiteral("[::1]:0") << QStringLiteral("[::1]:");
        QTest::newRow("IPv6 address, default port taken or free") << QStringLiteral("[::1]") << QStringLiteral("[::1]:21102");
    }
    void namesAndIPv6AreListenedOn()
    {
        QFETCH(QString, listen);
        QFETCH(QString, listening);
        const Run run = runServer(database(), listen);
        if (run.status == -1) {
            QVERIFY2(run.listening.startsWith("listening on " + listening.toUtf8()), run.listening.constData());
            return;
        }
        // Where the address cannot be had (no IPv6 here, the port taken), the reason is given.
        QCOMPARE(run.status, 1);
        const QByteArray prefix = QStringLiteral("cannot listen on %1: ").arg(listen).toUtf8();
        QVERIFY2(run.said.startsWith(prefix) && run.said.trimmed().size() > prefix.trimmed().size(), run.said.constData());
    }

    void dualStackServesIPv4Clients()
    {
        QProcess server;
        const QString log = m_dir.filePath(QStringLiteral("dual-stack.log"));
        server.setStandardErrorFile(log);
        server.start(QStringLiteral(QLX_SERVER_PATH), { QStringLiteral("--db"), database(), QStringLiteral("--listen"),
                                                        QStringLiteral("[::]:0"), QStringLiteral("--allow-plaintext") });
        QByteArray listening;
        while (!listening.contains('\n') && server.waitForReadyRead(kWaitMs))
            listening += server.readAllStandardOutput();
        if (!listening.startsWith("listening on [::]:")) {
            server.kill();
            server.waitForFinished(kWaitMs);
            QSKIP(qPrintable(QStringLiteral("no IPv6 here: %1").arg(QString::fromUtf8(listening))));
        }
        const int port = listening.trimmed().split(':').last().toInt();
        RawClient client(port);
        const protocol::Response languages = client.call(QStringLiteral("GetIdioma"), {});
        QVERIFY(!languages.isException);
        QCOMPARE(packetStrings(languages).size(), 9); // three languages, three texts each
        client.socket.disconnectFromHost();
        const QDeadlineTimer deadline(kWaitMs);
        QByteArray said;
        while (!said.contains(" end=") && !deadline.hasExpired()) {
            QTest::qWait(20);
            QFile file(log);
            said = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }
        server.kill();
        server.waitForFinished(kWaitMs);
        QVERIFY2(said.contains("audit peer=127.0.0.1:") && !said.contains("ffff"), said.constData());
    }

    void anUnknownNameIsReported()
    {
        const Run run = runServer(database(), QStringLiteral("no-such-host.invalid:0"));
        QCOMPARE(run.status, 1);
        QVERIFY2(run.said.contains("no-such-host.invalid") && run.said.contains("does not resolve"), run.said.constData());
    }
};

QTEST_GUILESS_MAIN(TestListen)
#include "tst_listen.moc"
