#include "cborread.h"

#include "protocolerror.h"

namespace protocol {

namespace {

void check(QCborStreamReader &reader)
{
    if (reader.lastError() != QCborError::NoError)
        throw ProtocolError("malformed CBOR: " + reader.lastError().toString().toStdString());
}

} // namespace

QString readText(QCborStreamReader &reader)
{
    check(reader);
    if (!reader.isString())
        throw ProtocolError("a text was expected");
    QString text;
    auto chunk = reader.readString();
    while (chunk.status == QCborStreamReader::Ok) {
        text += chunk.data;
        chunk = reader.readString();
    }
    if (chunk.status == QCborStreamReader::Error)
        check(reader);
    return text;
}

QByteArray readBytes(QCborStreamReader &reader)
{
    check(reader);
    if (!reader.isByteArray())
        throw ProtocolError("a byte string was expected");
    QByteArray bytes;
    auto chunk = reader.readByteArray();
    while (chunk.status == QCborStreamReader::Ok) {
        bytes += chunk.data;
        chunk = reader.readByteArray();
    }
    if (chunk.status == QCborStreamReader::Error)
        check(reader);
    return bytes;
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

void finish(QCborStreamReader &reader)
{
    check(reader);
    if (reader.isValid() && reader.containerDepth() == 0 && reader.type() != QCborStreamReader::Invalid)
        throw ProtocolError("data after the end of the message");
}

} // namespace protocol
