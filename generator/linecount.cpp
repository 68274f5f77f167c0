#include "generator/linecount.h"

#include "hostlib/core/receivedlines.h"

#include <utility>

TerminalLineCount::TerminalLineCount(std::FILE *terminal)
    : m_terminal(terminal)
{
}

TerminalLineCount::~TerminalLineCount()
{
    endLine();
}

void TerminalLineCount::operator()(qsizetype lines)
{
    if (m_sinceUpdate.isValid() && m_sinceUpdate.elapsed() < 1000 / kUpdatesPerSecond)
        return;
    m_sinceUpdate.start();
    std::fprintf(m_terminal, "\rqlx02600-gen: %s", qPrintable(ReceivedLinesText(lines)));
    std::fflush(m_terminal);
    m_lineOpen = true;
}

void TerminalLineCount::endLine()
{
    if (std::exchange(m_lineOpen, false)) {
        std::fputc('\n', m_terminal);
        std::fflush(m_terminal);
    }
}
