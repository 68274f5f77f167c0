#pragma once

#include "protocol/datapacket.h"
#include "protocol/frame.h"

#include <QByteArray>
#include <QCborValue>
#include <QList>
#include <QStringList>

namespace protocol {

// A call's argument: text by value, text by reference (its final text comes back
// in the response's "refs"), or a date-time as an OLE day count.
enum class ArgumentKind { Str, StrRef, Date };

struct Argument
{
    ArgumentKind kind = ArgumentKind::Str;
    QString text;
    double date = 0;
};

struct Request
{
    QString object;
    QString method;
    QList<Argument> args;
};

// Bounds a request is read against. Decoding keeps only what the request's shape
// asks for, so a request costs about its own size; anything past a bound is refused.
constexpr qsizetype kRequestArgumentLimit = 16;             // arguments of one call
constexpr qsizetype kRequestTextLimit = 4 * 1024 * 1024;    // UTF-8 bytes of one text
constexpr int kRequestNestingLimit = 8;                     // arrays and maps inside each other
constexpr qsizetype kRequestItemLimit = 1024;               // data items in the whole request
// The day counts a date argument may hold: from 1 January of year 1 up to, not
// including, 1 January 10000 (days since 30 December 1899, counted straight through
// before it). Anything else, NaN and infinities included, is refused.
constexpr double kEarliestDayCount = -693593;
constexpr double kDayCountEnd = 2958466;

QByteArray encodeRequest(const Request &request);
// Reads a request streaming, against its documented shape and the bounds above;
// unknown keys are skipped without being kept. Throws ProtocolError for anything else.
Request decodeRequest(const QByteArray &payload);

// Responses: a result R ({"ok": true, "packet": P} or {"ok": false, "message"})
// with the final texts of the by-reference arguments, or an exception.
QByteArray encodeOkResponse(const QByteArray &encodedPacket, const QStringList &refs);
// Head room a packet's writer keeps for the frame header and a part's head: a part
// is then composed around its packet in the packet's own buffer, from its start,
// and sent from it. The longer head of an ok response moves its packet once.
constexpr qsizetype kMessageHeadRoom = kFrameHeaderSize + 6;
// The ok response around the packet written with kMessageHeadRoom ahead of it, as
// a whole frame in the packet's buffer.
QByteArray okResponseFrame(DataPacketWriter &packet, const QStringList &refs);
QByteArray encodeFailureResponse(const QString &message, const QStringList &refs);
QByteArray encodeExceptionResponse(const QString &exceptionClass, const QString &message);
// The exception a TLS server answers a client it will not serve with: one that
// spoke plaintext, or whose certificate it refused. The message gives the reason.
inline constexpr char kTlsRefusedClass[] = "ETlsRefused";

// A large answer travels as parts, {"part": P}, each a data packet of some of
// its rows, before the final response; the rows of the final response's packet
// come after those of the parts.
QByteArray encodePart(const QByteArray &encodedPacket);
// The same around the packet written with kMessageHeadRoom ahead of it, as a whole
// frame in the packet's buffer.
QByteArray partFrame(DataPacketWriter &packet);
// True when the payload is a part: its packet's rows have then gone to the sink.
// Throws ProtocolError for a malformed part.
bool readPart(const QByteArray &payload, DataPacketSink &sink);

struct Response
{
    bool isException = false;
    QString exceptionClass;
    QString exceptionMessage;
    // R, with the packet kept encoded: a CBOR tag 24 (encoded CBOR item) over its bytes.
    QCborValue result;
    QStringList refs;
};

// Decodes streaming; the packet is not decoded, only cut out. Throws ProtocolError.
Response decodeResponse(const QByteArray &payload);

} // namespace protocol
