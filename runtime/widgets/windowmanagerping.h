#pragma once

#include "export.h"

#include <QPointer>
#include <vector>

class QWidget;

// While the program waits for the server without running its event loop, the
// window manager's pings (_NET_WM_PING) go unanswered and it would take the
// windows for frozen (and a resize would wait on their redrawing). For that time
// the application's windows stop offering the ping and the sync protocols, so the
// window manager just waits; each window gets its protocols back at the end.
// Nothing happens off X11.
class QLX_EXPORT TWindowManagerPingPause
{
public:
    TWindowManagerPingPause();
    ~TWindowManagerPingPause();
    TWindowManagerPingPause(const TWindowManagerPingPause &) = delete;
    TWindowManagerPingPause &operator=(const TWindowManagerPingPause &) = delete;

private:
    struct Paused
    {
        QPointer<QWidget> window;
        quintptr id = 0;
        std::vector<quint32> protocols; // as they were
    };
    std::vector<Paused> m_paused;
};
