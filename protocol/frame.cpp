#include "protocol/frame.h"

#include "protocol/protocolerror.h"

#include <QIODevice>
#include <QtEndian>
#include <algorithm>
#include <cstring>
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

void writeFrameHeader(QByteArray &frame, qint64 limit)
{
    const qint64 length = frame.size() - kFrameHeaderSize;
    limit = std::min(limit, kFrameLengthLimit);
    if (length > limit)
        throw FrameTooLarge(length, limit);
    qToBigEndian(quint32(length), frame.data());
}

FrameReader::FrameReader(qint64 limit)
    : m_limit(limit)
{
}

void FrameReader::reserve(qsizetype size)
{
    if (m_buffer.size() - m_end >= size)
        return;
    // The unread bytes move to the front; the buffer grows only when that is not enough.
    if (m_start > 0) {
        std::memmove(m_buffer.data(), m_buffer.constData() + m_start, size_t(m_end - m_start));
        m_end -= m_start;
        m_start = 0;
    }
    if (m_buffer.size() - m_end < size)
        m_buffer.resize(m_end + size);
}

void FrameReader::append(QByteArrayView bytes)
{
    reserve(bytes.size());
    if (!bytes.isEmpty())
        std::memcpy(m_buffer.data() + m_end, bytes.data(), size_t(bytes.size()));
    m_end += bytes.size();
}

qint64 FrameReader::readFrom(QIODevice &device)
{
    // Up to the end of the frame on its way and no further: once it is taken the
    // buffer is empty, and the next frame is read to the front instead of moved there.
    const qint64 length = declaredLength();
    qint64 wanted = (length < 0 ? 0 : length) + kFrameHeaderSize - buffered();
    if (wanted <= 0)
        wanted = kReadSize; // the frame is whole and not yet taken
    const qint64 room = std::max(kReadSize, qsizetype(std::min<qint64>(device.bytesAvailable(), kReadSize * 16)));
    reserve(qsizetype(std::min(wanted, room)));
    const qint64 read = device.read(m_buffer.data() + m_end, std::min(wanted, room));
    if (read > 0)
        m_end += read;
    return read;
}

qint64 FrameReader::declaredLength() const
{
    if (buffered() < 4)
        return -1;
    return qFromBigEndian<quint32>(m_buffer.constData() + m_start);
}

QByteArrayView FrameReader::arrivingPayload() const
{
    const qint64 length = declaredLength();
    if (length < 0)
        return {};
    const qsizetype arrived = qsizetype(std::min<qint64>(buffered() - kFrameHeaderSize, length));
    return QByteArrayView(m_buffer.constData() + m_start + kFrameHeaderSize, arrived);
}

bool FrameReader::next(QByteArrayView &payload)
{
    const qsizetype available = buffered();
    const qint64 length = declaredLength();
    if (length < 0)
        return false;
    if (length > m_limit)
        throw ProtocolError("frame of " + std::to_string(length) + " bytes exceeds the limit of "
                            + std::to_string(m_limit));
    if (available < 4 + length)
        return false; // the buffer grows as the rest arrives, not ahead of it
    payload = QByteArrayView(m_buffer.constData() + m_start + 4, length);
    m_start += 4 + length;
    if (m_start == m_end)
        m_start = m_end = 0; // the next read starts at the front, past nothing
    return true;
}

bool FrameReader::next(QByteArray &payload)
{
    QByteArrayView view;
    if (!next(view))
        return false;
    payload = view.toByteArray();
    return true;
}

} // namespace protocol
