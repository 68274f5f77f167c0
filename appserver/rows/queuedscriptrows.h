#pragma once

#include "appserver/rows/scriptrows.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Rows read from the database on a thread of their own, so that the database
// steps on one core while the caller builds lines on another. Rows travel in
// batches of copied bytes through a queue of at most kQueuedBatches, so memory
// stays flat however long the answer. Spent batches go back to the reading thread
// to be filled again, so a long answer allocates nothing once the first are made.
class QueuedScriptRows : public ScriptRows
{
public:
    // Bytes of row texts gathered into one batch.
    static constexpr size_t kBatchBytes = 256 * 1024;
    // Batches read ahead of the caller.
    static constexpr size_t kQueuedBatches = 4;

    explicit QueuedScriptRows(std::unique_ptr<ScriptRows> source);
    // Stops the reading thread and waits for it.
    ~QueuedScriptRows() override;
    QueuedScriptRows(const QueuedScriptRows &) = delete;
    QueuedScriptRows &operator=(const QueuedScriptRows &) = delete;

    bool next(Translation &row) override;
    QString error() const override { return m_error; }

private:
    struct Row
    {
        quint32 offsets[5];
        quint32 sizes[5];
        double changedAt;
    };
    struct Batch
    {
        std::string bytes;
        std::vector<Row> rows;
        bool last = false; // the source had no more rows after these
    };

    void read();
    // An empty batch: a spent one when there is one.
    Batch spareBatch();
    void finishReading();

    std::unique_ptr<ScriptRows> m_source;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_queue;
    std::vector<Batch> m_spare; // read by the caller, to be filled again
    bool m_stop = false;
    std::atomic<bool> m_stopping { false }; // m_stop, read between rows without the lock
    QString m_sourceError; // set by the reading thread before its last batch
    Batch m_current;
    size_t m_at = 0;
    bool m_ended = false;
    QString m_error;
    std::thread m_reader;
};
