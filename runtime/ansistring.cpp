#include "ansistring.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace Ansi {

namespace {
constexpr char kCodePage[] = "windows-1252";
constexpr char kSubstitute = '\x1a'; // what the encoder writes for an unmappable character
}

QString toUnicode(std::string_view text)
{
    QStringDecoder decoder(kCodePage);
    return decoder(QByteArrayView(text.data(), qsizetype(text.size())));
}

AnsiString fromUnicode(const QString &text)
{
    QStringEncoder encoder(kCodePage);
    if (!text.contains(QChar(kSubstitute))) {
        QByteArray bytes = encoder(text);
        bytes.replace(kSubstitute, '?');
        return bytes.toStdString();
    }
    // The text holds a real SUB character: encode piece by piece to tell them apart.
    AnsiString result;
    result.reserve(size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString piece = text.mid(i, length);
        i += length - 1;
        const QByteArray bytes = encoder(piece);
        const bool unmappable = bytes == QByteArray(1, kSubstitute) && piece != QString(QChar(kSubstitute));
        result += unmappable ? AnsiString("?") : bytes.toStdString();
    }
    return result;
}

bool representable(const QString &text)
{
    return toUnicode(fromUnicode(text)) == text;
}

bool sameTextIgnoringCase(std::string_view a, std::string_view b)
{
    return QString::compare(toUnicode(a), toUnicode(b), Qt::CaseInsensitive) == 0;
}

} // namespace Ansi
