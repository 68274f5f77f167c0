#pragma once

#include "runtime/core/ansistring.h"

#include <initializer_list>

// Fills the pattern's "%s" with the arguments in order; "%%" is a percent sign.
// Arguments the pattern has no place for are left out.
QLX_EXPORT AnsiString Format(const AnsiString &pattern, std::initializer_list<AnsiString> arguments);
