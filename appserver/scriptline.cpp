#include "scriptline.h"

QString sqlText(const QString &text)
{
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
            expression += QStringLiteral(" || char(%1)").arg(c.unicode());
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

QString scriptLine(const Translation &translation)
{
    return QStringLiteral("INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) "
                          "VALUES (%1, %2, %3, %4, %5, %6) ON CONFLICT (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA) "
                          "DO UPDATE SET DSTRADUCAO = excluded.DSTRADUCAO, DTALTERACAO = excluded.DTALTERACAO;")
        .arg(sqlText(translation.table), sqlText(translation.key), sqlText(translation.column),
             sqlText(translation.language), sqlText(translation.text),
             QString::number(translation.changedAt, 'g', 17));
}
