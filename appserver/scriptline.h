#pragma once

#include <QByteArray>
#include <QString>

// One translation as one SQL statement on one line: an upsert that applies as it
// stands on a database of the dialect's kind. Texts are quoted with their single
// quotes doubled; a line break is written as a function call (char(10) in SQLite,
// chr(10) in PostgreSQL), so the statement never spans two lines. The moment is a
// day count in SQLite, the shortest number that reads back as the same value, and
// a timestamp in PostgreSQL, as each schema stores it.
struct Translation
{
    QString table;
    QString key;
    QString column;
    QString language;
    QString text;
    double changedAt = 0; // day count from 30 December 1899
};

enum class ScriptDialect { SQLite, PostgreSQL };

// Writes the translation's line as Windows-1252 bytes over `line` (whose capacity
// is kept for the next one); false when a text holds a character without such a byte.
bool writeScriptLine(QByteArray &line, const Translation &translation, ScriptDialect dialect);
