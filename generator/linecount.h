#pragma once

#include <QElapsedTimer>
#include <QtGlobal>
#include <cstdio>

// The count of script lines received, live on a terminal: rewritten in place at
// most kUpdatesPerSecond times a second, its line ended before any other message.
class TerminalLineCount
{
public:
    static constexpr int kUpdatesPerSecond = 10;

    explicit TerminalLineCount(std::FILE *terminal);
    ~TerminalLineCount();
    TerminalLineCount(const TerminalLineCount &) = delete;
    TerminalLineCount &operator=(const TerminalLineCount &) = delete;

    void operator()(qsizetype lines);
    // Ends the count's line, if one is shown, so that the next message starts a line.
    void endLine();

private:
    std::FILE *m_terminal;
    QElapsedTimer m_sinceUpdate;
    bool m_lineOpen = false;
};
