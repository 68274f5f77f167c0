#include "runtime/widgets/edit.h"

#include "runtime/widgets/dispatch.h"

#include <QValidator>

namespace {

class SingleByteValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        return Ansi::representable(input) ? Acceptable : Invalid;
    }
};

} // namespace

TEdit::TEdit(QWidget *parent)
    : TWinControl<QLineEdit>(parent)
{
    setValidator(new SingleByteValidator(this));
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
    const QString value = Ansi::toUnicode(text);
    if (value == this->text())
        return;
    setText(value);
    if (OnChange)
        OnChange(this);
}
