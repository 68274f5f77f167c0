#pragma once

#include "runtime/core/export.h"

#include <QString>
#include <QtGlobal>
#include <functional>

class QWidget;

// The animation kind of a wait for the application server ("Aguarde, consultando o
// servidor..."); any other kind is a plain wait ("Aguarde...").
constexpr int kAviServerQuery = 6;
// A remote call that waits this long with no busy window up shows one until it ends.
constexpr int kBusyAfterMs = 400;

// The busy window: a top-level window centred over the window that opened it (the
// screen shown modally, else the owner; the display when there is neither), drawn
// at once and kept drawn by the event loop while a remote call waits, with a bar
// that keeps moving. Keys typed while a call waits come to it (callguard.h).
QLX_EXPORT void ActiveShowAvi(QWidget *owner, int kind);
// Shows on the busy window how many records have arrived so far: at most ten times
// a second, the latest count last.
QLX_EXPORT void ShowAviProgress(qint64 records);
// Says on the busy window that the call is being made again on `server`
// ("reconectando a HOST:PORT..."), its count of records gone until they arrive
// anew; harmless when none shows.
QLX_EXPORT void ShowAviReconnecting(const QString &server);
// Offers "Cancelar" on the busy window, as a button and the Esc key, which run
// `cancel`; an empty one takes the offer away.
QLX_EXPORT void ShowAviCancel(std::function<void()> cancel);
// Hides the busy window; harmless when none shows.
QLX_EXPORT void DeactiveShowAvi();

QLX_EXPORT bool ShowAviVisible();

// While it lives, every busy window of a wait offers "Cancelar" running `cancel`:
// the long waits' own windows and those put up by ActiveShowAvi, unless a
// TBusyProgress offers its own meanwhile. The innermost one wins.
class QLX_EXPORT TCancellableWaits
{
public:
    explicit TCancellableWaits(std::function<void()> cancel);
    ~TCancellableWaits();
    TCancellableWaits(const TCancellableWaits &) = delete;
    TCancellableWaits &operator=(const TCancellableWaits &) = delete;

private:
    std::function<void()> m_outer;
};

// Counts arriving records on the busy window: puts one up at construction when
// none shows, and takes down on destruction the one it put up. With `cancel`,
// the window offers "Cancelar" for its lifetime, then the standing offer again.
class QLX_EXPORT TBusyProgress
{
public:
    explicit TBusyProgress(std::function<void()> cancel = {});
    ~TBusyProgress();
    TBusyProgress(const TBusyProgress &) = delete;
    TBusyProgress &operator=(const TBusyProgress &) = delete;

    void operator()(qint64 records);

private:
    bool m_ownWindow = false;
};
