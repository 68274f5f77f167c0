#include "host/screenshot.h"

#include "hostlib/widgets/busyanimation.h"
#include "runtime/widgets/callguard.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdio>

namespace {

constexpr int kLookIntervalMs = 100;

QWidget *frontWindow()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

bool settled()
{
    const QWidget *front = QApplication::activeModalWidget();
    return front && front->windowHandle() && front->windowHandle()->isExposed() && !ShowAviVisible() && !CallWaiting();
}

QImage picture()
{
    QWidget *front = frontWindow();
    QScreen *screen = front ? front->screen() : QGuiApplication::primaryScreen();
    // Null where the platform cannot read the screen back (Wayland).
    const QPixmap whole = screen ? screen->grabWindow(0) : QPixmap();
    if (!whole.isNull())
        return whole.toImage();
    return front ? front->grab().toImage() : QImage();
}

QString savedTo(const QString &fileName, const QImage &image)
{
    if (image.isNull())
        return QStringLiteral("no window to take a picture of");
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return QStringLiteral("the picture could not be encoded");
    // Written beside and put in place once whole: a full disk or a file-size limit
    // leaves no partial file and an earlier one as it was. Unbuffered, so that a short
    // write shows (a buffered flush takes a partial write for success); the rest is
    // written again until the system names its error.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    for (qint64 written = 0; written < png.size();) {
        const qint64 count = file.write(png.constData() + written, png.size() - written);
        if (count <= 0)
            return file.errorString();
        written += count;
    }
    return file.commit() ? QString() : file.errorString();
}

} // namespace

ScreenshotOnSettle::ScreenshotOnSettle(const QString &fileName)
    : m_fileName(fileName)
{
    m_sinceStart.start();
    QTimer::singleShot(kScreenshotFirstLookMs, this, [this] { lookAgain(); });
}

void ScreenshotOnSettle::lookAgain()
{
    if (settled() || m_sinceStart.hasExpired(kScreenshotSettleLimitMs)) {
        if (!settled())
            std::fprintf(stderr, "the screen had not settled after %d s; the picture shows it as it was\n",
                         kScreenshotSettleLimitMs / 1000);
        takeAndQuit();
        return;
    }
    QTimer::singleShot(kLookIntervalMs, this, [this] { lookAgain(); });
}

void ScreenshotOnSettle::takeAndQuit()
{
    const QString failure = savedTo(m_fileName, picture());
    m_succeeded = failure.isEmpty();
    if (m_succeeded)
        std::printf("screenshot: %s\n", qPrintable(QDir(m_fileName).absolutePath()));
    else
        std::fprintf(stderr, "could not save the screenshot to %s: %s\n", qPrintable(m_fileName), qPrintable(failure));
    std::fflush(stdout);
    if (QWidget *modal = QApplication::activeModalWidget())
        modal->close();
    QApplication::closeAllWindows();
    QApplication::quit();
}
