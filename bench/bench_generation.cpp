// A whole generation at scale: the real qlx02600-server streams GetPropriedCds
// from a SQLite database to the screen's own client path (connection, record
// set, script file), with no display. Printed beside two anchors run in the same
// process on the same data: the stock-tools job composing the identical file
// (sqlite3 | iconv | CR LF | sync) and cp + sync of the same bytes. Also prints
// both sides' peak memory, and checks that the two files are byte-identical.
//
//   bench_generation [--rows N]... [--repeat R] [--work DIR]
//
// Without --rows it runs 1 000 000 and 3 000 000 rows. Databases are kept in the
// work directory (default build/bench-work) and reused by later runs.
#include <remotemethods.h>
#include <scriptfile.h>

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
#include <sys/resource.h>
#include <unistd.h>

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

// A figure in kB from /proc/PID/status ("VmRSS", "VmHWM").
qint64 procStatusKiB(qint64 pid, const char *key)
{
    QFile status(pid == 0 ? QStringLiteral("/proc/self/status") : QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qsizetype(qstrlen(key)) + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
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

// The same lines composed by the sqlite3 command-line shell.
QString stockQuery()
{
    const QString quoted = QStringLiteral(
        "'''' || replace(replace(replace(%1, '''', ''''''), char(10), ''' || char(10) || '''), "
        "char(13), ''' || char(13) || ''') || ''''");
    QStringList codes;
    for (int i = 1; i <= kTables; ++i)
        codes << QLatin1Char('\'') + tableCode(i) + QLatin1Char('\'');
    return QStringLiteral(
               "SELECT 'INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) VALUES (' "
               "|| %1 || ', ' || %2 || ', ' || %3 || ', ' || %4 || ', ' || %5 || ', ' || DTALTERACAO "
               "|| ') ON CONFLICT (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA) DO UPDATE SET "
               "DSTRADUCAO = excluded.DSTRADUCAO, DTALTERACAO = excluded.DTALTERACAO;' "
               "FROM TRADUCAO WHERE IDIDIOMA = '%6' AND DTALTERACAO >= 0 AND CDPROGTRAD IN (%7) "
               "ORDER BY CDPROGTRAD, CDCHAVE, NMCAMPO;")
        .arg(quoted.arg(QStringLiteral("CDPROGTRAD")), quoted.arg(QStringLiteral("CDCHAVE")),
             quoted.arg(QStringLiteral("NMCAMPO")), quoted.arg(QStringLiteral("IDIDIOMA")),
             quoted.arg(QStringLiteral("DSTRADUCAO")), QLatin1String(kLanguage), codes.join(QLatin1Char(',')));
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

// The application server on a free port; idle memory read after one small call.
class Server
{
public:
    Server(const QString &binary, const QString &database)
    {
        m_process.setStandardErrorFile(QProcess::nullDevice()); // its banner and log
        m_process.start(binary, { QStringLiteral("--db"), database, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0") });
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
// GetPropriedCds into the line record set, then the script file, exactly as the
// screen does them. Prints "client <fetch s> <write s> <peak kB> <records> <first part s>".
int runClient(int port, const QString &directory)
{
    TNetConnection connection;
    connection.ServerName = QLatin1String(kRemoteObjectName);
    connection.Host = QStringLiteral("127.0.0.1");
    connection.Port = port;
    TClientDataSet lines;
    TField *line = lines.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
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
    std::printf("client %.3f %.3f %lld %lld %.3f\n", fetch, write, static_cast<long long>(procStatusKiB(0, "VmHWM")),
                static_cast<long long>(lines.RecordCount()), firstPart);
    return 0;
}

struct Figures
{
    double stockCpu = 0;
    double oursCpu = 0;
    double stock = 1e300;
    double ours = 1e300;
    double copy = 1e300;
    double fetch = 0;
    double firstPart = 0;
    double write = 0;
    qint64 clientPeakKiB = 0;
    qint64 serverIdleKiB = 0;
    qint64 serverPeakKiB = 0;
    qint64 records = 0;
};

void benchmark(qint64 rows, int repeat, const QString &work, const QString &self, const QString &serverBinary,
               const QString &schemaFile)
{
    const QString database = QStringLiteral("%1/translations-%2.db").arg(work).arg(rows);
    if (!QFile::exists(database)) {
        QElapsedTimer clock;
        clock.start();
        createDatabase(database + QStringLiteral(".part"), schemaFile, rows);
        QFile::rename(database + QStringLiteral(".part"), database);
        std::printf("(database of %lld rows created in %.1f s)\n", static_cast<long long>(rows),
                    double(clock.elapsed()) / 1000.0);
    }
    timedShell(QStringLiteral("sync"));
    const QString stockFile = work + QStringLiteral("/stock.sql");
    const QString oursFile = work + QStringLiteral("/ours.sql");
    const QString copyFile = work + QStringLiteral("/copy.sql");
    const QString sqlFile = work + QStringLiteral("/stock-query.sql");
    {
        QFile sql(sqlFile);
        must(sql.open(QIODevice::WriteOnly), QStringLiteral("cannot write ") + sqlFile);
        sql.write(stockQuery().toUtf8());
    }

    Figures f;
    for (int pass = 0; pass < repeat; ++pass) {
        QFile::remove(stockFile);
        const double stockCpuBefore = childrenCpu();
        const double stockWall = timedShell(QStringLiteral("sqlite3 -batch %1 < %2 | iconv -f UTF-8 -t WINDOWS-1252 | sed 's/$/\\r/' > %3 && sync")
                                          .arg(shellQuoted(database), shellQuoted(sqlFile), shellQuoted(stockFile)));
        if (stockWall < f.stock) {
            f.stock = stockWall;
            f.stockCpu = childrenCpu() - stockCpuBefore;
        }

        QFile::remove(oursFile);
        Server server(serverBinary, database);
        {
            QProcess warm; // one small call, so that idle is a served state
            warm.start(self, { QStringLiteral("--warm"), QString::number(server.port()) });
            warm.waitForFinished(60000);
        }
        const qint64 idle = procStatusKiB(server.pid(), "VmRSS");
        QProcess client;
        client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const double serverCpuBefore = processCpu(server.pid());
        const double clientCpuBefore = childrenCpu();
        QElapsedTimer clock;
        clock.start();
        client.start(self, { QStringLiteral("--client"), QString::number(server.port()), work });
        must(client.waitForFinished(-1) && client.exitCode() == 0, QStringLiteral("client failed"));
        const double wall = double(clock.nsecsElapsed()) / 1e9;
        const qint64 peak = procStatusKiB(server.pid(), "VmHWM");
        const double cpu = processCpu(server.pid()) - serverCpuBefore + childrenCpu() - clientCpuBefore;
        const QList<QByteArray> out = client.readAllStandardOutput().trimmed().split(' ');
        must(out.size() == 6 && out.at(0) == "client", QStringLiteral("client printed no figures"));
        if (wall < f.ours) {
            f.ours = wall;
            f.fetch = out.at(1).toDouble();
            f.write = out.at(2).toDouble();
            f.oursCpu = cpu;
            f.firstPart = out.at(5).toDouble();
        }
        f.clientPeakKiB = std::max(f.clientPeakKiB, out.at(3).toLongLong());
        f.records = out.at(4).toLongLong();
        must(f.records == rows, QStringLiteral("the client received %1 records, not %2").arg(f.records).arg(rows));
        f.serverIdleKiB = idle;
        f.serverPeakKiB = std::max(f.serverPeakKiB, peak);

        QFile::remove(copyFile);
        f.copy = std::min(f.copy, timedShell(QStringLiteral("cp %1 %2 && sync").arg(shellQuoted(oursFile), shellQuoted(copyFile))));
    }

    const qint64 script = QFileInfo(oursFile).size();
    const bool identical = QFileInfo(stockFile).size() == script
        && QProcess::execute(QStringLiteral("cmp"), { QStringLiteral("-s"), stockFile, oursFile }) == 0;
    const double clientPeak = mib(f.clientPeakKiB * 1024);
    const double serverAbove = mib((f.serverPeakKiB - f.serverIdleKiB) * 1024);
    const double clientBudget = 1.3 * mib(script) + 64;
    std::printf("\n== %lld rows: script %.1f MiB, %.0f bytes a line, %lld records fetched ==\n",
                static_cast<long long>(rows), mib(script), double(script) / double(rows),
                static_cast<long long>(f.records));
    std::printf("stock-tools job (sqlite3 | iconv | CR LF | sync): %7.2f s  (CPU %.2f s)\n", f.stock, f.stockCpu);
    std::printf("cp + sync of the same bytes:                      %7.2f s\n", f.copy);
    std::printf("end to end, server to file in place:              %7.2f s  (CPU %.2f s; fetch %.2f s, file %.2f s)\n",
                f.ours, f.oursCpu, f.fetch, f.write);
    std::printf("  first lines at the client after %.2f s (%.0f%% of the fetch)\n", f.firstPart, 100 * f.firstPart / f.fetch);
    std::printf("  ratio to the stock-tools job: %.2fx  (target <= 1.00: %s)\n", f.ours / f.stock,
                f.ours <= f.stock ? "met" : "NOT met");
    std::printf("  ratio to cp + sync:           %.2fx\n", f.ours / f.copy);
    std::printf("  CPU ratio to the stock-tools job: %.2fx\n", f.oursCpu / f.stockCpu);
    std::printf("client peak RSS: %.1f MiB = %.2fx the script  (target <= 1.3x + 64 MiB = %.1f MiB: %s)\n", clientPeak,
                clientPeak / mib(script), clientBudget, clientPeak <= clientBudget ? "met" : "NOT met");
    std::printf("server peak RSS: %.1f MiB, %.1f MiB above idle  (target <= 64 MiB above idle: %s)\n",
                mib(f.serverPeakKiB * 1024), serverAbove, serverAbove <= 64 ? "met" : "NOT met");
    std::printf("file byte-identical to the stock-tools file: %s\n", identical ? "yes" : "NO");
    std::fflush(stdout);
    QFile::remove(stockFile);
    QFile::remove(oursFile);
    QFile::remove(copyFile);
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
    const QCommandLineOption clientOption(QStringLiteral("client"), QStringLiteral("(internal) the client side."), QStringLiteral("PORT"));
    const QCommandLineOption warmOption(QStringLiteral("warm"), QStringLiteral("(internal) one small call."), QStringLiteral("PORT"));
    parser.addOptions({ rowsOption, repeatOption, workOption, clientOption, warmOption });
    parser.addHelpOption();
    parser.process(app);

    if (parser.isSet(clientOption))
        return runClient(parser.value(clientOption).toInt(), parser.positionalArguments().value(0));
    if (parser.isSet(warmOption)) {
        TNetConnection connection;
        connection.ServerName = QLatin1String(kRemoteObjectName);
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
        sizes = { 1000000, 3000000 };
    const QString self = QCoreApplication::applicationFilePath();
    const QString serverBinary = QCoreApplication::applicationDirPath() + QStringLiteral("/qlx02600-server");
    std::printf("bench_generation: %d run(s) of each job, the fastest counts; work directory %s\n",
                parser.value(repeatOption).toInt(), qPrintable(work));
    for (qint64 rows : sizes)
        benchmark(rows, std::max(1, parser.value(repeatOption).toInt()), work, self, serverBinary,
                  QStringLiteral(QLX_SCHEMA_PATH));
    return 0;
}
