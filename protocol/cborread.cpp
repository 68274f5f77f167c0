#include "protocol/cborread.h"

#include "protocol/protocolerror.h"

namespace protocol {

namespace {

void check(QCborStreamReader &reader)
{
    if (reader.lastError() != QCborError::NoError)
        throw ProtocolError("malformed CBOR: " + reader.lastError().toString().toStdString());
}

} // namespace

namespace {

// Reads a whole text or byte string, however many chunks it comes in.
template <typename Value, typename Chunk>
Value readWhole(QCborStreamReader &reader, bool rightType, Chunk (QCborStreamReader::*readChunk)(), const char *expected)
{
    check(reader);
    if (!rightType)
        throw ProtocolError(std::string(expected) + " was expected");
    Value value;
    Chunk chunk = (reader.*readChunk)();
    while (chunk.status == QCborStreamReader::Ok) {
        value += chunk.data;
        chunk = (reader.*readChunk)();
    }
    if (chunk.status == QCborStreamReader::Error) {
        check(reader);
        throw ProtocolError(std::string(expected) + " could not be read");
    }
    return value;
}

} // namespace

QString readText(QCborStreamReader &reader)
{
    return readWhole<QString>(reader, reader.isString(), &QCborStreamReader::readString, "a text");
}

void enterArray(QCborStreamReader &reader)
{
    check(reader);
    if (!reader.isArray() || !reader.enterContainer())
        throw ProtocolError("an array was expected");
}

void enterMap(QCborStreamReader &reader)
{
    check(reader);
    if (!reader.isMap() || !reader.enterContainer())
        throw ProtocolError("a map was expected");
}

void leave(QCborStreamReader &reader)
{
    check(reader);
    if (reader.hasNext() || !reader.leaveContainer())
        throw ProtocolError("a container could not be closed");
    check(reader);
}

void skip(QCborStreamReader &reader)
{
    check(reader);
    if (!reader.next())
        throw ProtocolError("malformed CBOR: " + reader.lastError().toString().toStdString());
    check(reader);
}

QCborValue readItem(QCborStreamReader &reader)
{
    check(reader);
    QCborValue value = QCborValue::fromCbor(reader);
    check(reader);
    return value;
}

void finish(QCborStreamReader &reader, qint64 size)
{
    check(reader);
    // The reader tells no item after the top one from the end of its data: the offset does.
    if (reader.currentOffset() != size)
        throw ProtocolError("data after the end of the message");
}

} // namespace protocol
