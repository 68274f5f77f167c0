#include "runtime/widgets/combobox.h"

#include <QAbstractItemView>
#include <QStyledItemDelegate>
#include <QStylePainter>

namespace {

// Items of the list as high as the combo box says.
class FixedHeightDelegate : public QStyledItemDelegate
{
public:
    FixedHeightDelegate(const TComboBox &owner, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_owner(owner)
    {
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        if (m_owner.ItemHeight() > 0)
            size.setHeight(m_owner.ItemHeight());
        return size;
    }

private:
    const TComboBox &m_owner;
};

} // namespace

TComboBox::TComboBox(QWidget *parent)
    : TWinControl<QComboBox>(parent)
{
    setEditable(false);
    view()->setItemDelegate(new FixedHeightDelegate(*this, view()));
}

void TComboBox::SetItemHeight(int height)
{
    m_itemHeight = height;
    view()->doItemsLayout();
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

void TComboBox::paintEvent(QPaintEvent *event)
{
    if (isEditable()) {
        QComboBox::paintEvent(event);
        return;
    }
    // Qt paints a list the user cannot type in as a button, in the Button colour:
    // its field gets the entry's background here.
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.fillRect(style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this),
                     palette().color(QPalette::Base));
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}
