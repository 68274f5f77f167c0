#pragma once

#include "appserver/rows/scriptrows.h"

#include <atomic>
#include <condition_variable>
#include <deque>
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
    // Batches read ahead of the taker.
    static constexpr size_t kBatchesAhead = 2;

    explicit ReadAheadRows(std::unique_ptr<ScriptRows> rows);
    // Stops the reading thread, waits for it and lets the rows go.
    ~ReadAheadRows() override;
    ReadAheadRows(const ReadAheadRows &) = delete;
    ReadAheadRows &operator=(const ReadAheadRows &) = delete;

    bool next(Translation &row) override;
    QString error() const override { return m_error; }

private:
    struct Batch
    {
        std::unique_ptr<char[]> bytes;
        size_t capacity = 0;
        size_t used = 0;
        std::vector<Translation> rows; // their texts lie in `bytes`
        bool last = false; // the rows ended after these
        QString error; // why they ended, when they failed
    };

    void read();
    // Copies the row into `batch`, false when it does not fit.
    static bool add(Batch &batch, const Translation &row);
    Batch spareBatch();

    std::unique_ptr<ScriptRows> m_rows; // read by the reading thread only
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_ready;
    std::vector<Batch> m_spare; // taken, to be filled again
    std::atomic<bool> m_stop = false;
    Batch m_taking; // the batch rows are handed out from
    size_t m_taken = 0;
    bool m_ended = false;
    QString m_error;
    std::thread m_reader;
};
