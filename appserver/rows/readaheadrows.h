#pragma once

#include "appserver/rows/scriptrows.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Rows read on a thread of their own, a few batches ahead of the one who takes
// them: the database's work runs beside the lines' composition instead of before
// it. Each row's texts are copied out of the client library's buffers into a
// batch, since those last only until its next row.
class ReadAheadRows : public ScriptRows
{
public:
    // Text bytes a batch holds before it is handed over (a row that does not fit
    // an empty batch gets one of its size).
    static constexpr size_t kBatchBytes = size_t(256) << 10;
    // Rows a batch holds at most, whatever their size: their views take 88 bytes
    // each beside their texts.
    static constexpr size_t kBatchRows = 4096;
    // Batches read ahead of the taker, besides the one being filled and the one
    // being taken.
    static constexpr size_t kBatchesAhead = 2;
    // Cores the process may run on for reading ahead to pay: a session already
    // composes on one thread and sends on another, and on two cores a third only
    // adds the copying of every row (measured: on SQLite 13 % more of the server's
    // CPU for no shorter generation, on PostgreSQL 9 % more for one about 2 % shorter).
    static constexpr int kCoresToReadAhead = 3;

    // Whether this process has kCoresToReadAhead cores to run on.
    static bool pays();

    explicit ReadAheadRows(std::unique_ptr<ScriptRows> rows);
    // Stops the reading thread, waits for it and lets the rows go.
    ~ReadAheadRows() override;
    ReadAheadRows(const ReadAheadRows &) = delete;
    ReadAheadRows &operator=(const ReadAheadRows &) = delete;

    bool next(Translation &row) override;
    QString error() const override { return m_error; }

    // Rows with their texts copied out, as the reading thread hands them over.
    struct Batch
    {
        std::unique_ptr<char[]> bytes;
        size_t capacity = 0;
        size_t used = 0;
        std::vector<Translation> rows; // their texts lie in `bytes`
        bool last = false; // the rows ended after these
        QString error; // why they ended, when the rows said they failed
        std::exception_ptr failure; // what was thrown, when the reading threw
    };
    // Copies the row into `batch`, false when it does not fit.
    static bool add(Batch &batch, const Translation &row);

private:
    void read();
    Batch spareBatch();

    std::unique_ptr<ScriptRows> m_rows; // read by the reading thread only
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Batches read, in order from m_readyFirst: a ring, so that handing one over
    // never allocates.
    std::array<Batch, kBatchesAhead> m_ready;
    size_t m_readyFirst = 0;
    size_t m_readyCount = 0;
    std::vector<Batch> m_spare; // taken, to be filled again; room for all kept
    std::atomic<bool> m_stop = false;
    Batch m_taking; // the batch rows are handed out from
    size_t m_taken = 0;
    bool m_ended = false;
    QString m_error;
    std::thread m_reader;
};
