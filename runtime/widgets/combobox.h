#pragma once

#include "runtime/core/ansistring.h"
#include "runtime/widgets/controlevents.h"

#include <QComboBox>

// A drop-down list: the user picks one of its items and cannot type. Its field
// shows the palette's Base colour, as an entry does.
class QLX_EXPORT TComboBox : public TWinControl<QComboBox>
{
public:
    explicit TComboBox(QWidget *parent = nullptr);

    // The picked item's text, or the empty text when none is picked.
    AnsiString Text() const;
    void AddItem(const AnsiString &item);

    // The height in pixels of each item of the dropped-down list.
    int ItemHeight() const { return m_itemHeight; }
    void SetItemHeight(int height);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_itemHeight = 0; // 0: the style's own
};
