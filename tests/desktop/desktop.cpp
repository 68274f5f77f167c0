#include "tests/desktop/desktop.h"
#include "tests/desktop/slowrelay.h"
#include "tests/support/endswiththetest.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <xcb/xcb.h>

namespace desktop {

namespace {

QProcess *xvfb = nullptr;
QProcess *windowManager = nullptr;

const QString kScreenTitle = QStringLiteral("Geração do Arquivo de Tradução das Tabelas");

bool stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return true;
    process.terminate();
    if (process.waitForFinished(kConditionWaitMs))
        return true;
    process.kill();
    return process.waitForFinished(kConditionWaitMs);
}

} // namespace

static bool startDisplay(QString &error);

bool start(QString &error)
{
    for (const char *tool : { "Xvfb", "openbox", "xdotool", "xprop", "xwininfo", "sqlite3", "tesseract" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            error = QStringLiteral("%1 is missing: run tools/install-deps.sh").arg(QString::fromLatin1(tool));
            return false;
        }
    }
    // Now and then, on a loaded machine, openbox cannot open a display that other
    // clients reach; a new display is started then, a few times at most.
    constexpr int kDisplayAttempts = 4;
    for (int attempt = 0; attempt < kDisplayAttempts; ++attempt) {
        if (startDisplay(error))
            return true;
        std::fprintf(stderr, "%s: starting a new display\n", qPrintable(error));
        stop();
    }
    return false;
}

