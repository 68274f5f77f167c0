#pragma once

#include "runtime/core/export.h"

#include <QColor>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>

// Plain controls that take no focus and fire no events of the runtime's own.
class QLX_EXPORT TLabel : public QLabel
{
public:
    using QLabel::QLabel;
    ~TLabel() override;
};

// A separator line along the bottom of its area.
class QLX_EXPORT TBevel : public QFrame
{
public:
    explicit TBevel(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

class QLX_EXPORT TPanel : public QFrame
{
public:
    explicit TPanel(QWidget *parent = nullptr);
};

class QLX_EXPORT TGroupBox : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;
    ~TGroupBox() override;
};

// A captioned frame; its buttons may be siblings laid over it. The frame's top
// line runs through the middle of the caption, so that buttons placed from the
// caption's lower edge on are inside the frame, clear of its line, whatever the
// style would do with a group box's title.
class QLX_EXPORT TRadioGroup : public QGroupBox
{
public:
    explicit TRadioGroup(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The screens' font: 8 points (11 pixels), MS Sans Serif or the nearest face.
QLX_EXPORT QFont ScreenFont();
// The controls' own bold caption font: 8 points (11 pixels), MS Sans Serif or
// the nearest sans-serif face the machine has.
QLX_EXPORT QFont OwnBoldFont();
// The information background (pale yellow, the tooltip colour) of entry fields.
constexpr QRgb clInfoBk = 0xFFFFE1;
// Gives an entry field, drop-down lists included, the information background.
QLX_EXPORT void SetInfoBackground(QWidget *entry);
