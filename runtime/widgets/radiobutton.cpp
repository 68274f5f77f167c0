#include "runtime/widgets/radiobutton.h"

#include "runtime/widgets/dispatch.h"

TRadioButton::TRadioButton(const QString &caption, QWidget *parent)
    : TWinControl<QRadioButton>(caption, parent)
{
    const auto updateTabStop = [this](bool checked) {
        setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus);
    };
    updateTabStop(isChecked());
    connect(this, &QRadioButton::toggled, this, updateTabStop);
    connect(this, &QRadioButton::clicked, this, [this] {
        if (OnClick)
            DispatchEvent([this] { OnClick(this); });
    });
}
