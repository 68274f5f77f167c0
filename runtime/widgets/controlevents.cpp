#include "runtime/widgets/controlevents.h"

#include "runtime/widgets/dispatch.h"

#include <QKeyEvent>
#include <QWidget>

quint16 VirtualKeyCode(int qtKey)
{
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return quint16(VK_F1 + qtKey - Qt::Key_F1);
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9))
        return quint16(qtKey);
    switch (qtKey) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab: case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Return: case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    default: return 0;
    }
}

TWinControlEvents::~TWinControlEvents() = default;

TWinControlEvents *TWinControlEvents::of(QWidget *widget, QWidget *stopAt)
{
    for (QWidget *w = widget; w && w != stopAt; w = w->parentWidget()) {
        if (auto *control = dynamic_cast<TWinControlEvents *>(w))
            return control;
    }
    return nullptr;
}

bool TWinControlEvents::fireKeyDown(QObject *sender, QKeyEvent *event)
{
    if (!OnKeyDown)
        return true;
    quint16 key = VirtualKeyCode(event->key());
    DispatchEvent([&] { OnKeyDown(sender, key, event->modifiers()); });
    return key != 0 || VirtualKeyCode(event->key()) == 0;
}
