#include "protocol/answerstart.h"

#include <QString>
#include <QtEndian>

namespace protocol {

namespace {

// The most of a foreign answer shown in a message.
constexpr qsizetype kShownBytes = 64;

} // namespace

bool couldStartAnswer(QByteArrayView firstBytes, qint64 frameLimit)
{
    if (firstBytes.size() < kAnswerStartSize)
        return false;
    const qint64 length = qFromBigEndian<quint32>(firstBytes.data());
    const auto head = quint8(firstBytes.at(4));
    // CBOR major type 5: a map of 0 to 23 items, or with a 1- to 8-byte count, or indefinite.
    const bool map = (head >= 0xA0 && head <= 0xBB) || head == 0xBF;
    return length >= 1 && length <= frameLimit && map;
}

QString printableStart(QByteArrayView firstBytes)
{
    QString text;
    for (const char byte : firstBytes.first(std::min(firstBytes.size(), kShownBytes)))
        text += byte >= 0x20 && byte < 0x7F ? QLatin1Char(byte) : QLatin1Char('.');
    return text;
}

} // namespace protocol
