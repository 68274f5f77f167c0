#include "protocol/cborwrite.h"

#include <QtEndian>
#include <cstring>

namespace protocol::cbor {

qsizetype headSize(quint64 value)
{
    if (value < kValueInOneByte)
        return 1;
    if (value <= 0xff)
        return 2;
    if (value <= 0xffff)
        return 3;
    if (value <= 0xffffffff)
        return 5;
    return 9;
}

char *putHead(char *out, Major major, quint64 value)
{
    const auto first = [&](quint8 info) { *out++ = char(quint8(major) << kMajorShift | info); };
    switch (headSize(value)) {
    case 1:
        first(quint8(value));
        return out;
    case 2:
        first(kValueInOneByte);
        *out++ = char(value);
        return out;
    case 3:
        first(kValueInTwoBytes);
        qToBigEndian(quint16(value), out);
        return out + 2;
    case 5:
        first(kValueInFourBytes);
        qToBigEndian(quint32(value), out);
        return out + 4;
    default:
        first(kValueInEightBytes);
        qToBigEndian(value, out);
        return out + 8;
    }
}

void appendHead(QByteArray &bytes, Major major, quint64 value)
{
    const qsizetype at = bytes.size();
    bytes.resize(at + headSize(value));
    putHead(bytes.data() + at, major, value);
}

void appendInteger(QByteArray &bytes, qint64 value)
{
    if (value >= 0)
        appendHead(bytes, Major::Unsigned, quint64(value));
    else
        appendHead(bytes, Major::Negative, ~quint64(value)); // -1 - value
}

void appendDouble(QByteArray &bytes, double value)
{
    const qsizetype at = bytes.size();
    bytes.resize(at + 1 + qsizetype(sizeof(double)));
    bytes[at] = char(kDouble);
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    qToBigEndian(bits, bytes.data() + at + 1);
}

void appendNull(QByteArray &bytes)
{
    bytes.append(char(kNull));
}

void appendBytes(QByteArray &bytes, QByteArrayView value)
{
    appendHead(bytes, Major::Bytes, quint64(value.size()));
    bytes.append(value.data(), value.size());
}

void appendText(QByteArray &bytes, QStringView text)
{
    const QByteArray utf8 = text.toUtf8();
    appendHead(bytes, Major::Text, quint64(utf8.size()));
    bytes.append(utf8);
}

void appendOpenArray(QByteArray &bytes)
{
    bytes.append(char(quint8(Major::Array) << kMajorShift | kIndefinite));
}

void appendBreak(QByteArray &bytes)
{
    bytes.append(char(kBreak));
}

} // namespace protocol::cbor
