#include "hostlib/widgets/messages.h"

#include <QList>

void TMessages::LoadFromBytes(const QByteArray &lines)
{
    Messages.clear();
    for (QByteArray line : lines.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            Messages.push_back(line.toStdString());
    }
}

AnsiString TMessages::Msg(const AnsiString &key) const
{
    for (const AnsiString &line : Messages) {
        const size_t bar = line.find('|');
        if (bar != AnsiString::npos && line.compare(0, bar, key) == 0 && bar == key.size())
            return line.substr(bar + 1);
    }
    return AnsiString();
}
