#include "hostlib/core/stringroutines.h"

#include <algorithm>

bool EmptyString(const AnsiString &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; });
}

AnsiString Ajusta(const AnsiString &piece, int width)
{
    const size_t first = piece.find_first_not_of(' ');
    if (first == AnsiString::npos)
        return AnsiString();
    const size_t last = piece.find_last_not_of(' ');
    AnsiString trimmed = piece.substr(first, last - first + 1);
    if (int(trimmed.size()) < width)
        trimmed.insert(0, size_t(width) - trimmed.size(), '0');
    return trimmed;
}
