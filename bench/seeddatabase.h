#pragma once

#include "bench/must.h"

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

// Tables the seeded translations are spread over, and their language.
constexpr int kTables = 20;
constexpr char kLanguage[] = "ENG";
// SQLite's page cache while seeding, in KiB: the moment index takes its rows out of
// order, and a cache that holds it spares re-reading its pages (at 3M rows, system
// time 5.2 s to 0.6 s).
constexpr int kSeedCacheKiB = 512 * 1024;

inline QString tableCode(int i)
{
    return QStringLiteral("TAB%1").arg(i, 2, 10, QLatin1Char('0'));
}

// Seeds a database with `rows` translations of one language over kTables tables:
// texts of 1 to 31 characters and a number, with accents, the euro sign, quotes
// and, now and then, a line break; change moments at 1/64 of a day, so that every tool writes
// them with the same digits.
inline void createDatabase(const QString &file, const QString &schemaFile, qint64 rows)
{
    QFile::remove(file);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
        db.setDatabaseName(file);
        must(db.open(), db.lastError().text());
        QFile schema(schemaFile);
        must(schema.open(QIODevice::ReadOnly), QStringLiteral("cannot read ") + schemaFile);
        const auto run = [&db](const QString &sql) {
            QSqlQuery query(db);
            must(query.exec(sql), query.lastError().text() + QStringLiteral(" in ") + sql.left(200));
        };
        QString script;
        for (const QString &line : QString::fromUtf8(schema.readAll()).split(QLatin1Char('\n'))) {
            if (!line.trimmed().startsWith(QLatin1String("--")))
                script += line + QLatin1Char('\n');
        }
        for (const QString &statement : script.split(QStringLiteral(";\n"))) {
            if (!statement.trimmed().isEmpty())
                run(statement);
        }
        run(QStringLiteral("PRAGMA journal_mode = OFF"));
        run(QStringLiteral("PRAGMA synchronous = OFF"));
        run(QStringLiteral("PRAGMA cache_size = -%1").arg(kSeedCacheKiB));
        run(QStringLiteral("INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA) VALUES ('%1', 'Inglês')").arg(QLatin1String(kLanguage)));
        for (int i = 1; i <= kTables; ++i)
            run(QStringLiteral("INSERT INTO PROGTRAD (CDPROGTRAD) VALUES ('%1')").arg(tableCode(i)));
        run(QStringLiteral(
                "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                "INSERT INTO TRADUCAO SELECT 'TAB' || substr('0' || (i % %2 + 1), -2), 'CHAVE' || substr('00000000' || i, -9), "
                "CASE i % 3 WHEN 0 THEN 'DSPRODUTO' WHEN 1 THEN 'DSDETALHADA' ELSE 'OBSERVACAO' END, '%3', "
                "substr('Descrição do item com preço em € e ''aspas'' para conferir a tradução completa ', 1, 1 + i % 31) "
                "|| CASE WHEN i % 97 = 0 THEN char(13, 10) || 'segunda linha' ELSE '' END || ' ' || i, "
                "45000 + (i % 40000) / 64.0 + 1 / 128.0 FROM n")
                .arg(rows - 1)
                .arg(kTables)
                .arg(QLatin1String(kLanguage)));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));
}

// Runs a program with its output dropped (its errors shown); whether it succeeded.
inline bool quietly(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Seeds the PostgreSQL database with the rows createDatabase() makes.
inline void createPostgresDatabase(const QString &uri, const QString &serverBinary, qint64 rows)
{
    must(quietly(serverBinary, { QStringLiteral("--init-demo"), uri, QStringLiteral("--force-demo") }),
         QStringLiteral("cannot create the schema in ") + uri);
    const QString seed = QStringLiteral(
        "DELETE FROM TRADUCAO; DELETE FROM PROGTRAD; DELETE FROM IDIOMA;"
        "INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA) VALUES ('LANG', 'Inglês');"
        "INSERT INTO PROGTRAD (CDPROGTRAD) SELECT 'TAB' || lpad(i::text, 2, '0') FROM generate_series(1, TABLES) i;"
        "INSERT INTO TRADUCAO SELECT 'TAB' || lpad((i % TABLES + 1)::text, 2, '0'), 'CHAVE' || lpad(i::text, 9, '0'), "
        "CASE i % 3 WHEN 0 THEN 'DSPRODUTO' WHEN 1 THEN 'DSDETALHADA' ELSE 'OBSERVACAO' END, 'LANG', "
        "substr('Descrição do item com preço em € e ''aspas'' para conferir a tradução completa ', 1, 1 + i % 31) "
        "|| CASE WHEN i % 97 = 0 THEN chr(13) || chr(10) || 'segunda linha' ELSE '' END || ' ' || i, "
        "TIMESTAMP '1899-12-30' + (45000 + (i % 40000) / 64.0 + 1 / 128.0) * INTERVAL '1 day' "
        "FROM generate_series(0, LAST) i;")
                             .replace(QLatin1String("LANG"), QLatin1String(kLanguage))
                             .replace(QLatin1String("TABLES"), QString::number(kTables))
                             .replace(QLatin1String("LAST"), QString::number(rows - 1));
    must(quietly(QStringLiteral("psql"), { QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                                           QStringLiteral("-d"), uri, QStringLiteral("-c"), seed,
                                           QStringLiteral("-c"), QStringLiteral("VACUUM ANALYZE TRADUCAO") }),
         QStringLiteral("cannot seed ") + uri);
}

