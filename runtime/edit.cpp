#include "edit.h"

#include "dispatch.h"

TEdit::TEdit(QWidget *parent)
    : TWinControl<QLineEdit>(parent)
{
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (OnChange)
            DispatchEvent([this] { OnChange(this); });
    });
}

AnsiString TEdit::Text() const
{
    return Ansi::fromUnicode(text());
}

void TEdit::SetText(const AnsiString &text)
{
    setText(Ansi::toUnicode(text));
    if (OnChange)
        OnChange(this);
}