// Xvfb and openbox on a display of their own.
static bool startDisplay(QString &error)
{
    // Xvfb picks a free display and writes its number on the descriptor it is
    // given once it accepts clients.
    xvfb = new QProcess;
    EndsWithTheTest(*xvfb);
    xvfb->start(QStringLiteral("Xvfb"), { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                          QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                          QStringLiteral("tcp") });
    QByteArray number;
    QDeadlineTimer deadline(kConditionWaitMs);
    while (!number.contains('\n') && xvfb->waitForReadyRead(int(deadline.remainingTime())))
        number += xvfb->readAllStandardOutput();
    if (!number.contains('\n')) {
        error = QStringLiteral("Xvfb did not start: %1").arg(QString::fromLocal8Bit(xvfb->readAllStandardError()));
        return false;
    }
    qputenv("DISPLAY", ":" + number.trimmed());

    // The window manager is up once it announces itself on the root window. It
    // is given a second and third start should it quit at once.
    windowManager = new QProcess;
    EndsWithTheTest(*windowManager);
    windowManager->setProcessChannelMode(QProcess::MergedChannels);
    const auto announced = [] {
        return run(QStringLiteral("xprop"), { QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK") })
            .contains(QLatin1String("window id"));
    };
    // A client may be refused for a moment after Xvfb gave its number, most often on
    // a loaded machine: every start waits until the display takes a client.
    const auto takesClients = [] {
        int status = -1;
        run(QStringLiteral("xprop"), { QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK") }, &status);
        return status == 0;
    };
    for (int attempt = 0; attempt < 3 && !announced(); ++attempt) {
        if (!QTest::qWaitFor(takesClients, kConditionWaitMs)) {
            error = QStringLiteral("Xvfb on %1 takes no clients: %2")
                        .arg(qEnvironmentVariable("DISPLAY"), QString::fromLocal8Bit(xvfb->readAllStandardError()));
            return false;
        }
        windowManager->start(QStringLiteral("openbox"), { QStringLiteral("--sm-disable") });
        const bool ended = QTest::qWaitFor([&] { return announced() || windowManager->waitForFinished(0); },
                                           kConditionWaitMs);
        if (!ended)
            break; // running, never announced: not worth another start
    }
    if (!announced()) {
        error = QStringLiteral("openbox did not start on %1: %2 %3")
                    .arg(qEnvironmentVariable("DISPLAY"), windowManager->errorString(),
                         QString::fromLocal8Bit(windowManager->readAll()));
        return false;
    }
    return true;
}

void stop()
{
    for (QProcess **process : { &windowManager, &xvfb }) {
        if (*process)
            stopProcess(**process);
        delete *process;
        *process = nullptr;
    }
}

QString run(const QString &program, const QStringList &arguments, int *exitCode)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(kConditionWaitMs)) {
        process.kill();
        process.waitForFinished(kConditionWaitMs);
    }
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString xdotool(const QStringList &arguments)
{
    return run(QStringLiteral("xdotool"), arguments);
}

void keys(const QStringList &keySequence)
{
    xdotool(QStringList { QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("40") } + keySequence);
}

void type(const QString &text)
{
    xdotool({ QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), text });
}

void click(const QString &window, QPoint at)
{
    xdotool({ QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(at.x()),
              QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1") });
}

QString activeWindow()
{
    return xdotool({ QStringLiteral("getactivewindow") });
}

QString activeWindowName()
{
    return xdotool({ QStringLiteral("getactivewindow"), QStringLiteral("getwindowname") });
}

QString waitForActiveWindow(const QString &title)
{
    QString window;
    const bool active = QTest::qWaitFor([&] {
        window = activeWindow();
        return !window.isEmpty() && xdotool({ QStringLiteral("getwindowname"), window }) == title;
    }, kConditionWaitMs);
    return active ? window : QString();
}

QRect geometry(const QString &window)
{
    // xwininfo's absolute corner is the client area's (xdotool's counts the frame in).
    const QString text = run(QStringLiteral("xwininfo"), { QStringLiteral("-id"), window });
    const auto value = [&text](const char *label) {
        const QRegularExpression line(QStringLiteral("%1:\\s*(-?\\d+)").arg(QLatin1String(label)));
        return line.match(text).captured(1).toInt();
    };
    return QRect(value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height"));
}

QStringList windowsOf(qint64 processId)
{
    return run(QStringLiteral("xdotool"), { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                            QString::number(processId) })
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

static xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, false, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return value;
}

// A client answers a ping by sending it back to the root window with the mask
// StructureNotify|SubstructureRedirect; the window manager holds the redirect, so a
// client selecting StructureNotify on the root window sees it.
// Each ping carries a stamp of its own so a late answer to an earlier one is not taken.
bool answersPing(const QString &window, int withinMs)
{
    static uint32_t stamp = 1000;
    ++stamp;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &rootEvents);
    const xcb_atom_t protocols = atom(connection, "WM_PROTOCOLS");
    const xcb_atom_t ping = atom(connection, "_NET_WM_PING");
    const xcb_window_t target = window.toUInt();

    xcb_client_message_event_t message {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = target;
    message.type = protocols;
    message.data.data32[0] = ping;
    message.data.data32[1] = stamp;
    message.data.data32[2] = target;
    xcb_send_event(connection, false, target, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&message));
    xcb_flush(connection);

    bool answered = false;
    QDeadlineTimer deadline(withinMs);
    while (!answered && !deadline.hasExpired() && !xcb_connection_has_error(connection)) {
        pollfd readable { xcb_get_file_descriptor(connection), POLLIN, 0 };
        poll(&readable, 1, int(deadline.remainingTime()));
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto *reply = reinterpret_cast<const xcb_client_message_event_t *>(event);
                answered = answered
                    || (reply->window == root && reply->type == protocols && reply->data.data32[0] == ping
                        && reply->data.data32[1] == stamp && reply->data.data32[2] == target);
            }
            free(event);
        }
    }
    xcb_disconnect(connection);
    return answered;
}

QImage screenshot(const QString &fileName)
{
    const QImage picture = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    if (!fileName.isEmpty())
        picture.save(fileName);
    return picture;
}

QColor waitForPixel(const QString &window, QPoint at, QColor expected)
{
    QColor seen;
    const bool shown = QTest::qWaitFor([&] {
        const QPoint point = geometry(window).topLeft() + at;
        seen = QColor(screenshot().pixel(point));
        return seen == expected;
    }, kConditionWaitMs);
    return shown ? expected : seen;
}

Session::Session(bool open, bool relayed, int moreLines)
{
    QDir(m_work.path()).mkdir(QStringLiteral("saida"));
    QDir(m_work.path()).mkdir(QStringLiteral("config"));
    const QString database = m_work.filePath(QStringLiteral("server.db"));
    m_callLog = m_work.filePath(QStringLiteral("calls.jsonl"));
    run(QStringLiteral(QLX_SERVER_PATH), { QStringLiteral("--init-demo"), database });
    if (moreLines > 0)
        run(QStringLiteral("sqlite3"), { database, QStringLiteral("INSERT INTO TRADUCAO WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                                                                  "SELECT i + 1 FROM n WHERE i < %1) SELECT 'UNIDADE', 'K' || i, "
                                                                  "'DSUNIDADE', 'ESP', 'Unidad ' || i, 46000 FROM n;")
                                                       .arg(moreLines) });
    EndsWithTheTest(m_server);
    m_server.start(QStringLiteral(QLX_SERVER_PATH), { QStringLiteral("--db"), database, QStringLiteral("--listen"),
                                                      QStringLiteral("127.0.0.1:0"), QStringLiteral("--call-log"), m_callLog });
    QString address;
    QDeadlineTimer deadline(kConditionWaitMs);
    while (address.isEmpty() && m_server.waitForReadyRead(int(deadline.remainingTime()))) {
        while (m_server.canReadLine()) {
            const QString line = QString::fromUtf8(m_server.readLine()).trimmed();
            if (line.startsWith(QLatin1String("listening on ")))
                address = line.mid(13);
        }
    }
    if (address.isEmpty()) {
        m_failure = QStringLiteral("the server did not start");
        return;
    }
    if (relayed) {
        m_relay = std::make_unique<SlowRelay>(quint16(address.section(QLatin1Char(':'), 1).toUInt()));
        address = m_relay->address();
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_work.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.remove(QStringLiteral("QLX_SERVER"));
    m_host.setProcessEnvironment(environment);
    m_host.setWorkingDirectory(outputDirectory()); // where the directory dialog opens
    m_host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments { QStringLiteral("--server"), address };
    if (open)
        arguments << QStringLiteral("--open");
    EndsWithTheTest(m_host);
    m_host.start(QStringLiteral(QLX_HOST_PATH), arguments);
    const QString expected = open ? kScreenTitle : QStringLiteral("QLX - Cliente");
    const QString window = waitForActiveWindow(expected);
    if (window.isEmpty()) {
        m_failure = QStringLiteral("no active window \"%1\" (the active one: \"%2\")").arg(expected, activeWindowName());
        return;
    }
    // Ready once painted: the directory field shows its information background.
    if (open && waitForPixel(window, QPoint(300, 97), QColor(0xFFFFE1)) != QColor(0xFFFFE1)) {
        m_failure = QStringLiteral("the screen was not painted");
        return;
    }
    if (open)
        m_screen = window;
}

Session::~Session()
{
    if (QTest::currentTestFailed()) {
        const QString name = QStringLiteral("desktop-%1-%2.png")
                                 .arg(QString::fromLatin1(QTest::currentTestFunction()),
                                      QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
        screenshot(QDir::current().filePath(name));
        qWarning("screenshot at the failure: %s (the active window: \"%s\")", qPrintable(QDir::current().filePath(name)),
                 qPrintable(activeWindowName()));
    }
    stopProcess(m_host);
    stopProcess(m_server);
}

void Session::setSlow(bool slow, qsizetype bytesAtATime)
{
    if (m_relay)
        m_relay->setSlow(slow, bytesAtATime);
}

QStringList Session::calls() const
{
    QFile log(m_callLog);
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool Session::waitForCalls(int count) const
{
    return QTest::qWaitFor([&] { return calls().size() >= count; }, kConditionWaitMs);
}

} // namespace desktop
