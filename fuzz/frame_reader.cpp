// The frame reader on any byte stream: the frames it cuts, or its refusal, do not
// depend on how the stream arrives, and its memory follows the bytes that arrived,
// never the lengths their headers state. The first byte sets the size of the pieces.
#include "protocol/frame.h"
#include "protocol/protocolerror.h"

#include <QByteArrayList>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr qint64 kLimit = 1 << 16; // small, so that refusals are reached
// Memory the buffer may hold beyond twice the bytes appended (its growth by doubling).
constexpr qsizetype kSlack = 64;

struct Outcome
{
    QByteArrayList payloads;
    bool refused = false;
    bool operator==(const Outcome &) const = default;
};

Outcome read(const QByteArray &stream, qsizetype piece)
{
    protocol::FrameReader reader(kLimit);
    Outcome outcome;
    try {
        for (qsizetype at = 0; at < stream.size(); at += piece) {
            reader.append(stream.mid(at, piece));
            if (reader.capacity() > 2 * std::min(at + piece, stream.size()) + kSlack)
                std::abort();
            QByteArray payload;
            while (reader.next(payload))
                outcome.payloads << payload;
        }
    } catch (const protocol::ProtocolError &) {
        outcome.refused = true;
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype piece = data[0] % 16 + 1;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (read(stream, piece) != read(stream, qMax<qsizetype>(stream.size(), 1)))
        std::abort();
    return 0;
}
