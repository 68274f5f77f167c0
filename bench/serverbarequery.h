#pragma once

#include "appserver/database/translationdb.h"
#include "appserver/rows/scriptrowsource.h"
#include "bench/threadcpu.h"

#include <QElapsedTimer>
#include <stdexcept>

// The rows of GetPropriedCds read in this process as the server reads them: its
// own connection, query and client-library calls (sqlite3 text and double,
// libpq text in single-row mode), every column touched, nothing composed or kept.
struct BareQuery
{
    double seconds = 0;
    double cpu = 0; // this thread's: the reading, and for SQLite the database's own work
    qint64 rows = 0;
    QString error;
};

inline BareQuery readRowsAsTheServer(const QString &address, const ScriptRowsRequest &request)
{
    BareQuery result;
    try {
        TranslationDb database(address, QStringLiteral("bare-query"));
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = threadCpuSeconds();
        const std::unique_ptr<ScriptRows> rows = openScriptRows(database.database(), database.backend(), request);
        Translation row;
        size_t touched = 0;
        double moments = 0;
        const auto touch = [&touched](std::string_view text) {
            touched += text.size() + (text.empty() ? 0 : size_t(uchar(text.front())) + size_t(uchar(text.back())));
        };
        while (rows->next(row)) {
            ++result.rows;
            touch(row.table);
            touch(row.key);
            touch(row.column);
            touch(row.language);
            touch(row.text);
            moments += row.changedAt;
        }
        result.seconds = double(clock.nsecsElapsed()) / 1e9;
        result.cpu = threadCpuSeconds() - cpuBefore;
        result.error = rows->error();
        [[maybe_unused]] static volatile double sink; // the figures go nowhere, but must be computed
        sink = double(touched) + moments;
    } catch (const std::exception &failure) {
        result.error = QString::fromUtf8(failure.what());
    }
    return result;
}
