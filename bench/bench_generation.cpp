// A whole generation at scale: the real qlx02600-server streams GetPropriedCds
// from its database to qlx02600-gen, and to the screen's own client path (for the
// moment its first part arrives), with no display. Printed beside anchors run in
// the same process on the same data: the bare query to /dev/null through the
// database's own shell, cp + sync of the script (their sum is the physical limit),
// and the stock-tools job composing the identical file (shell | iconv | CR LF |
// sync). Also prints the generator's and the server's peak memory, and checks that
// the files are byte-identical.
//
//   bench_generation [--rows N]... [--repeat R] [--work DIR] [--postgres URI] [--tls]
//
// Without --rows it runs 1 000 000 rows (add --rows 5000000 for the large case).
// With --tls it runs instead the screen's client path over plaintext and over TLS
// with client certificates, alternately, and prints TLS's ratio to plaintext.
// SQLite databases are kept in the work directory (default build/bench-work) and
// reused by later runs. With --postgres it also runs on that PostgreSQL database
// (its tables are replaced by the same rows), against a psql | iconv | sed job.
#include "bench/procstatus.h"

#include "client/remotemethods.h"
#include "client/scriptfile.h"
#include "protocol/contract.h"
#include "runtime/core/answerheap.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kTables = 20;
constexpr char kLanguage[] = "ENG";

QString tableCode(int i)
{
    return QStringLiteral("TAB%1").arg(i, 2, 10, QLatin1Char('0'));
}

// The table-list argument: every table, padded to 20 and joined.
QString tableList()
{
    QString list;
    for (int i = 1; i <= kTables; ++i)
        list += tableCode(i).leftJustified(20, QLatin1Char(' '));
    return list;
}

double mib(qint64 bytes)
{
    return double(bytes) / 1048576.0;
}

// CPU seconds of every child process waited for so far.
double childrenCpu()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds a running process has used.
double processCpu(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

void must(bool ok, const QString &what)
{
    if (!ok) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(what));
        std::exit(1);
    }
}

// Seeds a database with `rows` translations of one language over kTables tables:
// texts of 1 to 31 characters and a number, with accents, the euro sign, quotes
// and, now and then, a line break; change moments at 1/64 of a day, so that every tool writes
// them with the same digits.
void createDatabase(const QString &file, const QString &schemaFile, qint64 rows)
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

// Runs a shell command line; its wall time in seconds.
double timedShell(const QString &command)
{
    QElapsedTimer clock;
    clock.start();
    const int status = QProcess::execute(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), command });
    must(status == 0, QStringLiteral("failed (%1): %2").arg(status).arg(command.left(300)));
    return double(clock.nsecsElapsed()) / 1e9;
}

