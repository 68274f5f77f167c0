#pragma once

#include <export.h>

#include <windowmanagerping.h>

#include <QtGlobal>

class QWidget;

// A busy window with a running animation over the owner, until hidden. The program
// waits for the server meanwhile without running its event loop, so the window
// manager is asked not to ping its windows (TWindowManagerPingPause) until then.
QLX_EXPORT void ActiveShowAvi(QWidget *owner, int kind);
// Shows on the busy window how many records have arrived so far, painted at once
// without running the event loop (at most every kShowAviRepaintMs).
QLX_EXPORT void ShowAviProgress(qint64 records);
constexpr int kShowAviRepaintMs = 50;
// Hides the busy window; harmless when none shows.
QLX_EXPORT void DeactiveShowAvi();

QLX_EXPORT bool ShowAviVisible();

// Counts arriving records on the busy window: puts one up at the first count
// when none shows, and takes down on destruction the one it put up. From its
// construction on, the window manager is asked not to ping the windows.
class QLX_EXPORT TBusyProgress
{
public:
    TBusyProgress() = default;
    ~TBusyProgress();
    TBusyProgress(const TBusyProgress &) = delete;
    TBusyProgress &operator=(const TBusyProgress &) = delete;

    void operator()(qint64 records);

private:
    TWindowManagerPingPause m_pingPause;
    bool m_ownWindow = false;
};
// How many times the busy window was put up since the program started.
QLX_EXPORT int ShowAviShownCount();
