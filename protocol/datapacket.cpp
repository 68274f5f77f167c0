#include "protocol/datapacket.h"

#include "protocol/cborread.h"
#include "protocol/cborwrite.h"
#include "protocol/protocolerror.h"

#include <QCborStreamReader>
#include <cstring>
#include <optional>

namespace protocol {

namespace {

// A CBOR item's first byte: its major type in the top three bits, and below them
// its length, or how many bytes after it hold the length.
constexpr quint8 kMajorTypeMask = 0xe0;
constexpr quint8 kByteStringType = 2 << 5;
constexpr quint8 kLengthMask = 0x1f;
constexpr quint8 kLengthInOneByte = 24; // up to 27: in 1, 2, 4 or 8 bytes
constexpr quint8 kLengthInEightBytes = 27;

FieldKind kindFromName(const QString &name)
{
    if (name == QLatin1String("string"))
        return FieldKind::String;
    if (name == QLatin1String("datetime"))
        return FieldKind::DateTime;
    if (name == QLatin1String("integer"))
        return FieldKind::Integer;
    throw ProtocolError("unknown field type " + name.toStdString());
}

FieldDesc readField(QCborStreamReader &reader)
{
    FieldDesc field;
    bool named = false;
    bool typed = false;
    enterMap(reader);
    while (reader.hasNext()) {
        const QString key = readText(reader);
        if (key == QLatin1String("name")) {
            field.name = readText(reader);
            named = true;
        } else if (key == QLatin1String("type")) {
            field.kind = kindFromName(readText(reader));
            typed = true;
        } else if (key == QLatin1String("size") && reader.isInteger()) {
            field.size = int(reader.toInteger());
            skip(reader);
        } else {
            skip(reader);
        }
    }
    leave(reader);
    if (!named || !typed)
        throw ProtocolError("a field without name or type");
    return field;
}

// Reads a byte string, however many chunks it comes in, into `scratch`; a claimed
// size larger than the whole message is refused before anything is allocated.
QByteArrayView readBytesInto(QCborStreamReader &reader, qsizetype messageSize, QByteArray &scratch)
{
    if (!reader.isByteArray())
        throw ProtocolError("a byte string was expected");
    qsizetype used = 0;
    QCborStreamReader::StringResult<qsizetype> chunk;
    do {
        const qsizetype size = reader.currentStringChunkSize();
        if (size < 0 || size > messageSize - used)
            throw ProtocolError("a byte string longer than its message");
        if (scratch.size() < used + size)
            scratch.resize(used + size);
        chunk = reader.readStringChunk(scratch.data() + used, size);
        if (chunk.status == QCborStreamReader::Ok)
            used += chunk.data;
    } while (chunk.status == QCborStreamReader::Ok);
    if (chunk.status == QCborStreamReader::Error)
        throw ProtocolError("a byte string could not be read");
    return QByteArrayView(scratch.constData(), used);
}

// The bytes of a byte string of definite length where they lie in the message, its
// header read at `offset`; nothing for any other item, or for one that does not lie
// whole within the message, which readBytesInto reads or refuses.
std::optional<QByteArrayView> bytesInPlace(QByteArrayView message, qint64 offset)
{
    if (offset < 0 || offset >= message.size())
        return std::nullopt;
    const auto *item = reinterpret_cast<const quint8 *>(message.data()) + offset;
    const qint64 left = message.size() - offset;
    if ((item[0] & kMajorTypeMask) != kByteStringType)
        return std::nullopt;
    const quint8 info = item[0] & kLengthMask;
    qint64 head = 1;
    quint64 length = info;
    if (info >= kLengthInOneByte) {
        if (info > kLengthInEightBytes)
            return std::nullopt; // of indefinite length, or malformed
        head += qint64(1) << (info - kLengthInOneByte);
        if (head > left)
            return std::nullopt;
        length = 0;
        for (qint64 i = 1; i < head; ++i)
            length = length << 8 | item[i];
    }
    if (length > quint64(left - head))
        return std::nullopt;
    return QByteArrayView(message.data() + offset + head, qsizetype(length));
}

// Moves the reader past a byte string of one chunk without copying it.
void skipBytes(QCborStreamReader &reader)
{
    char unused;
    QCborStreamReader::StringResult<qsizetype> chunk = reader.readStringChunk(&unused, 0);
    if (chunk.status == QCborStreamReader::Ok)
        chunk = reader.readStringChunk(&unused, 0);
    if (chunk.status != QCborStreamReader::EndOfString)
        throw ProtocolError("a byte string could not be read");
}

void readValue(QCborStreamReader &reader, const FieldDesc &field, qsizetype column, QByteArrayView message,
               QByteArray &scratch, DataPacketSink &sink)
{
    if (reader.isNull()) {
        skip(reader);
        sink.nullValue(column);
        return;
    }
    switch (field.kind) {
    case FieldKind::String:
        if (const std::optional<QByteArrayView> bytes = reader.isByteArray() ? bytesInPlace(message, reader.currentOffset())
                                                                             : std::nullopt) {
            skipBytes(reader);
            sink.stringValue(column, *bytes);
        } else {
            sink.stringValue(column, readBytesInto(reader, message.size(), scratch));
        }
        return;
    case FieldKind::DateTime:
        if (!reader.isDouble() && !reader.isFloat())
            throw ProtocolError("field " + field.name.toStdString() + ": a day count was expected");
        sink.dateTimeValue(column, reader.isDouble() ? reader.toDouble() : double(reader.toFloat()));
        skip(reader);
        return;
    case FieldKind::Integer:
        if (!reader.isInteger())
            throw ProtocolError("field " + field.name.toStdString() + ": an integer was expected");
        sink.integerValue(column, qint64(reader.toInteger()));
        skip(reader);
        return;
    }
}

} // namespace

QString kindName(FieldKind kind)
{
    switch (kind) {
    case FieldKind::String: return QStringLiteral("string");
    case FieldKind::DateTime: return QStringLiteral("datetime");
    case FieldKind::Integer: return QStringLiteral("integer");
    }
    return QString();
}

DataPacketWriter::DataPacketWriter(const QList<FieldDesc> &fields, qsizetype capacity, qsizetype headRoom,
                                   QByteArray buffer)
    : m_bytes(std::move(buffer))
    , m_headRoom(headRoom)
    , m_columns(fields.size())
{
    using namespace cbor;
    m_bytes.resize(0);
    m_bytes.reserve(headRoom + capacity);
    m_bytes.resize(headRoom);
    appendHead(m_bytes, Major::Map, 2);
    appendText(m_bytes, u"fields");
    appendHead(m_bytes, Major::Array, quint64(fields.size()));
    for (const FieldDesc &field : fields) {
        appendHead(m_bytes, Major::Map, 3);
        appendText(m_bytes, u"name");
        appendText(m_bytes, field.name);
        appendText(m_bytes, u"type");
        appendText(m_bytes, kindName(field.kind));
        appendText(m_bytes, u"size");
        appendInteger(m_bytes, field.size);
    }
    appendText(m_bytes, u"rows");
    appendOpenArray(m_bytes); // rows are counted as they come
}

void DataPacketWriter::beforeValue()
{
    if (m_column == 0)
        cbor::appendHead(m_bytes, cbor::Major::Array, quint64(m_columns));
}

void DataPacketWriter::afterValue()
{
    if (++m_column == m_columns)
        m_column = 0;
}

void DataPacketWriter::addString(QByteArrayView bytes)
{
    beforeValue();
    cbor::appendBytes(m_bytes, bytes);
    afterValue();
}

char *DataPacketWriter::beginString(qsizetype room)
{
    beforeValue();
    m_stringAt = m_bytes.size();
    m_stringHead = cbor::headSize(quint64(room));
    m_bytes.resize(m_stringAt + m_stringHead + room);
    return m_bytes.data() + m_stringAt + m_stringHead;
}

void DataPacketWriter::endString(const char *end)
{
    char *head = m_bytes.data() + m_stringAt;
    const qsizetype size = end - (head + m_stringHead);
    const qsizetype headSize = cbor::headSize(quint64(size));
    // The shortest head: a value far shorter than its room moves up to it.
    if (headSize < m_stringHead)
        std::memmove(head + headSize, head + m_stringHead, size_t(size));
    cbor::putHead(head, cbor::Major::Bytes, quint64(size));
    m_bytes.resize(m_stringAt + headSize + size);
    m_stringAt = -1;
    afterValue();
}

void DataPacketWriter::addDateTime(double dayCount)
{
    beforeValue();
    cbor::appendDouble(m_bytes, dayCount);
    afterValue();
}

void DataPacketWriter::addInteger(qint64 value)
{
    beforeValue();
    cbor::appendInteger(m_bytes, value);
    afterValue();
}

void DataPacketWriter::addNull()
{
    beforeValue();
    cbor::appendNull(m_bytes);
    afterValue();
}

QByteArray DataPacketWriter::finish()
{
    return finishWithin(0, {}, {});
}

QByteArray DataPacketWriter::finishWithin(qsizetype lead, QByteArrayView head, QByteArrayView tail)
{
    cbor::appendBreak(m_bytes);
    m_bytes.append(tail.data(), tail.size());
    if (const qsizetype missing = lead + head.size() - m_headRoom; missing > 0) {
        m_bytes.insert(0, QByteArray(missing, '\0'));
        m_headRoom += missing;
    }
    const qsizetype start = m_headRoom - head.size() - lead;
    if (!head.isEmpty())
        std::memcpy(m_bytes.data() + m_headRoom - head.size(), head.data(), size_t(head.size()));
    // Dropping the unused front moves no byte: the buffer's start moves past it.
    m_bytes.remove(0, start);
    return std::move(m_bytes);
}

void readDataPacket(const QByteArray &packet, DataPacketSink &sink)
{
    QCborStreamReader reader(packet);
    readDataPacket(reader, packet, sink);
    finish(reader);
}

void readDataPacket(QCborStreamReader &reader, QByteArrayView message, DataPacketSink &sink)
{
    QList<FieldDesc> fields;
    QByteArray scratch;
    bool haveFields = false;
    bool haveRows = false;
    enterMap(reader);
    while (reader.hasNext()) {
        const QString key = readText(reader);
        if (key == QLatin1String("fields")) {
            enterArray(reader);
            while (reader.hasNext())
                fields.append(readField(reader));
            leave(reader);
            sink.fields(fields);
            haveFields = true;
        } else if (key == QLatin1String("rows")) {
            if (!haveFields)
                throw ProtocolError("rows before fields");
            enterArray(reader);
            while (reader.hasNext()) {
                enterArray(reader);
                qsizetype column = 0;
                while (reader.hasNext()) {
                    if (column >= fields.size())
                        throw ProtocolError("a row longer than the fields");
                    readValue(reader, fields.at(column), column, message, scratch, sink);
                    ++column;
                }
                if (column != fields.size())
                    throw ProtocolError("a row shorter than the fields");
                leave(reader);
                sink.endRow();
            }
            leave(reader);
            haveRows = true;
        } else {
            skip(reader);
        }
    }
    leave(reader);
    if (!haveFields || !haveRows)
        throw ProtocolError("a packet without fields or rows");
    sink.endPacket();
}

} // namespace protocol
