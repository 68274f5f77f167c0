#include "appserver/rows/readaheadrows.h"

#include <cstring>
#include <sched.h>

bool ReadAheadRows::pays()
{
    cpu_set_t cores;
    CPU_ZERO(&cores);
    return sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) >= kCoresToReadAhead;
}

ReadAheadRows::ReadAheadRows(std::unique_ptr<ScriptRows> rows)
    : m_rows(std::move(rows))
{
    m_spare.reserve(kBatchesAhead + 2);
    m_reader = std::thread([this] { read(); });
}

ReadAheadRows::~ReadAheadRows()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_reader.join();
}

bool ReadAheadRows::add(Batch &batch, const Translation &row)
{
    const size_t size = row.table.size() + row.key.size() + row.column.size() + row.language.size() + row.text.size();
    if (batch.used + size > batch.capacity || batch.rows.size() == kBatchRows) {
        if (!batch.rows.empty())
            return false;
        batch.bytes = std::make_unique<char[]>(size);
        batch.capacity = size;
    }
    char *at = batch.bytes.get() + batch.used;
    const auto copy = [&at](std::string_view text) {
        const std::string_view copied(at, text.size());
        if (!text.empty())
            std::memcpy(at, text.data(), text.size());
        at += text.size();
        return copied;
    };
    batch.rows.push_back({ copy(row.table), copy(row.key), copy(row.column), copy(row.language), copy(row.text),
                           row.changedAt });
    batch.used += size;
    return true;
}

ReadAheadRows::Batch ReadAheadRows::spareBatch()
{
    Batch batch;
    {
        std::lock_guard lock(m_mutex);
        if (!m_spare.empty()) {
            batch = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    if (!batch.bytes || batch.capacity != kBatchBytes) {
        batch.bytes = std::make_unique<char[]>(kBatchBytes);
        batch.capacity = kBatchBytes;
    }
    batch.used = 0;
    batch.rows.clear();
    batch.last = false;
    batch.error.clear();
    batch.failure = nullptr;
    return batch;
}

void ReadAheadRows::read()
{
    Batch batch;
    Translation row;
    bool more = true;
    bool held = false; // `row` is read but in no batch yet
    while (more) {
        try {
            batch = spareBatch();
            if (held)
                add(batch, row); // an empty batch takes any row
            while ((more = !m_stop.load(std::memory_order_relaxed) && m_rows->next(row)) && add(batch, row)) {
            }
            held = more;
            if (!more)
                batch.error = m_rows->error();
        } catch (...) {
            more = false;
            batch.failure = std::current_exception();
        }
        batch.last = !more;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || m_readyCount < kBatchesAhead; });
            if (m_stop)
                return;
            m_ready[(m_readyFirst + m_readyCount++) % kBatchesAhead] = std::move(batch);
        }
        m_changed.notify_all();
    }
}

bool ReadAheadRows::next(Translation &row)
{
    while (m_taken == m_taking.rows.size()) {
        if (m_ended)
            return false;
        if (m_taking.last) {
            m_ended = true;
            m_error = m_taking.error;
            if (m_taking.failure) {
                try {
                    std::rethrow_exception(m_taking.failure);
                } catch (const std::exception &thrown) {
                    m_error = QString::fromUtf8(thrown.what());
                } catch (...) {
                    m_error = QStringLiteral("the rows' reading failed");
                }
            }
            return false;
        }
        std::unique_lock lock(m_mutex);
        if (m_taking.bytes && m_taking.capacity == kBatchBytes)
            m_spare.push_back(std::move(m_taking));
        m_changed.wait(lock, [this] { return m_readyCount > 0; });
        m_taking = std::move(m_ready[m_readyFirst]);
        m_readyFirst = (m_readyFirst + 1) % kBatchesAhead;
        --m_readyCount;
        lock.unlock();
        m_changed.notify_all();
        m_taken = 0;
    }
    row = m_taking.rows[m_taken++];
    return true;
}
