#pragma once

#include "runtime/core/export.h"

#include <QString>
#include <string>
#include <string_view>

// Single-byte text in the Windows-1252 code page, as the screen, the record sets
// and the script file hold it. Unicode appears only at widgets and call arguments.
using AnsiString = std::string;

namespace Ansi {

QLX_EXPORT QString toUnicode(std::string_view text);
// A character with no Windows-1252 byte becomes "?".
QLX_EXPORT AnsiString fromUnicode(const QString &text);
// True when every character of the text has a Windows-1252 byte.
QLX_EXPORT bool representable(const QString &text);
// Case-insensitive whole-value comparison, letters compared as the user reads them.
QLX_EXPORT bool sameTextIgnoringCase(std::string_view a, std::string_view b);

} // namespace Ansi
