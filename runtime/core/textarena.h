#pragma once

#include "runtime/core/textstore.h"

#include <memory>
#include <vector>

// The texts of one record-set column: stored back to back in chunks of a fixed
// size, with the end of every text in an index that also grows a block at a
// time. Nothing is ever reallocated, so loading has no doubling peaks.
class QLX_EXPORT TextArena : public TextStore
{
public:
    // A text's bytes never straddle two chunks, so no text may be longer.
    static constexpr qsizetype kChunkSize = kLongestText;
    // Index entries per index block.
    static constexpr qsizetype kIndexBlock = qsizetype(1) << 13;

    // Adds a text of at most kChunkSize bytes.
    void append(const char *bytes, qsizetype size) override;
    qsizetype count() const override { return m_count; }
    // Valid as long as the arena.
    std::string_view at(qsizetype index) const override;
    // The bytes the texts and their index take (a chunk's unused end counts once
    // a text has been moved past it).
    qint64 memoryBytes() const override { return qint64(m_end) + qint64(m_count) * qint64(sizeof(quint64)); }

private:
    quint64 endAt(qsizetype index) const;

    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::vector<std::unique_ptr<quint64[]>> m_index;
    quint64 m_end = 0; // where the next text starts, counting across chunks
    qsizetype m_count = 0;
};
