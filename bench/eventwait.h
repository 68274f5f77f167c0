#pragma once

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

// Runs the event loop until `condition` holds, at most `ms`, looking every `pollMs`;
// whether it came.
template<typename Condition>
bool runEventsUntil(Condition condition, int ms, int pollMs = 100)
{
    const QDeadlineTimer deadline(ms);
    while (!condition() && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(pollMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return condition();
}
