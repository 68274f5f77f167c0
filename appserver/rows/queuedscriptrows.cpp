#include "appserver/rows/queuedscriptrows.h"

#include <cstring>

QueuedScriptRows::QueuedScriptRows(std::unique_ptr<ScriptRows> source)
    : m_source(std::move(source))
    , m_reader([this] { read(); })
{
}

QueuedScriptRows::~QueuedScriptRows()
{
    finishReading();
}

void QueuedScriptRows::finishReading()
{
    m_stopping = true;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_reader.joinable())
        m_reader.join();
}

void QueuedScriptRows::read()
{
    Translation row;
    bool more = true;
    while (more) {
        Batch batch = spareBatch();
        while (batch.bytes.size() < kBatchBytes && !m_stopping.load(std::memory_order_relaxed)
               && (more = m_source->next(row))) {
            Row copied { {}, {}, row.changedAt };
            const std::string_view texts[] = { row.table, row.key, row.column, row.language, row.text };
            size_t size = 0;
            for (const std::string_view text : texts)
                size += text.size();
            size_t at = batch.bytes.size();
            batch.bytes.resize(at + size);
            for (int i = 0; i < 5; ++i) {
                copied.offsets[i] = quint32(at);
                copied.sizes[i] = quint32(texts[i].size());
                std::memcpy(batch.bytes.data() + at, texts[i].data(), texts[i].size());
                at += texts[i].size();
            }
            batch.rows.push_back(copied);
        }
        batch.last = !more;
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stop || m_queue.size() < kQueuedBatches; });
        if (m_stop)
            return;
        if (batch.last)
            m_sourceError = m_source->error();
        m_queue.push_back(std::move(batch));
        lock.unlock();
        m_changed.notify_all();
    }
}

QueuedScriptRows::Batch QueuedScriptRows::spareBatch()
{
    Batch batch;
    {
        std::lock_guard lock(m_mutex);
        if (!m_spare.empty()) {
            batch = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    batch.bytes.clear(); // capacity kept
    batch.rows.clear();
    batch.bytes.reserve(kBatchBytes + 4096);
    return batch;
}

bool QueuedScriptRows::next(Translation &row)
{
    while (m_at == m_current.rows.size()) {
        if (m_ended || m_current.last) {
            if (!m_ended) {
                m_ended = true;
                finishReading();
                m_error = m_sourceError;
                m_source.reset(); // the connection is free for the next call
            }
            return false;
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_queue.empty(); });
        m_spare.push_back(std::move(m_current));
        m_current = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        m_changed.notify_all();
        m_at = 0;
    }
    const Row &copied = m_current.rows[m_at++];
    const auto text = [&](int i) { return std::string_view(m_current.bytes).substr(copied.offsets[i], copied.sizes[i]); };
    row.table = text(0);
    row.key = text(1);
    row.column = text(2);
    row.language = text(3);
    row.text = text(4);
    row.changedAt = copied.changedAt;
    return true;
}
