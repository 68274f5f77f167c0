#include "protocol/datapacket.h"

#include "protocol/cborhead.h"
#include "protocol/cborread.h"
#include "protocol/protocolerror.h"

#include <QCborStreamReader>
#include <bit>
#include <limits>
#include <optional>
#include <vector>

namespace protocol {

namespace {

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
    const std::optional<cbor::Head> head = cbor::readHead(message, qsizetype(offset));
    if (!head || head->major != cbor::Major::Bytes)
        return std::nullopt;
    return cbor::stringAfter(message, qsizetype(offset), *head);
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

// A value of a plain row, kept until the whole row is known to be plain.
struct PlainValue
{
    enum class Kind : quint8 { Null, Bytes, DayCount, Integer };
    Kind kind = Kind::Null;
    QByteArrayView bytes;
    double dayCount = 0;
    qint64 integer = 0;
};

// A reader over the bytes from `at` on; it reads one item, and its offset after it
// is where the item ends.
QCborStreamReader readerAt(QByteArrayView bytes, qsizetype at)
{
    const QByteArrayView rest = bytes.sliced(at);
    return QCborStreamReader(QByteArray::fromRawData(rest.data(), rest.size()));
}

bool atBreak(QByteArrayView bytes, qsizetype at)
{
    if (at >= bytes.size())
        throw ProtocolError("a packet cut short");
    return quint8(bytes[at]) == cbor::kBreak;
}

// One packet's reading: its map walked over its bytes, the rows of the usual shape
// decoded straight from them, anything else through a reader over the item.
class PacketReading
{
public:
    PacketReading(QByteArrayView bytes, DataPacketSink &sink)
        : m_bytes(bytes)
        , m_sink(sink)
    {
    }

    // The bytes the packet takes.
    qsizetype read()
    {
        using namespace cbor;
        const std::optional<Head> map = readHead(m_bytes, 0);
        if (!map || map->major != Major::Map)
            throw ProtocolError("a map was expected");
        qsizetype at = map->size;
        for (quint64 entry = 0; map->info == kIndefinite ? !atBreak(m_bytes, at) : entry < map->value; ++entry) {
            const QString key = readKey(at);
            if (key == QLatin1String("fields")) {
                at = readFields(at);
            } else if (key == QLatin1String("rows")) {
                if (!m_haveFields)
                    throw ProtocolError("rows before fields");
                at = readRows(at);
                m_haveRows = true;
            } else {
                QCborStreamReader reader = readerAt(m_bytes, at);
                skip(reader);
                at += reader.currentOffset();
            }
        }
        if (map->info == kIndefinite)
            ++at;
        if (!m_haveFields || !m_haveRows)
            throw ProtocolError("a packet without fields or rows");
        m_sink.endPacket();
        return at;
    }

private:
    // The key at `at`, which is moved past it: the known keys compared in place.
    QString readKey(qsizetype &at)
    {
        using namespace cbor;
        if (const std::optional<Head> head = readHead(m_bytes, at); head && head->major == Major::Text) {
            if (const std::optional<QByteArrayView> text = stringAfter(m_bytes, at, *head)) {
                for (const char *known : { "fields", "rows" }) {
                    if (*text == QByteArrayView(known)) {
                        at = text->data() + text->size() - m_bytes.data();
                        return QString::fromLatin1(known);
                    }
                }
            }
        }
        QCborStreamReader reader = readerAt(m_bytes, at);
        const QString key = readText(reader);
        at += reader.currentOffset();
        return key;
    }

    qsizetype readFields(qsizetype at)
    {
        QCborStreamReader reader = readerAt(m_bytes, at);
        enterArray(reader);
        while (reader.hasNext())
            m_fields.append(readField(reader));
        leave(reader);
        m_sink.fields(m_fields);
        m_values.resize(size_t(m_fields.size()));
        m_haveFields = true;
        return at + reader.currentOffset();
    }

    qsizetype readRows(qsizetype at)
    {
        using namespace cbor;
        const std::optional<Head> rows = readHead(m_bytes, at);
        if (!rows || rows->major != Major::Array)
            throw ProtocolError("an array was expected");
        at += rows->size;
        for (quint64 row = 0; rows->info == kIndefinite ? !atBreak(m_bytes, at) : row < rows->value; ++row) {
            if (!readPlainRow(at))
                at = readRowByReader(at);
        }
        return rows->info == kIndefinite ? at + 1 : at;
    }

