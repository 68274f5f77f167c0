#pragma once

#include "runtime/widgets/controlevents.h"

#include <QRadioButton>

// A radio button; of a group only the checked one is a tab stop.
class QLX_EXPORT TRadioButton : public TWinControl<QRadioButton>
{
public:
    explicit TRadioButton(const QString &caption, QWidget *parent = nullptr);

    bool Checked() const { return isChecked(); }
    void SetChecked(bool checked) { setChecked(checked); }

    TNotifyEvent OnClick;
};
