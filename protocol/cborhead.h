#pragma once

#include "protocol/cborformat.h"

#include <QByteArrayView>
#include <optional>

namespace protocol::cbor {

struct Head
{
    Major major;
    quint8 info;
    quint64 value; // the length, count, integer or float bits stated; 0 when indefinite
    qsizetype size; // the head's bytes
};

// The head of the item at `at`; nothing when it runs past the bytes or holds a
// reserved additional information (28 to 30).
inline std::optional<Head> readHead(QByteArrayView bytes, qsizetype at)
{
    if (at < 0 || at >= bytes.size())
        return std::nullopt;
    const auto *item = reinterpret_cast<const quint8 *>(bytes.data()) + at;
    Head head { Major(item[0] >> kMajorShift), quint8(item[0] & kInfoMask), 0, 1 };
    if (head.info < kValueInOneByte) {
        head.value = head.info;
        return head;
    }
    if (head.info == kIndefinite)
        return head;
    if (head.info > kValueInEightBytes)
        return std::nullopt;
    head.size += qsizetype(1) << (head.info - kValueInOneByte);
    if (head.size > bytes.size() - at)
        return std::nullopt;
    for (qsizetype i = 1; i < head.size; ++i)
        head.value = head.value << 8 | item[i];
    return head;
}

// The bytes of a string of definite length whose head is `head`, read at `at`;
// nothing when they do not lie whole within `bytes`.
inline std::optional<QByteArrayView> stringAfter(QByteArrayView bytes, qsizetype at, const Head &head)
{
    const qsizetype start = at + head.size;
    if (head.info == kIndefinite || head.value > quint64(bytes.size() - start))
        return std::nullopt;
    return bytes.sliced(start, qsizetype(head.value));
}

} // namespace protocol::cbor
