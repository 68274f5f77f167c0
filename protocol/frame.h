#pragma once

#include "protocol/protocolerror.h"

#include <QByteArray>
#include <QByteArrayView>

class QIODevice;

namespace protocol {

// Frames: a 4-byte big-endian length N, then N bytes holding one CBOR item.
constexpr qint64 kFrameHeaderSize = 4;
constexpr qint64 kDefaultFrameLimit = qint64(1) << 30;
// The largest length the 4-byte header can state.
constexpr qint64 kFrameLengthLimit = 0xFFFFFFFF;

// A payload too long to go out as one frame: over the header's reach or over the
// sender's own limit.
class FrameTooLarge : public ProtocolError
{
public:
    FrameTooLarge(qint64 size, qint64 limit);
    qint64 size() const { return m_size; }
    qint64 limit() const { return m_limit; }

private:
    qint64 m_size;
    qint64 m_limit;
};

// The header of a frame of `length` bytes; throws FrameTooLarge over `limit`
// (never over kFrameLengthLimit, whatever the limit given).
QByteArray frameHeader(qint64 length, qint64 limit = kFrameLengthLimit);
QByteArray frameOf(const QByteArray &payload, qint64 limit = kFrameLengthLimit);
// Writes in place the header of a frame composed after kFrameHeaderSize bytes left
// for it; throws FrameTooLarge as frameHeader().
void writeFrameHeader(QByteArray &frame, qint64 limit = kFrameLengthLimit);

// Cuts frames out of a byte stream as it arrives, in one buffer that is kept and
// reused: it grows with the bytes that arrive, never on a header's word (a header
// stating a long frame costs nothing until the frame's bytes come), and payloads
// are handed out as views into it. A length over the limit is refused at its header.
class FrameReader
{
public:
    // Room kept free for a read when no longer frame is awaited.
    static constexpr qsizetype kReadSize = qsizetype(256) << 10;

    explicit FrameReader(qint64 limit = kDefaultFrameLimit);
    void append(QByteArrayView bytes);
    // Reads what the device has ready straight into the buffer, up to the end of
    // the frame on its way; the bytes read, -1 on the device's failure.
    qint64 readFrom(QIODevice &device);
    // The next complete frame's payload, if one has arrived, valid until the
    // reader's next call; throws ProtocolError for a length over the limit.
    bool next(QByteArrayView &payload);
    // The same, as a payload of its own.
    bool next(QByteArray &payload);
    // The length the next frame's header states, once its header has arrived; else -1.
    qint64 declaredLength() const;
    // The bytes of the next frame's payload that have arrived while it is still
    // incomplete, valid until the reader's next call; empty before its header.
    QByteArrayView arrivingPayload() const;
    // Bytes held that no frame returned by next() took.
    qsizetype buffered() const { return m_end - m_start; }
    // Bytes of memory the buffer holds, read or not.
    qsizetype capacity() const { return m_buffer.capacity(); }

private:
    // Makes room for `size` more bytes after the unread ones.
    void reserve(qsizetype size);

    qint64 m_limit;
    QByteArray m_buffer;
    qsizetype m_start = 0; // where the next frame begins
    qsizetype m_end = 0; // where the bytes read so far end
};

} // namespace protocol
