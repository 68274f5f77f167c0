#pragma once

// The busy windows as a user meets them: counted as they come up, or answered.
#include <QApplication>
#include <QEvent>
#include <QTest>
#include <QTimer>
#include <QWidget>

class BusyWindowShows : public QObject
{
public:
    BusyWindowShows() { qApp->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->objectName() == QLatin1String("busyWindow"))
            ++count;
        return false;
    }
};

// Presses Esc on the busy window the first time one shows while it lives, as a
// user who wants a wait to end.
class EscapeOnBusyWindow
{
public:
    EscapeOnBusyWindow()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget *window : QApplication::topLevelWidgets()) {
                if (!pressed && window->objectName() == QLatin1String("busyWindow") && window->isVisible()) {
                    pressed = true;
                    QTest::keyClick(window, Qt::Key_Escape);
                }
            }
        });
        m_timer.start(20);
    }
    bool pressed = false;

private:
    QTimer m_timer;
};
