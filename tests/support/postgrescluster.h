#pragma once

// A throw-away PostgreSQL cluster for tests: Debian's initdb and pg_ctl in a
// temporary directory, listening on a free loopback port; or a streaming standby
// of another such cluster. PostgreSQL refuses to
// run as root, so as root the cluster runs as the user "nobody".
#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <pwd.h>
#include <unistd.h>

class PostgresCluster
{
public:
    // How long initdb, pg_ctl and psql may take before the test gives up on them.
    static constexpr int kToolLimitMs = 120'000;
    static constexpr int kStartAttempts = 3; // a free port may be taken before the cluster binds it

    // The newest installed PostgreSQL's programs, or empty when there are none.
    static QString binDirectory()
    {
        const auto complete = [](const QString &bin) {
            return QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl"));
        };
        const QString given = qEnvironmentVariable("QLX_PG_BINDIR"); // another installation's programs
        if (!given.isEmpty())
            return complete(given) ? given : QString();
        QDir versions(QStringLiteral("/usr/lib/postgresql"));
        QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(found.begin(), found.end(), [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
        for (const QString &version : found) {
            const QString bin = versions.filePath(version + QStringLiteral("/bin"));
            if (complete(bin))
                return bin;
        }
        return {};
    }

    // Starts the cluster; on failure says why in `failure`.
    bool start(QString &failure)
    {
        if (!prepare(failure))
            return false;
        QFile passwordFile(m_dir.filePath(QStringLiteral("password")));
        passwordFile.open(QIODevice::WriteOnly);
        passwordFile.write(kPassword);
        passwordFile.close();
        giveToRunner(passwordFile.fileName());
        if (!runTool(QStringLiteral("initdb"),
                     { QStringLiteral("-D"), dataDirectory(), QStringLiteral("-U"), QLatin1String(kUser),
                       QStringLiteral("--pwfile=") + passwordFile.fileName(), QStringLiteral("--auth-host=scram-sha-256"),
                       QStringLiteral("--auth-local=trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                       QStringLiteral("--no-locale") },
                     failure))
            return false;
        if (startOnFreePort(failure))
            qputenv("PGPASSWORD", kPassword); // libpq's, for the servers started and for the test's own connections
        return m_running;
    }

    // Starts a hot standby of the running `primary` as an operator makes one: a base
    // backup by pg_basebackup -R (which writes primary_conninfo and standby.signal)
    // as the replication role `replicationUser` (its checkpoint at once, not spread), started on a
    // port of its own.
    bool startStandby(const PostgresCluster &primary, const QString &replicationUser, QString &failure)
    {
        return prepare(failure)
            && runTool(QStringLiteral("pg_basebackup"),
                       { QStringLiteral("-R"), QStringLiteral("-D"), dataDirectory(), QStringLiteral("-h"),
                         QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(primary.port()),
                         QStringLiteral("-U"), replicationUser, QStringLiteral("--checkpoint=fast") },
                       failure)
            && startOnFreePort(failure);
    }

    ~PostgresCluster()
    {
        if (m_running) {
            QString ignored;
            runTool(QStringLiteral("pg_ctl"), { QStringLiteral("-D"), dataDirectory(), QStringLiteral("-m"),
                                                QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop") },
                    ignored);
        }
    }

    // Stops the cluster as an administrator's restart does (fast: sessions are ended).
    bool stop(QString &failure)
    {
        m_running = !runTool(QStringLiteral("pg_ctl"), { QStringLiteral("-D"), dataDirectory(), QStringLiteral("-m"),
                                                         QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop") },
                             failure);
        return !m_running;
    }
    // Starts a stopped cluster again on its port.
    bool restart(QString &failure)
    {
        m_running = startOnPort(failure);
        return m_running;
    }

    int port() const { return m_port; }
    QString uri(const QString &database, const QString &user = QLatin1String(kUser)) const
    {
        return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(user).arg(m_port).arg(database);
    }
    // The password of every role a test creates, so that PGPASSWORD serves them all.
    static QString password() { return QLatin1String(kPassword); }
    QString psql() const { return m_bin + QStringLiteral("/psql"); }

    // Creates an empty database.
    bool createDatabase(const QString &name)
    {
        bool created = false;
        {
            QSqlDatabase db = open(QStringLiteral("postgres"), QStringLiteral("admin"));
            created = QSqlQuery(db).exec(QStringLiteral("CREATE DATABASE %1").arg(name));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("admin"));
        return created;
    }

    // A QtSql connection to one of the cluster's databases.
    QSqlDatabase open(const QString &database, const QString &connectionName) const
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(m_port);
        db.setUserName(QLatin1String(kUser));
        db.setDatabaseName(database);
        if (!db.open())
            qWarning("cannot open %s: %s", qPrintable(database), qPrintable(db.lastError().text()));
        return db;
    }

private:
    static constexpr char kUser[] = "qlx";
    static constexpr char kPassword[] = "qlx-test-secret";

    QString dataDirectory() const { return m_dir.filePath(QStringLiteral("data")); }

    static bool runningAsRoot() { return geteuid() == 0; }

    // Finds the programs and hands the cluster's folder to the user it runs as.
    bool prepare(QString &failure)
    {
        m_bin = binDirectory();
        if (m_bin.isEmpty()) {
            failure = QStringLiteral("PostgreSQL is not installed (no initdb and pg_ctl in /usr/lib/postgresql/*/bin "
                                     "or QLX_PG_BINDIR): install the postgresql package to run this test");
            return false;
        }
        if (!m_dir.isValid() || !giveToRunner(m_dir.path())) {
            failure = QStringLiteral("cannot prepare %1").arg(m_dir.path());
            return false;
        }
        return true;
    }

    bool startOnFreePort(QString &failure)
    {
        for (int attempt = 0; attempt < kStartAttempts && !m_running; ++attempt) {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            m_port = probe.serverPort();
            probe.close();
            m_running = startOnPort(failure);
        }
        return m_running;
    }

    // As root, hands a path to the user the cluster runs as.
    static bool giveToRunner(const QString &path)
    {
        if (!runningAsRoot())
            return true;
        const passwd *nobody = getpwnam("nobody");
        return nobody && chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) == 0;
    }

    bool startOnPort(QString &failure) const
    {
        return runTool(QStringLiteral("pg_ctl"),
                       { QStringLiteral("-D"), dataDirectory(), QStringLiteral("-l"), m_dir.filePath(QStringLiteral("log")),
                         QStringLiteral("-w"), QStringLiteral("-t"), QString::number(kToolLimitMs / 1000 - 10),
                         QStringLiteral("-o"),
                         QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1").arg(m_port).arg(m_dir.path()),
                         QStringLiteral("start") },
                       failure);
    }

    bool runTool(const QString &tool, const QStringList &arguments, QString &failure) const
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setWorkingDirectory(m_dir.path());
        const QString program = m_bin + QLatin1Char('/') + tool;
        if (runningAsRoot())
            process.start(QStringLiteral("runuser"), QStringList { QStringLiteral("-u"), QStringLiteral("nobody"),
                                                                   QStringLiteral("--"), program } + arguments);
        else
            process.start(program, arguments);
        if (!process.waitForFinished(kToolLimitMs) || process.exitStatus() != QProcess::NormalExit
            || process.exitCode() != 0) {
            failure = QStringLiteral("%1 failed: %2 %3").arg(tool, process.errorString(),
                                                                QString::fromLocal8Bit(process.readAll()));
            process.kill();
            process.waitForFinished();
            return false;
        }
        return true;
    }

    QTemporaryDir m_dir;
    QString m_bin;
    int m_port = 0;
    bool m_running = false;
};
