#pragma once

#include "runtime/core/ansistring.h"

// True when the text holds only blanks, or nothing.
QLX_EXPORT bool EmptyString(const AnsiString &text);
// A piece of a number as `width` characters, right-aligned with leading zeros;
// a blank piece gives the empty text.
QLX_EXPORT AnsiString Ajusta(const AnsiString &piece, int width);
