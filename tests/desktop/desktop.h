#pragma once

// A real X desktop for the tests: Xvfb with the openbox window manager, the real
// host and the real application server as separate processes, driven by real
// input events through xdotool (XTEST). Every wait is for a condition, with a
// time-out.
#include <QDir>
#include <QColor>
#include <QImage>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class SlowRelay;

namespace desktop {

// How long any one condition (a window, a file, a log line) may take to come.
constexpr int kConditionWaitMs = 30000;

// Starts Xvfb and openbox and points this process's DISPLAY at them; false, with
// the reason in `error`, when that cannot be done.
bool start(QString &error);
void stop();

// Runs a program to its end (at most kConditionWaitMs) and returns its output.
QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr);
QString xdotool(const QStringList &arguments);

// Real key strokes and typing, sent to whatever window has the focus.
void keys(const QStringList &keySequence);
void type(const QString &text);
// A click at a position in a window's client area.
void click(const QString &window, QPoint at);

QString activeWindow();
QString activeWindowName();
// Waits until the active window has this title; returns its id, or empty.
QString waitForActiveWindow(const QString &title);
// The client area of a window in screen coordinates.
QRect geometry(const QString &window);
// The visible top-level windows of a process.
QStringList windowsOf(qint64 processId);

// Sends the window manager's ping (_NET_WM_PING) to a top-level window and
// waits up to `withinMs` for the client's answer on the root window.
bool answersPing(const QString &window, int withinMs);

// A screenshot of the whole screen, saved to `fileName` too when one is given.
QImage screenshot(const QString &fileName = QString());
// Waits until the pixel at a point of a window's client area has that colour;
// returns the colour seen last.
QColor waitForPixel(const QString &window, QPoint at, QColor expected);

// The reference server on a demo database with a call log, and the host
// pointed at it, each in a scratch directory of its own.
class Session
{
public:
    // `open`: the host opens the screen at start. `relayed`: the host reaches the
    // server through a relay whose answers can be made slow (setSlow). `moreLines`
    // Spanish translations are added to the demo's, for a longer generation.
    explicit Session(bool open = true, bool relayed = false, int moreLines = 0);
    ~Session();

    QString screen() const { return m_screen; } // the screen's window
    QString failure() const { return m_failure; } // empty once everything is up

    QString outputDirectory() const { return m_work.filePath(QStringLiteral("saida")); }
    QString workDirectory() const { return m_work.path(); }
    qint64 hostProcessId() const { return m_host.processId(); }
    // The calls the server received so far: one JSON object a line.
    QStringList calls() const;
    // Waits until the server has received `count` calls.
    bool waitForCalls(int count) const;
    // The server's answers reach the host a slice (a byte unless told) every 20 ms,
    // or at once again.
    void setSlow(bool slow, qsizetype bytesAtATime = 1);

private:
    QTemporaryDir m_work;
    std::unique_ptr<SlowRelay> m_relay;
    QProcess m_server;
    QProcess m_host;
    QString m_callLog;
    QString m_screen;
    QString m_failure;
};

} // namespace desktop
