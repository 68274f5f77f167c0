#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QTextStream>

// The server's log is its standard error (the journal under systemd). Every line
// it writes, its own and Qt's, goes through one message handler, which writes it
// in one piece whatever other sessions' threads write. A line break inside a
// message is written as " | " and any other control character escaped, so that one
// entry stays one line and no text a client chose can start a line of its own.
Q_DECLARE_LOGGING_CATEGORY(serverLog)

namespace ServerLog {

// Sends every message of the process through the server's log line.
void install();

// One line of the server's log.
void write(const QString &line);

// A line built with <<, written when the statement that built it ends.
class Line
{
public:
    Line() = default;
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;
    ~Line()
    {
        m_stream.flush();
        write(m_text);
    }
    template<typename T>
    Line &operator<<(const T &value)
    {
        m_stream << value;
        return *this;
    }

private:
    QString m_text;
    QTextStream m_stream { &m_text };
};

// A text a client chose, as a log value: quoted, at most kMostShown characters,
// with quotes, backslashes and anything outside printable ASCII escaped.
constexpr qsizetype kMostShown = 64;
QString quoted(const QString &clientText);

} // namespace ServerLog
