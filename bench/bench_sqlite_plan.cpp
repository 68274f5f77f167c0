// SqliteScriptRows's two plans on a seeded SQLite database, at moments leaving a
// given share of the language's rows since them, every row read through next() as
// the server's row thread reads it. Rounds interleave the plans (key order, moment
// index, the choice with its probe). Per share it prints each one's median and
// spread, the plan chosen, the probe's own time, and the plan of the rule before
// the choice (fewer than 20,000 rows since the moment: the moment index); first,
// the cost of counting the language's total, which the probe reuses for a while.
// The database is opened read-only, as it was seeded, never analysed.
//
//   bench_sqlite_plan --database FILE [--rounds N] [--shares 1,5,10,20,50,100] [--pragma TEXT]...
#include "appserver/rows/languagetotals.h"
#include "appserver/rows/sqlitescriptrows.h"

#include "bench/procstatus.h"
#include "bench/threadcpu.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <type_traits>

namespace {

using Plan = SqliteScriptRows::Plan;

// The rule before the share: fewer rows than this since the moment read through the index.
constexpr qint64 kEarlierRecentRows = 20'000;

void must(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "bench_sqlite_plan: %s\n", what);
        std::exit(1);
    }
}

// The first column of the statement's first row, with `bound` bound to ?1.
template <typename Answer, typename Bound>
Answer firstValue(sqlite3 *database, const QByteArray &sql, Bound bound)
{
    sqlite3_stmt *statement = nullptr;
    must(sqlite3_prepare_v2(database, sql.constData(), -1, &statement, nullptr) == SQLITE_OK, sqlite3_errmsg(database));
    if constexpr (std::is_floating_point_v<Bound>)
        sqlite3_bind_double(statement, 1, bound);
    else
        sqlite3_bind_int64(statement, 1, bound);
    must(sqlite3_step(statement) == SQLITE_ROW, "no answer");
    Answer answer {};
    if constexpr (std::is_floating_point_v<Answer>)
        answer = sqlite3_column_double(statement, 0);
    else
        answer = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return answer;
}

qint64 count(sqlite3 *database, const QByteArray &sql, double since = 0)
{
    return firstValue<qint64>(database, sql, since);
}

// The language's moment with `offset` moments before it.
double moment(sqlite3 *database, const QByteArray &language, qint64 offset)
{
    return firstValue<double>(database, "SELECT DTALTERACAO FROM TRADUCAO INDEXED BY TRADUCAO_ALTERACAO WHERE IDIDIOMA = '"
                                            + language + "' ORDER BY DTALTERACAO LIMIT 1 OFFSET ?1", offset);
}

struct Run
{
    qint64 rows = 0;
    double seconds = 0;
    double cpuSeconds = 0;
};

// Every row of the answer through next(); forced plan, or the choice when none.
Run readAll(sqlite3 *database, const ScriptRowsRequest &request, std::optional<Plan> plan)
{
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = threadCpuSeconds();
    auto rows = plan ? std::make_unique<SqliteScriptRows>(database, request, *plan)
                     : std::make_unique<SqliteScriptRows>(database, request);
    Run run;
    Translation row;
    while (rows->next(row))
        ++run.rows;
    must(rows->error().isEmpty(), qPrintable(rows->error()));
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.cpuSeconds = threadCpuSeconds() - cpuStart;
    return run;
}

