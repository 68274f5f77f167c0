#pragma once

// The real qlx02600-server on a free loopback port, with a throw-away database
// that a test seeds through QtSql.
#include "tests/support/endswiththetest.h"

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

class ServerProcess
{
public:
    // Creates the database (schema, then `seed` if given) and starts the server on it,
    // with `arguments` added to its command line and `inChild` run in the child before
    // the server starts (to set its limits).
    explicit ServerProcess(const std::function<void(QSqlDatabase &)> &seed = {}, bool demo = false,
                           const QStringList &arguments = {}, const std::function<void()> &inChild = {})
    {
        m_database = m_dir.filePath(QStringLiteral("server.db"));
        if (demo) {
            QProcess::execute(QStringLiteral(QLX_SERVER_PATH), { QStringLiteral("--init-demo"), m_database });
        } else {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
            db.setDatabaseName(m_database);
            db.open();
            QFile schema(QStringLiteral(QLX_SCHEMA_PATH));
            schema.open(QIODevice::ReadOnly);
            for (const QString &statement : QString::fromUtf8(schema.readAll()).split(QStringLiteral(";\n"))) {
                if (!statement.trimmed().isEmpty())
                    QSqlQuery(db).exec(statement);
            }
            if (seed)
                seed(db);
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("seed"));
        }
        m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("server.log")));
        EndsWithTheTest(m_process, inChild);
        m_process.start(QStringLiteral(QLX_SERVER_PATH),
                        QStringList { QStringLiteral("--db"), m_database, QStringLiteral("--listen"),
                                      QStringLiteral("127.0.0.1:0") } + arguments);
        m_process.waitForStarted();
        const bool metrics = arguments.contains(QStringLiteral("--metrics")); // its line follows "listening on"
        while ((m_port == 0 || (metrics && m_metricsPort == 0)) && m_process.waitForReadyRead(60000)) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine();
                if (line.startsWith("listening on "))
                    m_port = line.trimmed().split(':').last().toInt();
                else if (line.startsWith("metrics on "))
                    m_metricsPort = line.trimmed().split(':').last().toInt();
            }
        }
    }
    ~ServerProcess()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    int port() const { return m_port; }
    int metricsPort() const { return m_metricsPort; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString databaseFile() const { return m_database; }
    qint64 pid() const { return m_process.processId(); }
    bool running() { return !m_process.waitForFinished(0) && m_process.state() == QProcess::Running; }
    // The exit status once the server has ended by itself within `ms`; -1 otherwise.
    int exitCode(int ms)
    {
        const bool ended = (m_process.state() == QProcess::NotRunning || m_process.waitForFinished(ms))
            && m_process.exitStatus() == QProcess::NormalExit;
        return ended ? m_process.exitCode() : -1;
    }

    // What the server wrote to its standard error.
    QByteArray log() const
    {
        QFile file(m_dir.filePath(QStringLiteral("server.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Waits, at most `ms`, for the server's log to hold `text`.
    bool waitForLog(const QByteArray &text, int ms = 20000) const
    {
        const QDeadlineTimer deadline(ms);
        while (!log().contains(text)) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(20);
        }
        return true;
    }

private:
    QTemporaryDir m_dir;
    QString m_database;
    QProcess m_process;
    int m_port = 0;
    int m_metricsPort = 0;
};

// Runs an SQL statement on the seed connection, failing the test on an error.
inline void exec(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        QTest::qFail(qPrintable(query.lastError().text()), __FILE__, __LINE__);
}

// A database whose script is `rows` lines of the table UNIDADE in the language ENG,
// changed on 9 December 2025: an answer of many parts.
inline std::function<void(QSqlDatabase &)> seedManyLines(int rows)
{
    return [rows](QSqlDatabase &db) {
        exec(db, QStringLiteral("INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA) VALUES ('ENG', 'Inglês')"));
        exec(db, QStringLiteral("INSERT INTO PROGTRAD (CDPROGTRAD) VALUES ('UNIDADE')"));
        exec(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                "INSERT INTO TRADUCAO SELECT 'UNIDADE', 'K' || i, 'DS', 'ENG', 'Unidade ' || i, 46000 FROM n")
                     .arg(rows));
    };
}

// How many calls of `method` the server's audit log holds.
inline qsizetype auditedCalls(const ServerProcess &server, const char *method)
{
    return server.log().count(QByteArray("call=\"") + method + '"');
}
