#pragma once

#include <QByteArray>
#include <QString>

// The Windows-1252 code page, decided character by character against its table.
namespace protocol::cp1252 {

// The byte of a character, or -1 when the code page has none.
int byteOf(char32_t character);
// The code page's bytes of a text. A character it has no byte for (a control of
// U+0080..U+009F other than those the code page reuses, anything past U+00FF
// outside its table, a lone surrogate) becomes `substitute`; `complete`, when given,
// tells whether every character had its byte.
QByteArray fromUnicode(QStringView text, char substitute, bool *complete = nullptr);
// Every byte has a character; the five unassigned bytes (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) stand for the controls of the same value.
QString toUnicode(QByteArrayView bytes);
// True when every character of the text has a byte.
bool representable(QStringView text);

} // namespace protocol::cp1252
