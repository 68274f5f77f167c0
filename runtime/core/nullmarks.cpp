#include "runtime/core/nullmarks.h"

void NullMarks::append(bool null)
{
    if (null) {
        const size_t stretch = size_t(m_count / kStretch);
        if (m_stretches.size() <= stretch)
            m_stretches.resize(stretch + 1);
        if (!m_stretches[stretch]) {
            m_stretches[stretch] = std::make_unique<quint64[]>(size_t(kStretch / kWordBits)); // zeroed
            ++m_bitStretches;
        }
        const qsizetype bit = m_count % kStretch;
        m_stretches[stretch][size_t(bit / kWordBits)] |= quint64(1) << (bit % kWordBits);
    }
    ++m_count;
}

bool NullMarks::at(qsizetype record) const
{
    const size_t stretch = size_t(record / kStretch);
    if (stretch >= m_stretches.size() || !m_stretches[stretch])
        return false;
    const qsizetype bit = record % kStretch;
    return (m_stretches[stretch][size_t(bit / kWordBits)] >> (bit % kWordBits)) & 1;
}

qint64 NullMarks::memoryBytes() const
{
    return qint64(m_stretches.capacity() * sizeof(m_stretches[0])) + m_bitStretches * (kStretch / 8);
}