struct Figures
{
    std::vector<double> seconds;
    std::vector<double> cpuSeconds;
    void add(const Run &run)
    {
        seconds.push_back(run.seconds);
        cpuSeconds.push_back(run.cpuSeconds);
    }
    static double median(std::vector<double> values)
    {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }
    double spread() const { return *std::max_element(seconds.begin(), seconds.end()) - *std::min_element(seconds.begin(), seconds.end()); }
    QByteArray shown() const
    {
        return QByteArray::number(median(seconds), 'f', 3) + " (" + QByteArray::number(spread(), 'f', 3) + ") cpu "
            + QByteArray::number(median(cpuSeconds), 'f', 3);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption databaseOption(QStringLiteral("database"), QStringLiteral("The seeded SQLite file."), QStringLiteral("FILE"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("Interleaved rounds per share."), QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption sharesOption(QStringLiteral("shares"), QStringLiteral("Percent of the rows since the moment."),
                                          QStringLiteral("LIST"), QStringLiteral("1,5,10,20,50,100"));
    const QCommandLineOption pragmaOption(QStringLiteral("pragma"), QStringLiteral("A pragma run on opening (repeatable)."), QStringLiteral("TEXT"));
    parser.addOptions({ databaseOption, roundsOption, sharesOption, pragmaOption });
    parser.addHelpOption();
    parser.process(app);
    must(parser.isSet(databaseOption), "--database FILE is needed");

    sqlite3 *database = nullptr;
    must(sqlite3_open_v2(parser.value(databaseOption).toUtf8().constData(), &database, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK,
         "cannot open the database");
    for (const QString &pragma : parser.values(pragmaOption))
        must(sqlite3_exec(database, ("PRAGMA " + pragma.toUtf8()).constData(), nullptr, nullptr, nullptr) == SQLITE_OK,
             sqlite3_errmsg(database));
    const QByteArray language = "ENG";
    const qint64 total = count(database, "SELECT count(*) FROM TRADUCAO WHERE IDIDIOMA = '" + language + "'");
    QStringList tables;
    {
        sqlite3_stmt *statement = nullptr;
        must(sqlite3_prepare_v2(database, "SELECT CDPROGTRAD FROM PROGTRAD ORDER BY 1", -1, &statement, nullptr) == SQLITE_OK, "tables");
        while (sqlite3_step(statement) == SQLITE_ROW)
            tables << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
    }
    const int rounds = parser.value(roundsOption).toInt();
    std::printf("%lld rows of %s, %lld tables, %d rounds, share %.2f\n", total, language.constData(), qlonglong(tables.size()),
                rounds, SqliteScriptRows::kMomentIndexShare);
    {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = threadCpuSeconds();
        must(languagetotals::of(database, language) == total, "the language's total differs");
        std::printf("the language's total, counted once per %d s: %.1f ms (cpu %.1f ms)\n", languagetotals::kLifetimeSeconds,
                    double(timer.nsecsElapsed()) / 1e6, (threadCpuSeconds() - cpuStart) * 1e3);
    }
    std::printf("seconds: median wall (spread) and median CPU of the reading thread\n");
    std::printf("share  rows_since | key order | moment index | chosen, probe ms | the choice | earlier rule: plan, its seconds\n");
    for (const QString &percent : parser.value(sharesOption).split(QLatin1Char(','))) {
        const double share = percent.toDouble() / 100;
        const qint64 since = std::clamp(qint64(double(total) * share + 0.5), qint64(1), total);
        const ScriptRowsRequest request { QString::fromUtf8(language), moment(database, language, total - since), tables };
        const qint64 expected = count(database, "SELECT count(*) FROM TRADUCAO WHERE IDIDIOMA = '" + language + "' AND DTALTERACAO >= ?1",
                                       request.since);
        Figures keyOrder, momentIndex, choice;
        std::vector<double> probe;
        Plan chosen = Plan::KeyOrder;
        for (int round = 0; round < rounds; ++round) {
            for (const std::optional<Plan> &plan : { std::optional<Plan>(Plan::KeyOrder), std::optional<Plan>(Plan::MomentIndex),
                                                     std::optional<Plan>() }) {
                const Run run = readAll(database, request, plan);
                must(run.rows == expected, "rows differ");
                (!plan ? choice : *plan == Plan::KeyOrder ? keyOrder : momentIndex).add(run);
            }
            QElapsedTimer timer;
            timer.start();
            chosen = SqliteScriptRows::choosePlan(database, request);
            probe.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        const Plan earlier = expected < kEarlierRecentRows ? Plan::MomentIndex : Plan::KeyOrder;
        auto name = [](Plan plan) { return plan == Plan::KeyOrder ? "key" : "index"; };
        std::printf("%5s%%  %10lld | %s | %s | %s %.1f | %s | %s %s\n", qPrintable(percent), expected, keyOrder.shown().constData(),
                    momentIndex.shown().constData(), name(chosen), Figures::median(probe), choice.shown().constData(), name(earlier),
                    (earlier == Plan::KeyOrder ? keyOrder : momentIndex).shown().constData());
    }
    std::printf("peak RSS %lld KiB\n", procStatusKiB(0, "VmHWM"));
    sqlite3_close(database);
    return 0;
}