QString shellQuoted(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString quotedTableCodes()
{
    QStringList codes;
    for (int i = 1; i <= kTables; ++i)
        codes << QLatin1Char('\'') + tableCode(i) + QLatin1Char('\'');
    return codes.join(QLatin1Char(','));
}

// The server's question in each backend's SQL: the rows of every table since the beginning.
QString whereClause(bool postgres)
{
    return QStringLiteral("FROM TRADUCAO WHERE IDIDIOMA = '%1' AND DTALTERACAO >= %2 AND CDPROGTRAD IN (%3) "
                          "ORDER BY CDPROGTRAD, CDCHAVE, NMCAMPO;")
        .arg(QLatin1String(kLanguage), postgres ? QStringLiteral("TIMESTAMP '1899-12-30'") : QStringLiteral("0"),
             quotedTableCodes());
}

// The rows the server reads, as they are, without composing a line.
QString bareQuery(bool postgres)
{
    return QStringLiteral("SELECT CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO ") + whereClause(postgres);
}

// The same lines composed by the database's command-line shell.
QString stockQuery(bool postgres)
{
    const QString call = postgres ? QStringLiteral("chr") : QStringLiteral("char");
    const QString quoted = QStringLiteral("'''' || replace(replace(replace(%1, '''', ''''''), CALL(10), ''' || CALL(10) || '''), "
                                          "CALL(13), ''' || CALL(13) || ''') || ''''")
                               .replace(QLatin1String("CALL"), call);
    const QString moment = postgres ? QStringLiteral("'TIMESTAMP ''' || to_char(DTALTERACAO, 'YYYY-MM-DD HH24:MI:SS') || ''''")
                                    : QStringLiteral("DTALTERACAO");
    return QStringLiteral(
               "SELECT 'INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) VALUES (' "
               "|| %1 || ', ' || %2 || ', ' || %3 || ', ' || %4 || ', ' || %5 || ', ' || %6 "
               "|| ') ON CONFLICT (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA) DO UPDATE SET "
               "DSTRADUCAO = excluded.DSTRADUCAO, DTALTERACAO = excluded.DTALTERACAO;' ")
               .arg(quoted.arg(QStringLiteral("CDPROGTRAD")), quoted.arg(QStringLiteral("CDCHAVE")),
                    quoted.arg(QStringLiteral("NMCAMPO")), quoted.arg(QStringLiteral("IDIDIOMA")),
                    quoted.arg(QStringLiteral("DSTRADUCAO")), moment)
        + whereClause(postgres);
}

// Runs a program with its output dropped (its errors shown); whether it succeeded.
bool quietly(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Seeds the PostgreSQL database with the rows createDatabase() makes.
void createPostgresDatabase(const QString &uri, const QString &serverBinary, qint64 rows)
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

// Runs a program to its end: its wall time in seconds and its peak memory in KiB.
struct Run
{
    double wall = 0;
    qint64 peakKiB = 0;
};
Run timedProgram(const QString &program, const QStringList &arguments, int expectedStatus = 0)
{
    QList<QByteArray> bytes { program.toLocal8Bit() };
    for (const QString &argument : arguments)
        bytes << argument.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    QElapsedTimer clock;
    clock.start();
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    must(spawned == 0, QStringLiteral("cannot run ") + program);
    int status = 0;
    rusage usage {};
    must(wait4(pid, &status, 0, &usage) == pid, QStringLiteral("lost ") + program);
    must(WIFEXITED(status) && WEXITSTATUS(status) == expectedStatus, QStringLiteral("%1 failed (%2)").arg(program).arg(status));
    return { double(clock.nsecsElapsed()) / 1e9, qint64(usage.ru_maxrss) };
}

// Writes a text file, or stops the bench.
void writeFile(const QString &path, const QString &text)
{
    QFile file(path);
    must(file.open(QIODevice::WriteOnly | QIODevice::Truncate), QStringLiteral("cannot write ") + path);
    file.write(text.toUtf8());
}

// The application server on a free port; idle memory read after one small call.
class Server
{
public:
    Server(const QString &binary, const QString &database, const QStringList &arguments = {})
    {
        m_process.setStandardErrorFile(QProcess::nullDevice()); // its banner and log
        m_process.start(binary, QStringList { QStringLiteral("--db"), database, QStringLiteral("--listen"),
                                              QStringLiteral("127.0.0.1:0") } + arguments);
        must(m_process.waitForStarted(10000), QStringLiteral("server did not start"));
        while (m_port == 0 && m_process.waitForReadyRead(10000)) {
            const QByteArray line = m_process.readLine();
            if (line.startsWith("listening on "))
                m_port = line.trimmed().split(':').last().toInt();
        }
        must(m_port != 0, QStringLiteral("server did not listen"));
    }
    ~Server()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(10000);
    }
    int port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    int m_port = 0;
};

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

// Where the rows live and the anchors' commands on that backend.
struct Backend
{
    QString name;
    QString database; // the server's --db
    QString bareCommand; // the bare query to /dev/null
    QString stockCommand; // composes the script into %1, then syncs
    double stockTarget; // the end to end's target as a share of the stock job
};

struct Figures
{
    double bare = 1e300;
    double stock = 1e300;
    double stockCpu = 0;
    double generator = 1e300;
    double generatorCpu = 0;
    double copy = 1e300;
    double fetch = 0;
    double firstPart = 0;
    qint64 generatorPeakKiB = 0;
    qint64 generatorIdleKiB = 0; // the same run with no line to fetch
    qint64 clientPeakKiB = 0;
    qint64 clientIdleKiB = 0;
    qint64 serverIdleKiB = 0;
    qint64 serverPeakKiB = 0;
    qint64 records = 0;
};

void benchmark(const Backend &backend, qint64 rows, int repeat, const QString &work, const QString &self,
               const QString &binaries)
{
    timedShell(QStringLiteral("sync"));
    const QString stockFile = work + QStringLiteral("/stock.sql");
    const QString oursDir = work + QStringLiteral("/generated");
    const QString copyFile = work + QStringLiteral("/copy.sql");
    must(QDir().mkpath(oursDir), QStringLiteral("cannot create ") + oursDir);

    Figures f;
    QString oursFile;
    for (int pass = 0; pass < repeat; ++pass) {
        f.bare = std::min(f.bare, timedShell(backend.bareCommand));

        QFile::remove(stockFile);
        const double stockCpuBefore = childrenCpu();
        const double stockWall = timedShell(backend.stockCommand.arg(shellQuoted(stockFile)));
        if (stockWall < f.stock) {
            f.stock = stockWall;
            f.stockCpu = childrenCpu() - stockCpuBefore;
        }

        Server server(binaries + QStringLiteral("/qlx02600-server"), backend.database);
        {
            QProcess warm; // one small call, so that idle is a served state
            warm.start(self, { QStringLiteral("--warm"), QString::number(server.port()) });
            warm.waitForFinished(60000);
        }
        f.serverIdleKiB = procStatusKiB(server.pid(), "VmRSS");

        // The generator end to end, fetch and file.
        QDir(oursDir).removeRecursively();
        QDir().mkpath(oursDir);
        const double serverCpuBefore = processCpu(server.pid());
        const double generatorCpuBefore = childrenCpu();
        const Run generated = timedProgram(binaries + QStringLiteral("/qlx02600-gen"),
            { QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(server.port()), QStringLiteral("--language"),
              QLatin1String(kLanguage), QStringLiteral("--since"), QStringLiteral("1899-12-30 00:00"), QStringLiteral("--all"),
              QStringLiteral("--dir"), oursDir });
        const double cpu = processCpu(server.pid()) - serverCpuBefore + childrenCpu() - generatorCpuBefore;
        const QStringList written = QDir(oursDir).entryList({ QStringLiteral("TRD_*.sql") }, QDir::Files);
        must(written.size() == 1, QStringLiteral("the generator wrote no script"));
        oursFile = oursDir + QLatin1Char('/') + written.first();
        if (generated.wall < f.generator) {
            f.generator = generated.wall;
            f.generatorCpu = cpu;
        }
        f.generatorPeakKiB = std::max(f.generatorPeakKiB, generated.peakKiB);
        const Run empty = timedProgram(binaries + QStringLiteral("/qlx02600-gen"),
            { QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(server.port()), QStringLiteral("--language"),
              QLatin1String(kLanguage), QStringLiteral("--since"), QStringLiteral("2999-12-31 00:00"), QStringLiteral("--all"),
              QStringLiteral("--dir"), work }, 1); // nothing to write, so no file in the way
        f.generatorIdleKiB = f.generatorIdleKiB == 0 ? empty.peakKiB : std::min(f.generatorIdleKiB, empty.peakKiB);

        // The screen's client path, for the moment its first part arrives.
        QProcess client;
        client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        client.start(self, { QStringLiteral("--client"), QString::number(server.port()), work });
        must(client.waitForFinished(-1) && client.exitCode() == 0, QStringLiteral("client failed"));
        const QList<QByteArray> out = client.readAllStandardOutput().trimmed().split(' ');
        must(out.size() == 7 && out.at(0) == "client", QStringLiteral("client printed no figures"));
        if (out.at(3).toLongLong() - out.at(6).toLongLong() > f.clientPeakKiB - f.clientIdleKiB) {
            f.clientPeakKiB = out.at(3).toLongLong();
            f.clientIdleKiB = out.at(6).toLongLong();
        }
        if (pass == 0 || out.at(1).toDouble() < f.fetch) {
            f.fetch = out.at(1).toDouble();
            f.firstPart = out.at(5).toDouble();
        }
        f.records = out.at(4).toLongLong();
        must(f.records == rows, QStringLiteral("the client received %1 records, not %2").arg(f.records).arg(rows));
        QFile::remove(work + QStringLiteral("/ours.sql"));
        f.serverPeakKiB = std::max(f.serverPeakKiB, procStatusKiB(server.pid(), "VmHWM"));

        QFile::remove(copyFile);
        f.copy = std::min(f.copy, timedShell(QStringLiteral("cp %1 %2 && sync --data %2").arg(shellQuoted(oursFile), shellQuoted(copyFile))));
    }

    const qint64 script = QFileInfo(oursFile).size();
    const bool identical = QFileInfo(stockFile).size() == script
        && QProcess::execute(QStringLiteral("cmp"), { QStringLiteral("-s"), stockFile, oursFile }) == 0;
    const double limit = f.bare + f.copy;
    const double serverAbove = mib((f.serverPeakKiB - f.serverIdleKiB) * 1024);
    const auto verdict = [](bool met) { return met ? "met" : "NOT met"; };
    std::printf("\n== %s, %lld rows: script %.1f MiB, %.0f bytes a line ==\n", qPrintable(backend.name),
                static_cast<long long>(rows), mib(script), double(script) / double(rows));
    std::printf("bare query to /dev/null:            %7.2f s\n", f.bare);
    std::printf("cp + sync of the script:            %7.2f s\n", f.copy);
    std::printf("physical limit (query + write):     %7.2f s\n", limit);
    std::printf("stock-tools job (| iconv | sed | sync): %5.2f s  (CPU %.2f s)\n", f.stock, f.stockCpu);
    std::printf("qlx02600-gen end to end:            %7.2f s  (CPU %.2f s with the server's)\n", f.generator, f.generatorCpu);
    std::printf("  ratio to the physical limit:   %.2fx  (target <= 1.50: %s)\n", f.generator / limit,
                verdict(f.generator <= 1.5 * limit));
    std::printf("  ratio to the stock-tools job:  %.2fx  (target <= %.2f: %s)\n", f.generator / f.stock,
                backend.stockTarget, verdict(f.generator <= backend.stockTarget * f.stock));
    std::printf("  CPU ratio to the stock job:    %.2fx\n", f.generatorCpu / f.stockCpu);
    std::printf("first part at the client after %.2f s of a %.2f s fetch (%.0f%%; target <= 10%%: %s)\n", f.firstPart,
                f.fetch, 100 * f.firstPart / f.fetch, verdict(f.firstPart <= 0.1 * f.fetch));
    const double generatorAbove = mib((f.generatorPeakKiB - f.generatorIdleKiB) * 1024);
    std::printf("generator peak RSS: %.1f MiB, %.1f MiB above a run with no line  (target <= 64 MiB above: %s)\n",
                mib(f.generatorPeakKiB * 1024), generatorAbove, verdict(generatorAbove <= 64));
    const double clientAbove = mib((f.clientPeakKiB - f.clientIdleKiB) * 1024);
    std::printf("screen's client path peak RSS: %.1f MiB, %.1f MiB above idle  (target <= 64 MiB above: %s)\n",
                mib(f.clientPeakKiB * 1024), clientAbove, verdict(clientAbove <= 64));
    std::printf("server peak RSS: %.1f MiB, %.1f MiB above idle  (target <= 64 MiB above idle: %s)\n",
                mib(f.serverPeakKiB * 1024), serverAbove, verdict(serverAbove <= 64));
    std::printf("file byte-identical to the stock-tools file: %s\n", identical ? "yes" : "NO");
    std::fflush(stdout);
    QFile::remove(stockFile);
    QDir(oursDir).removeRecursively();
    QFile::remove(copyFile);
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

// The screen's client path over plaintext and over TLS with client certificates,
// alternately on the same database; the fastest run of each counts.
void tlsRatio(const QString &database, qint64 rows, int repeat, const QString &work, const QString &self,
              const QString &serverBinary)
{
    const QString pki = benchCertificates(work);
    const QStringList serverTls { QStringLiteral("--tls-cert"), pki + QStringLiteral("/server.pem"),
                                  QStringLiteral("--tls-key"), pki + QStringLiteral("/server.key"),
                                  QStringLiteral("--tls-client-ca"), pki + QStringLiteral("/ca.pem") };
    double fastest[2] = { 1e300, 1e300 }; // plaintext, TLS
    // The least CPU time each side took: steadier than the clock on a shared machine.
    double clientCpu[2] = { 1e300, 1e300 };
    double serverCpu[2] = { 1e300, 1e300 };
    qint64 serverPeakKiB[2] = { 0, 0 };
    for (int pass = 0; pass < repeat; ++pass) {
        for (const bool secure : { false, true }) {
            Server server(serverBinary, database, secure ? serverTls : QStringList());
            QProcess client;
            client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            const double serverCpuBefore = processCpu(server.pid());
            const double clientCpuBefore = childrenCpu();
            QElapsedTimer clock;
            clock.start();
            client.start(self, QStringList { QStringLiteral("--client"), QString::number(server.port()), work }
                                   + (secure ? QStringList { QStringLiteral("--client-tls"), pki } : QStringList()));
            must(client.waitForFinished(-1) && client.exitCode() == 0, QStringLiteral("client failed"));
            const QList<QByteArray> out = client.readAllStandardOutput().trimmed().split(' ');
            must(out.size() == 7 && out.at(4).toLongLong() == rows, QStringLiteral("the client received too few records"));
            fastest[secure] = std::min(fastest[secure], double(clock.nsecsElapsed()) / 1e9);
            clientCpu[secure] = std::min(clientCpu[secure], childrenCpu() - clientCpuBefore);
            serverCpu[secure] = std::min(serverCpu[secure], processCpu(server.pid()) - serverCpuBefore);
            serverPeakKiB[secure] = std::max(serverPeakKiB[secure], procStatusKiB(server.pid(), "VmHWM"));
        }
    }
    QFile::remove(work + QStringLiteral("/ours.sql"));
    const double ratio = fastest[1] / fastest[0];
    std::printf("\n== %lld rows over TLS ==\n", static_cast<long long>(rows));
    std::printf("end to end, plaintext:                   %7.2f s  (CPU client %.2f s, server %.2f s; server peak RSS %.1f MiB)\n",
                fastest[0], clientCpu[0], serverCpu[0], mib(serverPeakKiB[0] * 1024));
    std::printf("end to end, TLS with client certificate: %7.2f s  (CPU client %.2f s, server %.2f s; server peak RSS %.1f MiB)\n",
                fastest[1], clientCpu[1], serverCpu[1], mib(serverPeakKiB[1] * 1024));
    std::printf("  ratio TLS to plaintext: %.2fx  (target <= 1.15: %s)\n", ratio, ratio <= 1.15 ? "met" : "NOT met");
    std::printf("  CPU ratio TLS to plaintext: client %.2fx, server %.2fx, both %.2fx\n", clientCpu[1] / clientCpu[0],
                serverCpu[1] / serverCpu[0], (clientCpu[1] + serverCpu[1]) / (clientCpu[0] + serverCpu[0]));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption rowsOption(QStringLiteral("rows"), QStringLiteral("Rows to generate (repeatable)."), QStringLiteral("N"));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"), QStringLiteral("Runs of each job; the fastest counts."),
                                          QStringLiteral("R"), QStringLiteral("2"));
    const QCommandLineOption workOption(QStringLiteral("work"), QStringLiteral("Directory for databases and files."),
                                        QStringLiteral("DIR"), QStringLiteral(QLX_BENCH_WORK));
    const QCommandLineOption postgresOption(QStringLiteral("postgres"),
                                            QStringLiteral("Also run on this PostgreSQL database (its tables are replaced)."),
                                            QStringLiteral("URI"));
    const QCommandLineOption clientOption(QStringLiteral("client"), QStringLiteral("(internal) the client side."), QStringLiteral("PORT"));
    const QCommandLineOption warmOption(QStringLiteral("warm"), QStringLiteral("(internal) one small call."), QStringLiteral("PORT"));
    const QCommandLineOption tlsOption(QStringLiteral("tls"), QStringLiteral("TLS against plaintext, as a ratio."));
    const QCommandLineOption clientTlsOption(QStringLiteral("client-tls"),
        QStringLiteral("(internal) the client's certificates in DIR."), QStringLiteral("DIR"));
    parser.addOptions({ rowsOption, repeatOption, workOption, postgresOption, clientOption, warmOption, tlsOption,
                        clientTlsOption });
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

    const QString work = parser.value(workOption);
    must(QDir().mkpath(work), QStringLiteral("cannot create ") + work);
    QList<qint64> sizes;
    for (const QString &rows : parser.values(rowsOption))
        sizes << rows.toLongLong();
    if (sizes.isEmpty())
        sizes = { 1000000 };
    const int repeat = std::max(1, parser.value(repeatOption).toInt());
    const QString self = QCoreApplication::applicationFilePath();
    const QString binaries = QCoreApplication::applicationDirPath();
    const QString postgres = parser.value(postgresOption);
    // The anchors sync their own file's data, as the generator does (fdatasync).
    const QString toScript = QStringLiteral(" | iconv -f UTF-8 -t WINDOWS-1252 | sed 's/$/\\r/' > %1 && sync --data %1");
    std::printf("bench_generation: %d run(s) of each job, the fastest counts; work directory %s\n", repeat, qPrintable(work));
    for (qint64 rows : sizes) {
        const QString database = QStringLiteral("%1/translations-%2.db").arg(work).arg(rows);
        if (!QFile::exists(database)) {
            QElapsedTimer clock;
            clock.start();
            createDatabase(database + QStringLiteral(".part"), QStringLiteral(QLX_SCHEMA_PATH), rows);
            QFile::rename(database + QStringLiteral(".part"), database);
            std::printf("(database of %lld rows created in %.1f s)\n", static_cast<long long>(rows),
                        double(clock.elapsed()) / 1000.0);
        }
        if (parser.isSet(tlsOption)) {
            tlsRatio(database, rows, repeat, work, self, binaries + QStringLiteral("/qlx02600-server"));
            continue;
        }
        const QString bareSql = work + QStringLiteral("/bare-sqlite.sql");
        const QString stockSql = work + QStringLiteral("/stock-sqlite.sql");
        writeFile(bareSql, bareQuery(false));
        writeFile(stockSql, stockQuery(false));
        benchmark({ QStringLiteral("SQLite"), database,
                    QStringLiteral("sqlite3 -batch %1 < %2 > /dev/null").arg(shellQuoted(database), shellQuoted(bareSql)),
                    QStringLiteral("sqlite3 -batch %1 < %2").arg(shellQuoted(database), shellQuoted(stockSql)) + toScript, 0.5 },
                  rows, repeat, work, self, binaries);
        if (!postgres.isEmpty()) {
            QElapsedTimer clock;
            clock.start();
            createPostgresDatabase(postgres, binaries + QStringLiteral("/qlx02600-server"), rows);
            std::printf("(PostgreSQL database of %lld rows created in %.1f s)\n", static_cast<long long>(rows),
                        double(clock.elapsed()) / 1000.0);
            const QString psql = QStringLiteral("psql -X -q -A -t -d %1 -c %2").arg(shellQuoted(postgres));
            benchmark({ QStringLiteral("PostgreSQL"), postgres, psql.arg(shellQuoted(bareQuery(true))) + QStringLiteral(" > /dev/null"),
                        psql.arg(shellQuoted(stockQuery(true))) + toScript, 0.6 },
                      rows, repeat, work, self, binaries);
        }
    }
    return 0;
}
