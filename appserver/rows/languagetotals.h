#pragma once

#include <QByteArray>

struct sqlite3;

// A language's translations in a SQLite database, counted through the (language,
// moment) index and kept for a while, per database file: a full count costs about
// half of reading the language in key order, too much to take on every request,
// and the plan it steers does not need it exact.
namespace languagetotals {

// How long a count stands before it is taken again.
constexpr int kLifetimeSeconds = 600;

// The language's rows in `database`; -1 when they cannot be counted (no moment index).
qint64 of(sqlite3 *database, const QByteArray &language);

} // namespace languagetotals
