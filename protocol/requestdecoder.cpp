// A request read streaming against its shape, {"object", "method", "args": [{"kind",
// "value"}...]}: only the texts and numbers of that shape are kept, and every item
// read counts against the request bounds before anything is allocated for it.
#include "protocol/message.h"

#include "protocol/protocolerror.h"

#include <QCborStreamReader>
#include <string>

namespace protocol {

namespace {

class RequestReader
{
public:
    explicit RequestReader(const QByteArray &payload)
        : m_payload(payload)
        , m_reader(payload)
    {
    }

    Request request()
    {
        Request request;
        bool haveObject = false;
        bool haveMethod = false;
        bool haveArgs = false;
        enter(m_reader.isMap(), "a request must be a map");
        while (m_reader.hasNext()) {
            const QString key = text("a key");
            if (key == QLatin1String("object")) {
                once(haveObject, "object");
                request.object = text("the object");
            } else if (key == QLatin1String("method")) {
                once(haveMethod, "method");
                request.method = text("the method");
            } else if (key == QLatin1String("args")) {
                once(haveArgs, "args");
                request.args = arguments();
            } else {
                skip();
            }
        }
        leave();
        if (!haveObject || !haveMethod || !haveArgs)
            throw ProtocolError("a request needs object, method and args");
        if (m_reader.currentOffset() != m_payload.size())
            throw ProtocolError("data after the end of the request");
        return request;
    }

private:
    void check()
    {
        if (m_reader.lastError() != QCborError::NoError)
            throw ProtocolError("malformed CBOR: " + m_reader.lastError().toString().toStdString());
    }

    void count()
    {
        check();
        if (++m_items > kRequestItemLimit)
            throw ProtocolError("a request of more than " + std::to_string(kRequestItemLimit) + " items");
    }

    void enter(bool rightType, const char *failure)
    {
        count();
        if (!rightType)
            throw ProtocolError(failure);
        if (m_reader.containerDepth() >= kRequestNestingLimit)
            throw ProtocolError("a request nested deeper than " + std::to_string(kRequestNestingLimit) + " levels");
        if (!m_reader.enterContainer())
            check();
    }

    void leave()
    {
        if (!m_reader.leaveContainer())
            check();
    }

    static void once(bool &seen, const char *key)
    {
        if (seen)
            throw ProtocolError(std::string("a request with two ") + key);
        seen = true;
    }

    // A whole text or byte string, chunk by chunk, refused as soon as it would pass the
    // text bound.
    template <typename Value, typename Chunk>
    Value whole(Chunk (QCborStreamReader::*readChunk)())
    {
        Value value;
        qint64 size = 0;
        for (;;) {
            const qint64 chunkSize = m_reader.currentStringChunkSize();
            if (chunkSize > 0 && (size += chunkSize) > kRequestTextLimit)
                throw ProtocolError("a text of more than " + std::to_string(kRequestTextLimit) + " bytes");
            const Chunk chunk = (m_reader.*readChunk)();
            if (chunk.status == QCborStreamReader::EndOfString)
                return value;
            if (chunk.status != QCborStreamReader::Ok) {
                check();
                throw ProtocolError("a string could not be read");
            }
            value += chunk.data;
        }
    }

    QString text(const char *what)
    {
        count();
        if (!m_reader.isString())
            throw ProtocolError(std::string(what) + " must be a text");
        return whole<QString>(&QCborStreamReader::readString);
    }

    QList<Argument> arguments()
    {
        QList<Argument> args;
        enter(m_reader.isArray(), "args must be an array");
        while (m_reader.hasNext()) {
            if (args.size() == kRequestArgumentLimit)
                throw ProtocolError("a call of more than " + std::to_string(kRequestArgumentLimit) + " arguments");
            args.append(argument());
        }
        leave();
        return args;
    }

    Argument argument()
    {
        enum class Value { None, Text, Number };
        Value value = Value::None;
        Argument argument;
        QString kind;
        bool haveKind = false;
        bool haveValue = false;
        enter(m_reader.isMap(), "an argument must be a map");
        while (m_reader.hasNext()) {
            const QString key = text("a key");
            if (key == QLatin1String("kind")) {
                once(haveKind, "kinds");
                kind = text("an argument's kind");
            } else if (key == QLatin1String("value")) {
                once(haveValue, "values");
                count();
                if (m_reader.isString()) {
                    argument.text = whole<QString>(&QCborStreamReader::readString);
                    value = Value::Text;
                } else if (m_reader.isDouble() || m_reader.isFloat() || m_reader.isFloat16()) {
                    argument.date = m_reader.isDouble() ? m_reader.toDouble()
                        : m_reader.isFloat()            ? double(m_reader.toFloat())
                                                        : double(m_reader.toFloat16());
                    m_reader.next();
                    value = Value::Number;
                    // Not >= and <: a NaN fails both.
                    if (!(argument.date >= kEarliestDayCount && argument.date < kDayCountEnd))
                        throw ProtocolError("a day count outside the years 1 to 9999");
                } else {
                    throw ProtocolError("an argument's value must be a text or a day count");
                }
            } else {
                skip();
            }
        }
        leave();
        if (kind == QLatin1String("str") || kind == QLatin1String("strref")) {
            if (value != Value::Text)
                throw ProtocolError("a text argument must hold a text");
            argument.kind = kind == QLatin1String("str") ? ArgumentKind::Str : ArgumentKind::StrRef;
        } else if (kind == QLatin1String("date")) {
            if (value != Value::Number)
                throw ProtocolError("a date argument must hold a day count");
            argument.kind = ArgumentKind::Date;
        } else {
            throw ProtocolError("unknown argument kind " + kind.left(64).toStdString());
        }
        return argument;
    }

    // The value of a key the request does not use: read through, nothing kept.
    void skip()
    {
        while (m_reader.isTag()) {
            count();
            if (!m_reader.next())
                check();
        }
        if (m_reader.isArray() || m_reader.isMap()) {
            enter(true, "");
            while (m_reader.hasNext())
                skip(); // as deep as the nesting bound at most
            leave();
        } else if (m_reader.isString()) {
            count();
            whole<QString>(&QCborStreamReader::readString);
        } else if (m_reader.isByteArray()) {
            count();
            whole<QByteArray>(&QCborStreamReader::readByteArray);
        } else {
            count();
            if (!m_reader.next())
                check();
        }
    }

    const QByteArray &m_payload;
    QCborStreamReader m_reader;
    qsizetype m_items = 0;
};

} // namespace

Request decodeRequest(const QByteArray &payload)
{
    return RequestReader(payload).request();
}

} // namespace protocol
