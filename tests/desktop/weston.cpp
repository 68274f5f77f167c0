#include "tests/desktop/weston.h"

#include "tests/support/endswiththetest.h"

#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace weston {

namespace {

const QString kSocket = QStringLiteral("qlx-wayland");

std::unique_ptr<QTemporaryDir> runtimeDirectory;
std::unique_ptr<QProcess> compositor;

QString log()
{
    QFile file(runtimeDirectory->filePath(QStringLiteral("weston.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()).trimmed() : QString();
}

QString missingTool()
{
    for (const char *tool : { "weston", "weston-screenshooter" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return QStringLiteral("%1 is missing: run tools/install-deps.sh").arg(QString::fromLatin1(tool));
    }
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
    if (platforms.entryList({ QStringLiteral("libqwayland-*.so") }).isEmpty())
        return QStringLiteral("Qt's Wayland platform plugin is missing from %1: run tools/install-deps.sh")
            .arg(platforms.path());
    return QString();
}

// The desktop shell is up once the whole output shows its background.
bool desktopShown()
{
    const QImage picture = screenshot();
    if (picture.size() != QSize(kWidth, kHeight))
        return false;
    for (int y = 0; y < kHeight; y += 16) {
        for (int x = 0; x < kWidth; x += 16) {
            if (picture.pixel(x, y) != kBackground)
                return false;
        }
    }
    return true;
}

} // namespace

Started start(QString &error)
{
    error = missingTool();
    if (!error.isEmpty())
        return Started::CannotRun;
    runtimeDirectory = std::make_unique<QTemporaryDir>(QDir::temp().filePath(QStringLiteral("qlx-wayland-XXXXXX")));
    // Weston and its clients refuse a runtime directory others may enter.
    QFile::setPermissions(runtimeDirectory->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString config = runtimeDirectory->filePath(QStringLiteral("weston.ini"));
    QFile ini(config);
    if (!ini.open(QIODevice::WriteOnly)
        || ini.write(QStringLiteral("[core]\nidle-time=0\n[shell]\npanel-position=none\nlocking=false\n"
                                    "background-color=0x%1\n")
                         .arg(kBackground, 8, 16, QLatin1Char('0'))
                         .toLatin1())
            < 0) {
        error = QStringLiteral("cannot write %1").arg(config);
        return Started::Failed;
    }
    ini.close();

    compositor = std::make_unique<QProcess>();
    EndsWithTheTest(*compositor);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDirectory->path());
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    compositor->setProcessEnvironment(environment);
    compositor->setProcessChannelMode(QProcess::MergedChannels);
    compositor->setStandardOutputFile(runtimeDirectory->filePath(QStringLiteral("weston.log")));
    // --debug lets weston-screenshooter take pictures.
    compositor->start(QStringLiteral("weston"),
                      { QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--use-pixman"),
                        QStringLiteral("--width=%1").arg(kWidth), QStringLiteral("--height=%1").arg(kHeight),
                        QStringLiteral("--socket=") + kSocket, QStringLiteral("--config=") + config,
                        QStringLiteral("--debug") });
    const QString socket = runtimeDirectory->filePath(kSocket);
    const bool listening = QTest::qWaitFor([&] {
        return QFile::exists(socket) || compositor->state() == QProcess::NotRunning;
    }, kConditionWaitMs);
    if (!listening || compositor->state() == QProcess::NotRunning) {
        error = QStringLiteral("weston does not run here: %1").arg(log());
        return Started::CannotRun;
    }
    if (!QTest::qWaitFor(desktopShown, kConditionWaitMs)) {
        QString reason;
        screenshot(&reason);
        error = QStringLiteral("weston's desktop did not show (%1): %2").arg(reason, log());
        return Started::Failed;
    }
    return Started::Yes;
}

void stop()
{
    if (compositor && compositor->state() != QProcess::NotRunning) {
        compositor->terminate();
        if (!compositor->waitForFinished(kConditionWaitMs)) {
            compositor->kill();
            compositor->waitForFinished(kConditionWaitMs);
        }
    }
    compositor.reset();
    runtimeDirectory.reset();
}

QProcessEnvironment clientEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDirectory->path());
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), kSocket);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    environment.remove(QStringLiteral("DISPLAY"));
    return environment;
}

QImage screenshot(QString *error)
{
    // weston-screenshooter names its file by the second it was taken: each picture
    // is taken in a directory of its own.
    QTemporaryDir directory(runtimeDirectory->filePath(QStringLiteral("picture-XXXXXX")));
    QProcess shooter;
    shooter.setProcessEnvironment(clientEnvironment());
    shooter.setWorkingDirectory(directory.path());
    shooter.setProcessChannelMode(QProcess::MergedChannels);
    shooter.start(QStringLiteral("weston-screenshooter"), QStringList());
    if (!shooter.waitForFinished(kConditionWaitMs)) {
        shooter.kill();
        shooter.waitForFinished(kConditionWaitMs);
    }
    const QStringList files = QDir(directory.path()).entryList({ QStringLiteral("*.png") }, QDir::Files);
    const QImage picture = files.size() == 1 ? QImage(directory.filePath(files.first())) : QImage();
    if (picture.isNull() && error) {
        *error = QStringLiteral("weston-screenshooter made no picture (exit %1): %2")
                     .arg(shooter.exitCode())
                     .arg(QString::fromLocal8Bit(shooter.readAll()).trimmed());
    }
    return picture;
}

} // namespace weston
