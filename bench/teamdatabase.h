#pragma once

// The database of bench_team: a throw-away PostgreSQL cluster on loopback holding the
// demo data and one more language whose script has kLanguageLines lines, with room
// for a connection per session of every server.
#include "bench/proccpu.h"
#include "tests/support/postgrescluster.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

class TeamDatabase
{
public:
    static constexpr char kLanguage[] = "ALE";
    static constexpr int kLanguageLines = 100'000;
    static constexpr int kInitMs = 60'000; // for --init-demo

    static bool installed() { return !PostgresCluster::binDirectory().isEmpty(); }

    // Starts the cluster and fills the database; on failure says why in `failure`.
    bool start(const QString &serverProgram, int connections, QString &failure)
    {
        if (!m_cluster.start(failure))
            return false;
        if (!execute(QStringLiteral("postgres"),
                     { QStringLiteral("ALTER SYSTEM SET max_connections = %1").arg(connections) }, failure)
            || !m_cluster.stop(failure) || !m_cluster.restart(failure))
            return false;
        if (!m_cluster.createDatabase(QLatin1String(kName))) {
            failure = QStringLiteral("cannot create the database %1").arg(QLatin1String(kName));
            return false;
        }
        QProcess demo;
        demo.setProcessChannelMode(QProcess::MergedChannels);
        demo.start(serverProgram, { QStringLiteral("--init-demo"), uri() });
        if (!demo.waitForFinished(kInitMs) || demo.exitStatus() != QProcess::NormalExit || demo.exitCode() != 0) {
            failure = QStringLiteral("--init-demo failed: %1").arg(QString::fromLocal8Bit(demo.readAll()));
            demo.kill();
            demo.waitForFinished(kInitMs);
            return false;
        }
        const QString language = QLatin1String(kLanguage);
        return execute(QLatin1String(kName),
                       { QStringLiteral("INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA, IDIPROP, DTGERIDITRAD, NRORDEM) "
                                        "VALUES ('%1', 'Alemão', 'POR', TIMESTAMP '2025-12-01', 4)").arg(language),
                         QStringLiteral("INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) "
                                        "SELECT 'PRODUTO', 'B' || lpad(i::text, 9, '0'), 'DSPRODUTO', '%1', "
                                        "'Beschreibung des Artikels ' || i || ': Größe, Preis in € und ''Farbe''', "
                                        "TIMESTAMP '2025-06-01' + i * INTERVAL '1 second' "
                                        "FROM generate_series(1, %2) i").arg(language).arg(kLanguageLines),
                         QStringLiteral("ANALYZE") },
                       failure);
    }

    QString uri() const { return m_cluster.uri(QLatin1String(kName)); }
    int port() const { return m_cluster.port(); }
    // PostgreSQL's first process, whose children are its sessions and workers; 0 when unknown.
    qint64 pid()
    {
        qint64 parent = 0;
        {
            QSqlDatabase db = m_cluster.open(QLatin1String(kName), QStringLiteral("team-pid"));
            QSqlQuery query(db);
            // Read while the session lives: its process ends with the connection.
            if (query.exec(QStringLiteral("SELECT pg_backend_pid()")) && query.next())
                parent = procParent(query.value(0).toLongLong());
        }
        QSqlDatabase::removeDatabase(QStringLiteral("team-pid"));
        return parent;
    }

private:
    static constexpr char kName[] = "qlx02600";

    bool execute(const QString &database, const QStringList &statements, QString &failure)
    {
        const QString connection = QStringLiteral("team-") + database;
        bool done = true;
        {
            QSqlDatabase db = m_cluster.open(database, connection);
            QSqlQuery query(db);
            for (const QString &statement : statements) {
                if (done && !query.exec(statement)) {
                    failure = QStringLiteral("%1: %2").arg(statement, query.lastError().text());
                    done = false;
                }
            }
        }
        QSqlDatabase::removeDatabase(connection);
        return done;
    }

    PostgresCluster m_cluster;
};
