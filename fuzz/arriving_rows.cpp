// The count of arriving rows on any bytes, cut into pieces whose sizes the first byte
// sets: it never goes down, a count resumed piece by piece equals one made in one go
// over the same bytes, and once a part has arrived whole and decodes, the count is
// never more than the rows decoded.
#include "protocol/arrivingrows.h"
#include "protocol/datapacket.h"
#include "protocol/message.h"
#include "protocol/protocolerror.h"

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

// Prefixes compared with a count made afresh: the whole, and about this many on the way.
constexpr qsizetype kFreshCounts = 16;

struct RowCount : protocol::DataPacketDiscard
{
    qsizetype rows = 0;
    void endRow() override { ++rows; }
};

// The rows of the payload's packet, when it decodes as a part. A packet may hold
// more than one array of rows; only the first is counted as it arrives.
std::optional<qsizetype> decodedRows(const QByteArray &payload)
{
    RowCount count;
    try {
        if (protocol::readPart(payload, count))
            return count.rows;
    } catch (const protocol::ProtocolError &) {
    }
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype step = data[0] % 64 + 1;
    const QByteArray payload = QByteArray::fromRawData(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qsizetype freshEvery = std::max<qsizetype>(payload.size() / kFreshCounts, 1);
    protocol::ArrivingRows resumed;
    qsizetype last = 0;
    for (qsizetype arrived = 0;; arrived = std::min(arrived + step, payload.size())) {
        const QByteArrayView prefix = QByteArrayView(payload).first(arrived);
        const qsizetype rows = resumed.count(prefix);
        if (rows < last || rows > arrived)
            std::abort();
        last = rows;
        const bool whole = arrived == payload.size();
        if ((whole || arrived % freshEvery < step) && protocol::ArrivingRows().count(prefix) != rows)
            std::abort();
        if (whole)
            break;
    }
    const std::optional<qsizetype> decoded = decodedRows(payload);
    if (decoded && *decoded < last)
        std::abort();
    return 0;
}
