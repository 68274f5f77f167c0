#include "appserver/service/systemdnotify.h"

#include <QTimer>

#include <chrono>
#include <systemd/sd-daemon.h>

namespace SystemdNotify {

void ready()
{
    sd_notify(0, "READY=1\nSTATUS=serving");
}

void reloading()
{
    sd_notify(0, "RELOADING=1");
}

void stopping(const QString &status)
{
    sd_notify(0, QStringLiteral("STOPPING=1\nSTATUS=%1").arg(status).toUtf8().constData());
}

void keepWatchdog(QObject *parent)
{
    uint64_t microseconds = 0;
    if (sd_watchdog_enabled(0, &microseconds) <= 0 || microseconds == 0)
        return;
    auto *timer = new QTimer(parent);
    timer->setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(microseconds / 2)));
    QObject::connect(timer, &QTimer::timeout, [] { sd_notify(0, "WATCHDOG=1"); });
    timer->start();
}

} // namespace SystemdNotify
