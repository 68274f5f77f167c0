#include "runtime/widgets/maskedit.h"

#include "runtime/widgets/dispatch.h"

TMaskEdit::TMaskEdit(const QString &editMask, QWidget *parent)
    : TWinControl<QLineEdit>(parent)
{
    const QStringList parts = editMask.split(QLatin1Char(';'));
    m_mask = parts.value(0);
    m_saveLiterals = parts.value(1, QStringLiteral("1")) != QLatin1String("0");
    if (parts.size() > 2 && !parts.value(2).isEmpty())
        m_blank = parts.value(2).at(0);

    // Qt's mask letters are the other way round: '0' optional, '9' required.
    QString qtMask;
    for (qsizetype i = 0; i < m_mask.size(); ++i) {
        const QChar c = m_mask.at(i);
        if (c == QLatin1Char('9'))
            qtMask += QLatin1Char('0');
        else if (c == QLatin1Char('0'))
            qtMask += QLatin1Char('9');
        else
            qtMask += QLatin1Char('\\') + c;
    }
    setInputMask(qtMask + QLatin1Char(';') + m_blank);
    setMaxLength(int(m_mask.size()));
    m_changeSeen = displayText();

    // Qt reports an edit also when the keys left the text as it was.
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (textChangedSinceSeen() && OnChange)
            DispatchEvent([this] { OnChange(this); });
    });
}

bool TMaskEdit::textChangedSinceSeen()
{
    const QString shown = displayText();
    if (shown == m_changeSeen)
        return false;
    m_changeSeen = shown;
    return true;
}

bool TMaskEdit::isLiteral(qsizetype position) const
{
    const QChar c = m_mask.at(position);
    return c != QLatin1Char('9') && c != QLatin1Char('0');
}

AnsiString TMaskEdit::Text() const
{
    const QString shown = displayText();
    QString value;
    for (qsizetype i = 0; i < m_mask.size(); ++i) {
        if (isLiteral(i) && !m_saveLiterals)
            continue;
        const QChar c = i < shown.size() ? shown.at(i) : m_blank;
        value += (c == m_blank && !isLiteral(i)) ? QChar(QLatin1Char(' ')) : c;
    }
    bool anyEntered = false;
    for (qsizetype i = 0; i < m_mask.size() && i < shown.size(); ++i)
        anyEntered |= !isLiteral(i) && shown.at(i) != m_blank;
    if (!anyEntered)
        return AnsiString();
    while (value.endsWith(QLatin1Char(' ')))
        value.chop(1);
    return Ansi::fromUnicode(value);
}

AnsiString TMaskEdit::EditText() const
{
    return Ansi::fromUnicode(displayText());
}

void TMaskEdit::SetText(const AnsiString &text)
{
    const QString value = Ansi::toUnicode(text);
    QString shown;
    qsizetype next = 0;
    for (qsizetype i = 0; i < m_mask.size(); ++i) {
        if (isLiteral(i)) {
            shown += m_mask.at(i);
            if (m_saveLiterals)
                ++next;
        } else {
            shown += next < value.size() ? value.at(next) : m_blank;
            ++next;
        }
    }
    setText(shown);
    if (textChangedSinceSeen() && OnChange)
        OnChange(this);
}
