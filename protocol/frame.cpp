#include "frame.h"

#include "protocolerror.h"

#include <QtEndian>
#include <string>

namespace protocol {

QByteArray frameOf(const QByteArray &payload)
{
    QByteArray frame(4, Qt::Uninitialized);
    qToBigEndian(quint32(payload.size()), frame.data());
    return frame + payload;
}

FrameReader::FrameReader(qint64 limit)
    : m_limit(limit)
{
}

void FrameReader::append(const QByteArray &bytes)
{
    m_buffer += bytes;
}

bool FrameReader::next(QByteArray &payload)
{
    if (m_buffer.size() < 4)
        return false;
    const qint64 length = qFromBigEndian<quint32>(m_buffer.constData());
    if (length > m_limit)
        throw ProtocolError("frame of " + std::to_string(length) + " bytes exceeds the limit of "
                            + std::to_string(m_limit));
    if (m_buffer.size() < 4 + length)
        return false;
    if (m_buffer.size() == 4 + length) {
        // The usual case, one whole frame buffered: hand the buffer over, no copy.
        payload = std::exchange(m_buffer, QByteArray());
        payload.remove(0, 4);
        return true;
    }
    payload = m_buffer.mid(4, length);
    m_buffer.remove(0, 4 + length);
    return true;
}

} // namespace protocol
