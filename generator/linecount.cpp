#include "linecount.h"

#include <QLocale>
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
    const QString text = QLocale(QLocale::Portuguese, QLocale::Brazil).toString(lines);
    std::fprintf(m_terminal, "\rqlx02600-gen: %s linhas recebidas", qPrintable(text));
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
