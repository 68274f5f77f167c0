#include "combobox.h"

TComboBox::TComboBox(QWidget *parent)
    : TWinControl<QComboBox>(parent)
{
    setEditable(false);
}

AnsiString TComboBox::Text() const
{
    return currentIndex() < 0 ? AnsiString() : Ansi::fromUnicode(currentText());
}

void TComboBox::AddItem(const AnsiString &item)
{
    const QSignalBlocker blocker(this);
    const int picked = currentIndex();
    addItem(Ansi::toUnicode(item));
    setCurrentIndex(picked); // adding to an empty list must not pick the item
}