    // A row of the usual shape, a definite array with a value for each field, each
    // a definite byte string lying whole in the bytes, a null, a float or double, or
    // an integer that fits, of its field's kind: delivered, and `at` moved past it.
    // False for any other row, nothing delivered: the reader reads or refuses it.
    bool readPlainRow(qsizetype &at)
    {
        using namespace cbor;
        const std::optional<Head> row = readHead(m_bytes, at);
        if (!row || row->major != Major::Array || row->info == kIndefinite || row->value != quint64(m_fields.size()))
            return false;
        qsizetype next = at + row->size;
        for (qsizetype column = 0; column < m_fields.size(); ++column) {
            const std::optional<Head> head = readHead(m_bytes, next);
            if (!head)
                return false;
            const quint8 first = quint8(m_bytes[next]);
            PlainValue &value = m_values[size_t(column)];
            next += head->size;
            if (first == kNull) {
                value.kind = PlainValue::Kind::Null;
                continue;
            }
            switch (m_fields.at(column).kind) {
            case FieldKind::String: {
                const std::optional<QByteArrayView> bytes =
                    head->major == Major::Bytes ? stringAfter(m_bytes, next - head->size, *head) : std::nullopt;
                if (!bytes)
                    return false;
                value.kind = PlainValue::Kind::Bytes;
                value.bytes = *bytes;
                next += bytes->size();
                break;
            }
            case FieldKind::DateTime:
                if (first == kDouble)
                    value.dayCount = std::bit_cast<double>(head->value);
                else if (first == kFloat)
                    value.dayCount = double(std::bit_cast<float>(quint32(head->value)));
                else
                    return false;
                value.kind = PlainValue::Kind::DayCount;
                break;
            case FieldKind::Integer:
                if ((head->major != Major::Unsigned && head->major != Major::Negative) || head->info == kIndefinite
                    || head->value > quint64(std::numeric_limits<qint64>::max()))
                    return false;
                value.kind = PlainValue::Kind::Integer;
                value.integer = head->major == Major::Unsigned ? qint64(head->value) : -1 - qint64(head->value);
                break;
            }
        }
        for (qsizetype column = 0; column < m_fields.size(); ++column) {
            const PlainValue &value = m_values[size_t(column)];
            switch (value.kind) {
            case PlainValue::Kind::Null: m_sink.nullValue(column); break;
            case PlainValue::Kind::Bytes: m_sink.stringValue(column, value.bytes); break;
            case PlainValue::Kind::DayCount: m_sink.dateTimeValue(column, value.dayCount); break;
            case PlainValue::Kind::Integer: m_sink.integerValue(column, value.integer); break;
            }
        }
        m_sink.endRow();
        at = next;
        return true;
    }

    // Any other row, through a reader; the end of the row.
    qsizetype readRowByReader(qsizetype at)
    {
        const QByteArrayView rest = m_bytes.sliced(at);
        QCborStreamReader reader = readerAt(m_bytes, at);
        enterArray(reader);
        qsizetype column = 0;
        while (reader.hasNext()) {
            if (column >= m_fields.size())
                throw ProtocolError("a row longer than the fields");
            readValue(reader, m_fields.at(column), column, rest, m_scratch, m_sink);
            ++column;
        }
        if (column != m_fields.size())
            throw ProtocolError("a row shorter than the fields");
        leave(reader);
        m_sink.endRow();
        return at + reader.currentOffset();
    }

    QByteArrayView m_bytes;
    DataPacketSink &m_sink;
    QList<FieldDesc> m_fields;
    std::vector<PlainValue> m_values; // the row being read, one for each field
    QByteArray m_scratch; // a text in pieces, put together
    bool m_haveFields = false;
    bool m_haveRows = false;
};

} // namespace

qsizetype readDataPacketFrom(QByteArrayView bytes, DataPacketSink &sink)
{
    return PacketReading(bytes, sink).read();
}

void readDataPacket(const QByteArray &packet, DataPacketSink &sink)
{
    if (readDataPacketFrom(packet, sink) != packet.size())
        throw ProtocolError("data after the end of the packet");
}

} // namespace protocol
