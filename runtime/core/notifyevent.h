#pragma once

#include <QObject>
#include <functional>

// An event handler that is told only who raised the event.
using TNotifyEvent = std::function<void(QObject *Sender)>;
