#pragma once

#include <QString>

// One translation as one SQL statement on one line: an upsert in the syntax SQLite
// and PostgreSQL share. Texts are quoted with their single quotes doubled; a line
// break is written as char(13)/char(10) (SQLite's; PostgreSQL calls it chr), so the
// statement never spans two lines.
struct Translation
{
    QString table;
    QString key;
    QString column;
    QString language;
    QString text;
    double changedAt = 0; // day count from 30 December 1899
};

QString scriptLine(const Translation &translation);
// A text as an SQL literal expression.
QString sqlText(const QString &text);
