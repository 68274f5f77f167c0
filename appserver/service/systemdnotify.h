#pragma once

#include <QObject>

class QTimer;

// The server's state told to systemd (Type=notify); without NOTIFY_SOCKET, as when
// run by hand, each call does nothing.
namespace SystemdNotify {

void ready();
void reloading();
void stopping(const QString &status);

// While systemd asks for a watchdog (WatchdogSec=), pings it from the event loop at
// half the interval, so that a stuck loop gets the server restarted; the timer is
// the parent's.
void keepWatchdog(QObject *parent);

} // namespace SystemdNotify
