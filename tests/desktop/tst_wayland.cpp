// The host as a Wayland client of a real compositor (Weston, headless): the real host
// against the real server behind a proxy that can hold its answers back, read from the
// compositor's own pictures. Weston places the windows where it likes, so the pictures
// are read by what the windows show, not by where they are.
#include "tests/desktop/weston.h"
#include "tests/support/endswiththetest.h"

#include "host/screenshot.h"
#include "tests/support/holdingproxy.h"
#include "tests/support/serverprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

using weston::kConditionWaitMs;

// The screen's fields show this background; the directory field is about 280 pixels wide.
constexpr QRgb kFieldBackground = 0xffffffe1;
constexpr int kDirectoryFieldRun = 250;
// The busy window's bar is about 200 pixels wide and 18 high, filled with the highlight
// blue and its moving stripes.
constexpr int kBarRun = 120;
constexpr int kBarRows = 8;
// Past the host's first look for a settled screen, whatever the machine's load.
constexpr int kLookMarginMs = 1000;
// The error icon of a message box is a red disc about 30 pixels across.
constexpr int kErrorIconPixels = 200;

bool isBarBlue(QRgb pixel)
{
    return qBlue(pixel) >= 130 && qBlue(pixel) - qRed(pixel) >= 80 && qGreen(pixel) >= 90;
}

bool isErrorRed(QRgb pixel)
{
    return qRed(pixel) >= 180 && qGreen(pixel) <= 70 && qBlue(pixel) <= 70;
}

// The longest horizontal run of pixels that `matches` holds for, in one row.
template <class Match>
int longestRun(const QImage &picture, int y, Match matches)
{
    int longest = 0;
    int run = 0;
    for (int x = 0; x < picture.width(); ++x) {
        run = matches(picture.pixel(x, y)) ? run + 1 : 0;
        longest = qMax(longest, run);
    }
    return longest;
}

// The busy window's bar: the rows with a long run of its blue. Empty when none shows.
QRect busyBar(const QImage &picture)
{
    QRect bar;
    int rows = 0;
    for (int y = 0; y < picture.height(); ++y) {
        int run = 0;
        for (int x = 0; x < picture.width(); ++x) {
            run = isBarBlue(picture.pixel(x, y)) ? run + 1 : 0;
            if (run == kBarRun) {
                bar |= QRect(x - kBarRun + 1, y, kBarRun, 1);
                ++rows;
            }
        }
    }
    return rows >= kBarRows ? bar : QRect();
}

bool screenDrawn(const QImage &picture)
{
    for (int y = 0; y < picture.height(); ++y) {
        if (longestRun(picture, y, [](QRgb pixel) { return pixel == kFieldBackground; }) >= kDirectoryFieldRun)
            return true;
    }
    return false;
}

bool errorShown(const QImage &picture)
{
    int red = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            red += isErrorRed(picture.pixel(x, y)) ? 1 : 0;
    }
    return red >= kErrorIconPixels;
}

// The words of a picture, read by OCR as a person reads them.
QString textOf(const QImage &picture)
{
    QTemporaryDir directory;
    const QString file = directory.filePath(QStringLiteral("ocr.png"));
    picture.convertToFormat(QImage::Format_Grayscale8)
        .scaled(picture.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .save(file);
    QProcess tesseract;
    tesseract.start(QStringLiteral("tesseract"), { file, QStringLiteral("stdout"), QStringLiteral("--psm"), QStringLiteral("11") });
    tesseract.waitForFinished(kConditionWaitMs);
    return QString::fromUtf8(tesseract.readAllStandardOutput());
}

// A press on a button of one of the host's windows through AT-SPI, as an assistive
// technology makes it: the headless compositor has no keyboard or pointer. The press
// returns only once what it opened has closed, so it runs on its own.
class AccessiblePress
{
public:
    AccessiblePress(const QString &window, const QString &button)
    {
        EndsWithTheTest(m_process);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        { QStringLiteral(QLX_TESTS_DIR "/desktop/atspi-press.py"), window, button });
    }
    ~AccessiblePress()
    {
        m_process.kill();
        m_process.waitForFinished(kConditionWaitMs);
    }
    bool finished() { return m_process.state() == QProcess::NotRunning; }
    QString output() { return QString::fromUtf8(m_process.readAll()); }

private:
    QProcess m_process;
};

// The host on the compositor, with settings of its own.
class WaylandHost
{
public:
    explicit WaylandHost(const QStringList &arguments)
    {
        QProcessEnvironment environment = weston::clientEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        environment.remove(QStringLiteral("QLX_SERVER"));
        m_process.setProcessEnvironment(environment);
        EndsWithTheTest(m_process);
        m_process.start(QStringLiteral(QLX_HOST_PATH), arguments);
        m_process.waitForStarted(kConditionWaitMs);
    }
    ~WaylandHost()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(kConditionWaitMs))
                m_process.kill();
            m_process.waitForFinished(kConditionWaitMs);
        }
    }

    QProcess &process() { return m_process; }
    bool running() const { return m_process.state() != QProcess::NotRunning; }

