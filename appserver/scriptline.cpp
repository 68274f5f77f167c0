#include "scriptline.h"

#include <QDate>
#include <cmath>

QString sqlText(const QString &text, ScriptDialect dialect)
{
    const QLatin1String lineBreak(dialect == ScriptDialect::PostgreSQL ? " || chr(%1)" : " || char(%1)");
    QString expression;
    QString literal;
    const auto flush = [&] {
        if (!expression.isEmpty())
            expression += QStringLiteral(" || ");
        expression += QLatin1Char('\'') + literal + QLatin1Char('\'');
        literal.clear();
    };
    for (const QChar c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            flush();
            expression += QString(lineBreak).arg(c.unicode());
            continue;
        }
        if (c == QLatin1Char('\''))
            literal += QLatin1Char('\'');
        literal += c;
    }
    if (!literal.isEmpty() || expression.isEmpty() || expression.endsWith(QLatin1Char(')')))
        flush();
    return expression;
}

namespace {

// A day count as a PostgreSQL timestamp literal, to the microsecond.
QString timestampLiteral(double dayCount)
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
    return text + QLatin1Char('\'');
}

} // namespace

QString scriptLine(const Translation &translation, ScriptDialect dialect)
{
    const QString changedAt = dialect == ScriptDialect::PostgreSQL ? timestampLiteral(translation.changedAt)
                                                                   : QString::number(translation.changedAt, 'g', 17);
    return QStringLiteral("INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) "
                          "VALUES (%1, %2, %3, %4, %5, %6) ON CONFLICT (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA) "
                          "DO UPDATE SET DSTRADUCAO = excluded.DSTRADUCAO, DTALTERACAO = excluded.DTALTERACAO;")
        .arg(sqlText(translation.table, dialect), sqlText(translation.key, dialect), sqlText(translation.column, dialect),
             sqlText(translation.language, dialect), sqlText(translation.text, dialect), changedAt);
}
