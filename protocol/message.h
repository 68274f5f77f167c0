#pragma once

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

QByteArray encodeRequest(const Request &request);
// Throws ProtocolError for anything that is not a well-formed request.
Request decodeRequest(const QByteArray &payload);

// Responses: a result R ({"ok": true, "packet": P} or {"ok": false, "message"})
// with the final texts of the by-reference arguments, or an exception.
QByteArray encodeOkResponse(const QByteArray &encodedPacket, const QStringList &refs);
QByteArray encodeFailureResponse(const QString &message, const QStringList &refs);
QByteArray encodeExceptionResponse(const QString &exceptionClass, const QString &message);

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
