#pragma once

// A day count as the SQLite script writes it: 17 significant digits, as printf's
// "%.17g" writes them (rounded half to even, trailing zeros and a bare point
// dropped), which SQLite reads back as the same double.

// The most bytes the text takes.
constexpr int kDayCountRoom = 32;

// Writes the day count at `out`, which has kDayCountRoom bytes; returns the end.
char *putDayCount(char *out, double dayCount);
