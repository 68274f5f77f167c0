#pragma once

// Counts the busy windows shown while it lives, as a user sees them come up.
#include <QApplication>
#include <QEvent>

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
