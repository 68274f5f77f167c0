#pragma once

#include <QByteArray>

namespace protocol {

// Frames: a 4-byte big-endian length N, then N bytes holding one CBOR item.
constexpr qint64 kDefaultFrameLimit = qint64(1) << 30;

QByteArray frameOf(const QByteArray &payload);

// Cuts frames out of a byte stream as it arrives. A length over the limit is
// refused before anything is allocated for it.
class FrameReader
{
public:
    explicit FrameReader(qint64 limit = kDefaultFrameLimit);
    void append(const QByteArray &bytes);
    // The next complete frame's payload, if one has arrived; throws ProtocolError
    // for a length over the limit.
    bool next(QByteArray &payload);

private:
    qint64 m_limit;
    QByteArray m_buffer;
};

} // namespace protocol
