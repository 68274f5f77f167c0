#include "frame.h"

#include "protocolerror.h"

#include <QtEndian>
#include <algorithm>
#include <string>

namespace protocol {

FrameTooLarge::FrameTooLarge(qint64 size, qint64 limit)
    : ProtocolError("a message of " + std::to_string(size) + " bytes does not fit in a frame of at most "
                    + std::to_string(limit) + " bytes")
    , m_size(size)
    , m_limit(limit)
{
}

QByteArray frameHeader(qint64 length, qint64 limit)
{
    limit = std::min(limit, kFrameLengthLimit);
    if (length > limit)
        throw FrameTooLarge(length, limit);
    QByteArray header(4, Qt::Uninitialized);
    qToBigEndian(quint32(length), header.data());
    return header;
}

QByteArray frameOf(const QByteArray &payload, qint64 limit)
{
    return frameHeader(payload.size(), limit) + payload;
}

FrameReader::FrameReader(qint64 limit)
    : m_limit(limit)
{
}

void FrameReader::append(const QByteArray &bytes)
{
    if (m_start == m_buffer.size()) {
        // Everything before was consumed: take the new bytes over as they are.
        m_buffer = bytes;
        m_start = 0;
        return;
    }
    if (m_start > 0) {
        m_buffer.remove(0, m_start);
        m_start = 0;
    }
    m_buffer += bytes;
}

qint64 FrameReader::declaredLength() const
{
    if (buffered() < 4)
        return -1;
    return qFromBigEndian<quint32>(m_buffer.constData() + m_start);
}

bool FrameReader::next(QByteArray &payload)
{
    const qsizetype available = buffered();
    const qint64 length = declaredLength();
    if (length < 0)
        return false;
    if (length > m_limit)
        throw ProtocolError("frame of " + std::to_string(length) + " bytes exceeds the limit of "
                            + std::to_string(m_limit));
    if (available < 4 + length)
        return false;
    if (m_start == 0 && available == 4 + length) {
        // The usual case, one whole frame buffered: hand the buffer over, no copy.
        payload = std::exchange(m_buffer, QByteArray());
        payload.remove(0, 4);
        return true;
    }
    payload = m_buffer.mid(m_start + 4, length);
    m_start += 4 + length;
    return true;
}

} // namespace protocol
