#include "protocol/message.h"

#include "protocol/cborhead.h"
#include "protocol/cborread.h"
#include "protocol/cborwrite.h"
#include "protocol/protocolerror.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborStreamReader>
#include <QCborStreamWriter>

namespace protocol {

namespace {

QString kindText(ArgumentKind kind)
{
    switch (kind) {
    case ArgumentKind::Str: return QStringLiteral("str");
    case ArgumentKind::StrRef: return QStringLiteral("strref");
    case ArgumentKind::Date: return QStringLiteral("date");
    }
    return QString();
}

void writeRefs(QCborStreamWriter &writer, const QStringList &refs)
{
    writer.append(QLatin1String("refs"));
    writer.startArray(quint64(refs.size()));
    for (const QString &ref : refs)
        writer.append(ref);
    writer.endArray();
}

// {"result": {"ok": true, "packet": P}, "refs": [...]}: what comes before P.
const QByteArray &okResponseHead()
{
    static const QByteArray head = QByteArray::fromHex("a2" "66726573756c74" "a2" "626f6b" "f5" "667061636b6574");
    return head;
}

// What comes after P.
QByteArray okResponseTail(const QStringList &refs)
{
    QByteArray tail;
    cbor::appendText(tail, u"refs");
    cbor::appendHead(tail, cbor::Major::Array, quint64(refs.size()));
    for (const QString &ref : refs)
        cbor::appendText(tail, ref);
    return tail;
}

// {"part": P}: what comes before P.
const QByteArray &partHead()
{
    static const QByteArray head = QByteArray::fromHex("a1" "64706172" "74");
    return head;
}

} // namespace

QByteArray encodeRequest(const Request &request)
{
    QCborArray args;
    for (const Argument &argument : request.args) {
        QCborMap map;
        map.insert(QLatin1String("kind"), kindText(argument.kind));
        map.insert(QLatin1String("value"),
                   argument.kind == ArgumentKind::Date ? QCborValue(argument.date) : QCborValue(argument.text));
        args.append(map);
    }
    QCborMap map;
    map.insert(QLatin1String("object"), request.object);
    map.insert(QLatin1String("method"), request.method);
    map.insert(QLatin1String("args"), args);
    return map.toCborValue().toCbor();
}

QByteArray encodeOkResponse(const QByteArray &encodedPacket, const QStringList &refs)
{
    return okResponseHead() + encodedPacket + okResponseTail(refs);
}

QByteArray okResponseFrame(DataPacketWriter &packet, const QStringList &refs)
{
    QByteArray frame = packet.finishWithin(kFrameHeaderSize, okResponseHead(), okResponseTail(refs));
    writeFrameHeader(frame);
    return frame;
}

QByteArray encodeFailureResponse(const QString &message, const QStringList &refs)
{
    QByteArray bytes;
    QCborStreamWriter writer(&bytes);
    writer.startMap(2);
    writer.append(QLatin1String("result"));
    writer.startMap(2);
    writer.append(QLatin1String("ok"));
    writer.append(false);
    writer.append(QLatin1String("message"));
    writer.append(message);
    writer.endMap();
    writeRefs(writer, refs);
    writer.endMap();
    return bytes;
}

QByteArray encodeExceptionResponse(const QString &exceptionClass, const QString &message)
{
    QCborMap exception;
    exception.insert(QLatin1String("class"), exceptionClass);
    exception.insert(QLatin1String("message"), message);
    QCborMap map;
    map.insert(QLatin1String("exception"), exception);
    return map.toCborValue().toCbor();
}

QByteArray encodePart(const QByteArray &encodedPacket)
{
    return partHead() + encodedPacket;
}

QByteArray partFrame(DataPacketWriter &packet)
{
    QByteArray frame = packet.finishWithin(kFrameHeaderSize, partHead(), {});
    writeFrameHeader(frame);
    return frame;
}

bool readPart(const QByteArray &payload, DataPacketSink &sink)
{
    QCborStreamReader reader(payload);
    const bool counted = reader.isMap() && reader.isLengthKnown(); // else ended by a break
    const quint64 entries = counted ? reader.length() : 0;
    enterMap(reader);
    if (!reader.hasNext() || !reader.isString() || readText(reader) != QLatin1String("part"))
        return false;
    qsizetype at = reader.currentOffset();
    at += readDataPacketFrom(QByteArrayView(payload).sliced(at), sink);
    if (counted ? entries > 1 : at >= payload.size() || quint8(payload[at]) != cbor::kBreak)
        throw ProtocolError("a part with more than its packet");
    if (!counted)
        ++at;
    if (at != payload.size())
        throw ProtocolError("data after the end of the part");
    return true;
}

Response decodeResponse(const QByteArray &payload)
{
    QCborStreamReader reader(payload);
    Response response;
    bool complete = false;
    enterMap(reader);
    while (reader.hasNext()) {
        const QString key = readText(reader);
        if (key == QLatin1String("result")) {
            QCborMap result;
            enterMap(reader);
            while (reader.hasNext()) {
                const QString field = readText(reader);
                if (field == QLatin1String("packet")) {
                    const qint64 start = reader.currentOffset();
                    skip(reader);
                    const QByteArray packet = payload.mid(start, reader.currentOffset() - start);
                    result.insert(field, QCborValue(QCborKnownTags::EncodedCbor, QCborValue(packet)));
                } else {
                    result.insert(field, readItem(reader));
                }
            }
            leave(reader);
            response.result = result;
            complete = true;
        } else if (key == QLatin1String("refs")) {
            enterArray(reader);
            while (reader.hasNext())
                response.refs.append(readText(reader));
            leave(reader);
        } else if (key == QLatin1String("exception")) {
            enterMap(reader);
            while (reader.hasNext()) {
                const QString field = readText(reader);
                if (field == QLatin1String("class"))
                    response.exceptionClass = readText(reader);
                else if (field == QLatin1String("message"))
                    response.exceptionMessage = readText(reader);
                else
                    skip(reader);
            }
            leave(reader);
            response.isException = true;
            complete = true;
        } else {
            skip(reader);
        }
    }
    leave(reader);
    finish(reader, payload.size());
    if (!complete)
        throw ProtocolError("a response without result or exception");
    return response;
}

} // namespace protocol
