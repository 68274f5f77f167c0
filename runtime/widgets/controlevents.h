#pragma once

#include "runtime/core/export.h"
#include "runtime/core/notifyevent.h"

#include <QObject>
#include <functional>

class QKeyEvent;
class QWidget;

using TKeyEvent = std::function<void(QObject *Sender, quint16 &Key, Qt::KeyboardModifiers Shift)>;

constexpr quint16 VK_F9 = 120;

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
