#pragma once

#include "runtime/core/export.h"

#include <QtGlobal>
#include <memory>
#include <vector>

// Which records of a record-set column hold a null. Bits are kept only for the
// stretches of records where a null occurs: a column without nulls costs nothing
// a record, one full of them a bit a record. Nothing is ever reallocated but the
// list of stretches, a pointer for every kStretch records.
class QLX_EXPORT NullMarks
{
public:
    // Records a stretch of bits covers.
    static constexpr qsizetype kStretch = qsizetype(1) << 16;

    void append(bool null);
    qsizetype count() const { return m_count; }
    bool at(qsizetype record) const;
    qint64 memoryBytes() const;

private:
    static constexpr qsizetype kWordBits = 64;

    std::vector<std::unique_ptr<quint64[]>> m_stretches; // none for a stretch without nulls
    qsizetype m_bitStretches = 0; // stretches with bits
    qsizetype m_count = 0;
};
