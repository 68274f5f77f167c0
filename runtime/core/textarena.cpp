#include "runtime/core/textarena.h"

#include <cstring>

void TextArena::append(const char *bytes, qsizetype size)
{
    Q_ASSERT(size >= 0 && size <= kChunkSize);
    const quint64 chunkSize = quint64(kChunkSize);
    quint64 start = m_end;
    if (size > 0) {
        // A text that does not fit in what is left of the chunk starts the next one.
        if (start % chunkSize + quint64(size) > chunkSize)
            start += chunkSize - start % chunkSize;
        const size_t chunk = size_t(start / chunkSize);
        while (m_chunks.size() <= chunk)
            m_chunks.push_back(std::make_unique_for_overwrite<char[]>(size_t(kChunkSize)));
        std::memcpy(m_chunks[chunk].get() + start % chunkSize, bytes, size_t(size));
    }
    m_end = start + quint64(size);
    if (m_count % kIndexBlock == 0)
        m_index.push_back(std::make_unique_for_overwrite<quint64[]>(size_t(kIndexBlock)));
    m_index.back()[size_t(m_count % kIndexBlock)] = m_end;
    ++m_count;
}

quint64 TextArena::endAt(qsizetype index) const
{
    return m_index[size_t(index / kIndexBlock)][size_t(index % kIndexBlock)];
}

std::string_view TextArena::at(qsizetype index) const
{
    const quint64 chunkSize = quint64(kChunkSize);
    const quint64 end = endAt(index);
    quint64 start = index == 0 ? 0 : endAt(index - 1);
    if (end == start)
        return {};
    // The text lies in the chunk of its last byte; it began there if the one
    // before it ended in an earlier chunk.
    const quint64 chunkStart = (end - 1) / chunkSize * chunkSize;
    start = std::max(start, chunkStart);
    return std::string_view(m_chunks[size_t(chunkStart / chunkSize)].get() + (start - chunkStart), size_t(end - start));
}
