#pragma once

#include <QString>

// A database error as the client sees it: a short Portuguese message with a
// reference number, while the driver's full text goes to the server's log under
// that number. The client never sees the database's own text (statements, names).
namespace DatabaseFailure {

// The exception class the client receives.
inline constexpr char kExceptionClass[] = "EDatabaseError";

// Logs `detail` on standard error under a new reference and returns the client's
// message: `summary` (a sentence without its full stop) and the reference.
QString report(const QString &summary, const QString &detail);
// report() with the summary of a failed statement.
QString reportStatement(const QString &detail);

} // namespace DatabaseFailure
