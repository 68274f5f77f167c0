#include "scriptline.h"

#include <cp1252.h>

#include <QDate>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

constexpr char kHead[] = "INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) VALUES (";
constexpr char kTail[] = ") ON CONFLICT (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA) "
                         "DO UPDATE SET DSTRADUCAO = excluded.DSTRADUCAO, DTALTERACAO = excluded.DTALTERACAO;";

// How each dialect breaks a quoted text for a line break.
struct LineBreaks
{
    std::string_view lineFeed;
    std::string_view carriageReturn;
};
constexpr LineBreaks kSQLiteBreaks { "' || char(10) || '", "' || char(13) || '" };
constexpr LineBreaks kPostgreSQLBreaks { "' || chr(10) || '", "' || chr(13) || '" };
// The most bytes one UTF-16 code unit can become: a line break.
constexpr qsizetype kWidestUnit = qsizetype(kSQLiteBreaks.lineFeed.size());
// The most bytes the moment can take, as a number or as a timestamp literal.
constexpr qsizetype kMomentRoom = 48;

char *put(char *out, std::string_view bytes)
{
    std::memcpy(out, bytes.data(), bytes.size());
    return out + bytes.size();
}

// A text as an SQL literal expression: quoted, quotes doubled, line breaks as
// function calls joined with ||. nullptr when a character has no byte.
char *putText(char *out, QStringView text, const LineBreaks &breaks)
{
    *out++ = '\'';
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit == u'\'') {
            out = put(out, "''");
        } else if (unit == u'\n') {
            out = put(out, breaks.lineFeed);
        } else if (unit == u'\r') {
            out = put(out, breaks.carriageReturn);
        } else {
            const int byte = protocol::cp1252::byteOf(unit); // a surrogate has none
            if (byte < 0)
                return nullptr;
            *out++ = char(byte);
        }
    }
    *out++ = '\'';
    return out;
}

// A day count as a PostgreSQL timestamp literal, to the microsecond.
QByteArray timestampLiteral(double dayCount)
{
    constexpr qint64 kMicrosecondsPerDay = 86'400'000'000;
    qint64 days = qint64(std::floor(dayCount));
    qint64 micro = std::llround((dayCount - std::floor(dayCount)) * double(kMicrosecondsPerDay));
    if (micro >= kMicrosecondsPerDay) {
        ++days;
        micro -= kMicrosecondsPerDay;
    }
    const QDate date = QDate(1899, 12, 30).addDays(days);
    const qint64 seconds = micro / 1'000'000;
    QString text = QStringLiteral("TIMESTAMP '%1 %2:%3:%4")
                       .arg(date.toString(QStringLiteral("yyyy-MM-dd")))
                       .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                       .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                       .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (micro % 1'000'000 != 0)
        text += QStringLiteral(".%1").arg(micro % 1'000'000, 6, 10, QLatin1Char('0'));
    return (text + QLatin1Char('\'')).toLatin1();
}

} // namespace

bool writeScriptLine(QByteArray &line, const Translation &translation, ScriptDialect dialect)
{
    const LineBreaks &breaks = dialect == ScriptDialect::PostgreSQL ? kPostgreSQLBreaks : kSQLiteBreaks;
    const QString *texts[] = { &translation.table, &translation.key, &translation.column, &translation.language,
                               &translation.text };
    qsizetype room = qsizetype(sizeof(kHead) + sizeof(kTail)) + kMomentRoom;
    for (const QString *text : texts)
        room += 4 + text->size() * kWidestUnit;
    line.resize(room);
    char *out = line.data();
    out = put(out, kHead);
    for (const QString *text : texts) {
        out = putText(out, *text, breaks);
        if (!out)
            return false;
        out = put(out, ", ");
    }
    if (dialect == ScriptDialect::PostgreSQL)
        out = put(out, std::string_view(timestampLiteral(translation.changedAt)));
    else
        out = std::to_chars(out, out + kMomentRoom, translation.changedAt).ptr;
    out = put(out, kTail);
    line.resize(out - line.constData());
    return true;
}
