#include "protocol/datapacket.h"

#include "protocol/cborwrite.h"

#include <cstring>

namespace protocol {

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

} // namespace protocol