private:
    QTemporaryDir m_config;
    QProcess m_process;
};

// Saves the picture beside the test when it fails, for whoever reads the log.
void keepOnFailure(const QImage &picture, const char *what)
{
    if (!QTest::currentTestFailed() || picture.isNull())
        return;
    const QString name = QDir::current().filePath(QStringLiteral("wayland-%1-%2.png")
                                                      .arg(QString::fromLatin1(QTest::currentTestFunction()),
                                                           QString::fromLatin1(what)));
    picture.save(name);
    qWarning("picture at the failure: %s", qPrintable(name));
}

} // namespace

class TestWayland : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString error;
        const weston::Started started = weston::start(error);
        if (started == weston::Started::CannotRun)
            QSKIP(qPrintable(error));
        QVERIFY2(started == weston::Started::Yes, qPrintable(error));
        // The accessibility bus on the session bus the test runs in (dbus-run-session),
        // for the presses an assistive technology makes.
        EndsWithTheTest(m_accessibilityBus);
        m_accessibilityBus.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"), { QStringLiteral("--launch-immediately") });
        m_accessibilityBus.waitForStarted(kConditionWaitMs);
    }

    void cleanupTestCase()
    {
        m_accessibilityBus.kill();
        m_accessibilityBus.waitForFinished(kConditionWaitMs);
        weston::stop();
    }

    // While the language list is on its way the busy window is drawn and its bar moves;
    // once it has come the busy window goes and the screen is drawn, with no error.
    void busyWindowDrawnAndMovingWhileTheLanguagesComeSlowly()
    {
        ServerProcess server({}, true);
        QVERIFY(server.port() != 0);
        HoldingProxy proxy(quint16(server.port()));
        proxy.hold();
        WaylandHost host({ QStringLiteral("--server"), proxy.address(), QStringLiteral("--open") });
        QVERIFY2(QTest::qWaitFor([&] { return proxy.requestBytes() > 0; }, kConditionWaitMs),
                 "the host asked the server for nothing");
        QVERIFY2(QTest::qWaitFor([&] { return proxy.heldBytes() > 0; }, kConditionWaitMs),
                 "the server sent no answer to hold");

        QImage first;
        QRect firstBar;
        const bool drawn = QTest::qWaitFor([&] {
            first = weston::screenshot();
            firstBar = busyBar(first);
            return !firstBar.isEmpty();
        }, kConditionWaitMs);
        keepOnFailure(first, "waiting");
        QVERIFY2(drawn, "no busy window drawn while the answer was held");

        QImage later;
        const bool moved = QTest::qWaitFor([&] {
            later = weston::screenshot();
            const QRect bar = busyBar(later);
            return !bar.isEmpty() && (bar != firstBar || later.copy(bar) != first.copy(firstBar));
        }, kConditionWaitMs);
        keepOnFailure(later, "still");
        QVERIFY2(moved, "the busy window's bar did not move while the answer was held");
        QVERIFY(host.running());
        QVERIFY2(proxy.heldBytes() > 0, "the answer went before the pictures were taken");

        proxy.release();
        QImage loaded;
        const bool shown = QTest::qWaitFor([&] {
            loaded = weston::screenshot();
            return screenDrawn(loaded) && busyBar(loaded).isEmpty();
        }, kConditionWaitMs);
        keepOnFailure(loaded, "loaded");
        QVERIFY2(shown, "the screen was not drawn without the busy window once the languages came");
        QCOMPARE(proxy.heldBytes(), 0);
        QVERIFY2(!errorShown(loaded), "an error was shown over the screen");
        keepOnFailure(loaded, "error");
        QVERIFY(host.running());
    }

    // The busy window of the screen's opening offers Cancelar: its question shows on top
    // of it, readable in the compositor's picture, and Sim ends the wait: the screen
    // opens, without an error.
    void cancelQuestionAboveTheBusyWindow()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") || m_accessibilityBus.state() != QProcess::Running)
            QSKIP("no session bus with an accessibility bus: run under dbus-run-session with at-spi2-core");
        ServerProcess server({}, true);
        HoldingProxy proxy(quint16(server.port()));
        proxy.hold();
        WaylandHost host({ QStringLiteral("--server"), proxy.address(), QStringLiteral("--open") });
        QImage picture;
        QVERIFY2(QTest::qWaitFor([&] { return !busyBar(picture = weston::screenshot()).isEmpty(); }, kConditionWaitMs),
                 "no busy window while the languages were held");
        AccessiblePress cancel(QStringLiteral("Aguarde, consultando o servidor..."), QStringLiteral("Cancelar"));
        QString read;
        const bool asked = QTest::qWaitFor([&] {
            picture = weston::screenshot();
            read = textOf(picture);
            return read.contains(QLatin1String("Deseja cancelar"));
        }, kConditionWaitMs);
        keepOnFailure(picture, "question");
        QVERIFY2(asked, qPrintable(read + cancel.output()));
        QVERIFY2(!busyBar(picture).isEmpty(), "the busy window went before the answer");

        AccessiblePress yes(QStringLiteral("Confirmação"), QStringLiteral("Sim"));
        const bool opened = QTest::qWaitFor([&] {
            picture = weston::screenshot();
            return screenDrawn(picture) && busyBar(picture).isEmpty();
        }, kConditionWaitMs);
        keepOnFailure(picture, "answered");
        QVERIFY2(opened, qPrintable(yes.output()));
        QVERIFY2(!errorShown(picture), "an error was shown over the screen");
        QVERIFY(host.running());
    }

    // --screenshot on Wayland: the host draws the front window itself; a picture it
    // cannot save ends it with a non-zero status.
    void screenshotOption_data()
    {
        QTest::addColumn<bool>("serverUp");
        QTest::addColumn<bool>("answerHeld"); // the languages held past the host's first look
        QTest::addColumn<QString>("target"); // relative to a scratch directory
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("ofTheScreen"); // else of the error over it
        QTest::newRow("the screen") << true << false << QStringLiteral("tela.png") << true << true;
        QTest::newRow("the screen, its languages held a while") << true << true << QStringLiteral("tela.png") << true << true;
        QTest::newRow("no server: the error in front") << false << false << QStringLiteral("erro.png") << true << false;
        QTest::newRow("in a missing directory") << true << false << QStringLiteral("falta/tela.png") << false << false;
    }
    void screenshotOption()
    {
        QFETCH(bool, serverUp);
        QFETCH(bool, answerHeld);
        QFETCH(QString, target);
        QFETCH(bool, saved);
        QFETCH(bool, ofTheScreen);
        QTemporaryDir scratch;
        const QString file = scratch.filePath(target);
        ServerProcess server({}, true);
        HoldingProxy proxy(quint16(server.port()));
        if (answerHeld)
            proxy.hold();
        const QString address = serverUp ? proxy.address() : QStringLiteral("127.0.0.1:1");
        WaylandHost host({ QStringLiteral("--server"), address, QStringLiteral("--screenshot"), file });
        if (answerHeld) {
            // The host's first look is timed from before it asked for the languages:
            // once that long has passed with the answer held, it has looked at least once.
            QVERIFY(QTest::qWaitFor([&] { return proxy.heldBytes() > 0; }, kConditionWaitMs));
            const QDeadlineTimer pastFirstLook(kScreenshotFirstLookMs + kLookMarginMs);
            QVERIFY(QTest::qWaitFor([&] { return pastFirstLook.hasExpired() || !host.running(); }, kConditionWaitMs));
            QVERIFY2(host.running(), "the picture was taken while the languages were on their way");
            proxy.release();
        }
        // The proxy passes the answer only while this test's event loop runs.
        QVERIFY(QTest::qWaitFor([&] { return !host.running(); }, 3 * kConditionWaitMs));
        const QByteArray output = host.process().readAllStandardOutput();
        const QByteArray errors = host.process().readAllStandardError();
        QVERIFY2(host.process().exitStatus() == QProcess::NormalExit, (output + errors).constData());
        if (!saved) {
            QVERIFY2(host.process().exitCode() != 0, output.constData());
            QVERIFY2(errors.contains("could not save the screenshot to " + file.toUtf8()), errors.constData());
            QVERIFY(!QFileInfo::exists(file));
            return;
        }
        QVERIFY2(host.process().exitCode() == 0, errors.constData());
        QCOMPARE(output, "screenshot: " + QFileInfo(file).absoluteFilePath().toUtf8() + '\n');
        const QImage picture(file);
        QVERIFY(!picture.isNull());
        // The window itself, not the whole output.
        QVERIFY2(picture.width() < weston::kWidth && picture.height() < weston::kHeight,
                 qPrintable(QStringLiteral("%1x%2").arg(picture.width()).arg(picture.height())));
        QCOMPARE(screenDrawn(picture), ofTheScreen);
        QCOMPARE(errorShown(picture), !ofTheScreen);
        QVERIFY(busyBar(picture).isEmpty());
    }

private:
    QProcess m_accessibilityBus;
};

QTEST_GUILESS_MAIN(TestWayland)
#include "tst_wayland.moc"
