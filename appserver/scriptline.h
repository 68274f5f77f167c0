#pragma once

#include <QString>

// One translation as one SQL statement on one line: an upsert that applies as it
// stands on a database of the dialect's kind. Texts are quoted with their single
// quotes doubled; a line break is written as a function call (char(10) in SQLite,
// chr(10) in PostgreSQL), so the statement never spans two lines. The moment is a
// day count in SQLite and a timestamp in PostgreSQL, as each schema stores it.
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

QString scriptLine(const Translation &translation, ScriptDialect dialect);
// A text as an SQL literal expression.
QString sqlText(const QString &text, ScriptDialect dialect);
