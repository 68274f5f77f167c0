#include "runtime/core/ansistring.h"

#include "protocol/cp1252.h"

namespace Ansi {

QString toUnicode(std::string_view text)
{
    return protocol::cp1252::toUnicode(QByteArrayView(text.data(), qsizetype(text.size())));
}

AnsiString fromUnicode(const QString &text)
{
    return protocol::cp1252::fromUnicode(text, '?').toStdString();
}

bool representable(const QString &text)
{
    return protocol::cp1252::representable(text);
}

bool sameTextIgnoringCase(std::string_view a, std::string_view b)
{
    return QString::compare(toUnicode(a), toUnicode(b), Qt::CaseInsensitive) == 0;
}

} // namespace Ansi
