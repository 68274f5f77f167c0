#pragma once

// A real Wayland desktop for the tests: Weston's headless back end with the pixman
// renderer, in a runtime directory of its own (mode 0700, as the protocol asks), with
// the desktop shell on a one-colour background and no panel, pictures taken by
// weston-screenshooter. It needs no input device and no GPU. Every wait is for a
// condition, with a time-out.
#include <QImage>
#include <QProcessEnvironment>
#include <QString>

namespace weston {

// How long any one condition (the compositor up, a picture, a window drawn) may take.
constexpr int kConditionWaitMs = 30000;
// The desktop's background, where no window is.
constexpr QRgb kBackground = 0xff603060;
constexpr int kWidth = 1024;
constexpr int kHeight = 768;

enum class Started { Yes, CannotRun, Failed };

// Starts the compositor. CannotRun, with the reason in `error`, where it or what the
// clients need (weston-screenshooter, Qt's Wayland platform plugin) is missing or
// weston will not start here; Failed when it starts but its desktop never shows.
Started start(QString &error);
void stop();

// The environment of a Qt client of the compositor (QT_QPA_PLATFORM=wayland, no X display).
QProcessEnvironment clientEnvironment();

// A picture of the whole output; a null image, with the reason in `error`, on failure.
QImage screenshot(QString *error = nullptr);

} // namespace weston
