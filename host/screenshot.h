#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

// `qlxhost --screenshot FILE`: a picture of the open screen, then every window closes.
// It is taken once the screen has settled (a window shown modally and exposed, no remote
// call waiting, no busy window up), looked for from kScreenshotFirstLookMs after start on, and at the latest
// at kScreenshotSettleLimitMs as things are then. The picture is the whole screen where
// the display lets a client read it (X11); a Wayland compositor keeps the screen to
// itself, so there it is the front window (a message box, else the screen) drawn by the
// host. The file is replaced only by a complete picture.
constexpr int kScreenshotFirstLookMs = 2000;
constexpr int kScreenshotSettleLimitMs = 60000;

class ScreenshotOnSettle : public QObject
{
public:
    explicit ScreenshotOnSettle(const QString &fileName);
    // False once the picture could not be made or saved (the reason is on standard error).
    bool succeeded() const { return m_succeeded; }

private:
    void lookAgain();
    void takeAndQuit();

    QString m_fileName;
    QElapsedTimer m_sinceStart;
    bool m_succeeded = true;
};
