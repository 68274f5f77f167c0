#pragma once

#include "runtime/core/export.h"
#include "runtime/core/notifyevent.h"

#include <QObject>
#include <functional>

class QKeyEvent;
class QWidget;

using TKeyEvent = std::function<void(QObject *Sender, quint16 &Key, Qt::KeyboardModifiers Shift)>;

// Virtual key codes of the keys VirtualKeyCode knows besides letters and digits
// (whose codes are their capital letters' and digits' character codes).
constexpr quint16 VK_BACK = 8;
constexpr quint16 VK_TAB = 9;
constexpr quint16 VK_RETURN = 13;
constexpr quint16 VK_SHIFT = 16;
constexpr quint16 VK_CONTROL = 17;
constexpr quint16 VK_MENU = 18; // Alt
constexpr quint16 VK_ESCAPE = 27;
constexpr quint16 VK_SPACE = 32;
constexpr quint16 VK_PRIOR = 33; // Page Up
constexpr quint16 VK_NEXT = 34;  // Page Down
constexpr quint16 VK_END = 35;
constexpr quint16 VK_HOME = 36;
constexpr quint16 VK_LEFT = 37;
constexpr quint16 VK_UP = 38;
constexpr quint16 VK_RIGHT = 39;
constexpr quint16 VK_DOWN = 40;
constexpr quint16 VK_INSERT = 45;
constexpr quint16 VK_DELETE = 46;
constexpr quint16 VK_F1 = 112; // F2 to F24 follow it
constexpr quint16 VK_F9 = VK_F1 + 8;

// The virtual key code of a Qt key (letters, digits, F1 to F24, the usual editing keys).
QLX_EXPORT quint16 VirtualKeyCode(int qtKey);

// Events a windowed control offers besides Qt's own. Exit is fired by the form
// (TForm) when the focus moves to another control of the same form.
class QLX_EXPORT TWinControlEvents
{
public:
    virtual ~TWinControlEvents();
    TNotifyEvent OnExit;
    TKeyEvent OnKeyDown;

    // The control whose events own `widget` (itself or an ancestor), or nullptr.
    static TWinControlEvents *of(QWidget *widget, QWidget *stopAt);
    virtual QWidget *asWidget() = 0;

protected:
    // Fires OnKeyDown; false when the handler cleared the key.
    bool fireKeyDown(QObject *sender, QKeyEvent *event);
};

// A Qt widget with the control events.
template <class Base>
class TWinControl : public Base, public TWinControlEvents
{
public:
    using Base::Base;
    QWidget *asWidget() override { return this; }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (fireKeyDown(this, event))
            Base::keyPressEvent(event);
    }
};
