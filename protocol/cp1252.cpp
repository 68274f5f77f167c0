#include "protocol/cp1252.h"

#include <array>

namespace protocol::cp1252 {

namespace {

constexpr char16_t kUnassigned = 0;

// The characters of bytes 0x80..0x9F; the rest of the code page is Latin-1.
constexpr std::array<char16_t, 32> kHighControls {
    0x20AC, kUnassigned, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, kUnassigned, 0x017D, kUnassigned,
    kUnassigned, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, kUnassigned, 0x017E, 0x0178,
};

} // namespace

int byteOf(char32_t character)
{
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF))
        return int(character);
    for (size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] != kUnassigned && kHighControls[i] == character)
            return int(0x80 + i);
    }
    return -1;
}

QByteArray fromUnicode(QStringView text, char substitute, bool *complete)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    bool every = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t character = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            character = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        // A lone surrogate is left as it is: it has no byte.
        const int byte = byteOf(character);
        every = every && byte >= 0;
        bytes.append(byte >= 0 ? char(byte) : substitute);
    }
    if (complete)
        *complete = every;
    return bytes;
}

QString toUnicode(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const char16_t mapped = byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : char16_t(byte);
        *out++ = QChar(mapped == kUnassigned ? char16_t(byte) : mapped);
    }
    return text;
}

bool representable(QStringView text)
{
    bool complete = false;
    fromUnicode(text, '?', &complete);
    return complete;
}

} // namespace protocol::cp1252
