#pragma once

#include <QByteArray>
#include <string_view>

// One translation as one SQL statement on one line: an upsert that applies as it
// stands on a database of the dialect's kind. Texts are quoted with their single
// quotes doubled; a line break is written as a function call (char(10) in SQLite,
// chr(10) in PostgreSQL), so the statement never spans two lines. The moment is a
// day count in SQLite, written with 17 significant digits, and a timestamp literal
// in PostgreSQL, as each schema stores it.
struct Translation
{
    // Texts as the database gives them: UTF-8 bytes.
    std::string_view table;
    std::string_view key;
    std::string_view column;
    std::string_view language;
    std::string_view text;
    double changedAt = 0; // day count from 30 December 1899
};

enum class ScriptDialect { SQLite, PostgreSQL };

// Moments a script line can carry: from 1 January of year 1 to the last microsecond
// of year 9999, as day counts. Both dialects take every moment in this range.
constexpr double kFirstWritableDay = -693593; // 0001-01-01
constexpr double kEndOfWritableDays = 2958466; // 10000-01-01, excluded

enum class LineFault { None, NotWindows1252, MomentNotWritable, HoldsNul };

// The most bytes the translation's line can take.
qsizetype scriptLineRoom(const Translation &translation);

// Writes the translation's line as Windows-1252 bytes at `out`, which has
// scriptLineRoom() bytes, and sets `end` past it. A text that is not UTF-8 or
// holds a character without a Windows-1252 byte, or a moment outside the writable
// range (NaN and infinities included), writes no whole line and says which. A
// text holding a NUL writes the line and says so: command-line tools end a line
// at a NUL, so it is no line for a script.
LineFault writeScriptLine(char *out, const Translation &translation, ScriptDialect dialect, char *&end);
// The same over `line` (whose capacity is kept for the next one); no line on a fault.
LineFault writeScriptLine(QByteArray &line, const Translation &translation, ScriptDialect dialect);
