#include "combobox.h"

#include <QAbstractItemView>
#include <QStyledItemDelegate>

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
