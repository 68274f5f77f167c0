#pragma once

#include "appserver/database/translationdb.h"
#include "appserver/remoteobject/scriptline.h"
#include "appserver/rows/readaheadrows.h"
#include "appserver/rows/scriptrowsource.h"
#include "bench/threadcpu.h"

#include <QElapsedTimer>
#include <stdexcept>
#include <string>
#include <vector>

// What the reading thread does with each row before the next: a row's texts last
// only until then.
enum class RowWork {
    Touch, // every column touched, nothing composed or kept: the bare query
    CopyOut, // its texts copied into batches, as the server's reading thread does on 3 cores or more
    Compose, // its line composed, as the server's composing thread does on 2 cores
};

// The rows of GetPropriedCds read in this process as the server reads them: its
// own connection, query and client-library calls (sqlite3 text and double,
// libpq text in single-row mode), each row given `work`.
struct BareQuery
{
    double seconds = 0;
    double cpu = 0; // this thread's: the reading, and for SQLite the database's own work
    qint64 rows = 0;
    QString error;
};

inline BareQuery readRowsAsTheServer(const QString &address, const ScriptRowsRequest &request,
                                     RowWork work = RowWork::Touch)
{
    BareQuery result;
    try {
        TranslationDb database(address, QStringLiteral("bare-query"));
        const ScriptDialect dialect = database.backend() == DatabaseAddress::Backend::PostgreSQL ? ScriptDialect::PostgreSQL
                                                                                                  : ScriptDialect::SQLite;
        ReadAheadRows::Batch batch;
        if (work == RowWork::CopyOut) {
            batch.bytes = std::make_unique<char[]>(ReadAheadRows::kBatchBytes);
            batch.capacity = ReadAheadRows::kBatchBytes;
            batch.rows.reserve(ReadAheadRows::kBatchRows);
        }
        std::vector<char> line;
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
        // Into batches as the reading thread fills them, each emptied when full.
        const auto copyOut = [&](const Translation &row) {
            if (!ReadAheadRows::add(batch, row)) {
                touched += batch.rows.size();
                batch.used = 0;
                batch.rows.clear();
                ReadAheadRows::add(batch, row);
            }
        };
        while (rows->next(row)) {
            ++result.rows;
            if (work == RowWork::CopyOut) {
                copyOut(row);
            } else if (work == RowWork::Compose) {
                line.resize(size_t(scriptLineRoom(row)));
                char *end = nullptr;
                if (writeScriptLine(line.data(), row, dialect, end) != LineFault::None)
                    throw std::runtime_error("a row makes no line");
                touched += size_t(end - line.data());
            } else {
                touch(row.table);
                touch(row.key);
                touch(row.column);
                touch(row.language);
                touch(row.text);
                moments += row.changedAt;
            }
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

// CPU seconds this thread takes to compose the lines of the same rows as the server
// composes them, in the database's dialect, into one reused buffer: the query and
// the copying of each batch of rows (as many as the server's reading thread hands
// on at most) are left out. -1 when the rows fail or a row makes no line.
inline double composeCpuSeconds(const QString &address, const ScriptRowsRequest &request)
{
    try {
        TranslationDb database(address, QStringLiteral("bare-compose"));
        const ScriptDialect dialect = database.backend() == DatabaseAddress::Backend::PostgreSQL ? ScriptDialect::PostgreSQL
                                                                                                  : ScriptDialect::SQLite;
        const std::unique_ptr<ScriptRows> rows = openScriptRows(database.database(), database.backend(), request);
        struct OwnedRow
        {
            std::string table, key, column, language, text;
            double changedAt = 0;
        };
        std::vector<OwnedRow> batch(ReadAheadRows::kBatchRows);
        std::vector<char> line;
        size_t composed = 0;
        double cpu = 0;
        for (bool more = true; more;) {
            size_t filled = 0;
            Translation row;
            while (filled < batch.size() && (more = rows->next(row))) {
                OwnedRow &owned = batch[filled++];
                owned = { std::string(row.table), std::string(row.key), std::string(row.column),
                          std::string(row.language), std::string(row.text), row.changedAt };
            }
            const double before = threadCpuSeconds();
            for (size_t i = 0; i < filled; ++i) {
                const OwnedRow &owned = batch[i];
                const Translation each { owned.table, owned.key, owned.column, owned.language, owned.text, owned.changedAt };
                line.resize(size_t(scriptLineRoom(each)));
                char *end = nullptr;
                if (writeScriptLine(line.data(), each, dialect, end) != LineFault::None)
                    return -1;
                composed += size_t(end - line.data());
            }
            cpu += threadCpuSeconds() - before;
        }
        [[maybe_unused]] static volatile size_t sink; // the lines go nowhere, but must be composed
        sink = composed;
        return rows->error().isEmpty() ? cpu : -1;
    } catch (const std::exception &) {
        return -1;
    }
}
