#pragma once

#include "runtime/core/export.h"

#include <QtGlobal>
#include <string_view>

// Where a record-set column keeps its texts, in record order.
class QLX_EXPORT TextStore
{
public:
    // No text is longer: stores read and write a text whole.
    static constexpr qsizetype kLongestText = qsizetype(1) << 20;

    virtual ~TextStore() = default;
    // Adds a text of at most kLongestText bytes.
    virtual void append(const char *bytes, qsizetype size) = 0;
    virtual qsizetype count() const = 0;
    // The text's bytes, valid until the next call of at() or append().
    virtual std::string_view at(qsizetype index) const = 0;
    // The memory the store takes.
    virtual qint64 memoryBytes() const = 0;
    // Called once after the last text, before the first at().
    virtual void finish() {}
};
