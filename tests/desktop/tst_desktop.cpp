// The screen on a real X server with a window manager: the real host against the
// real server, driven by real key strokes and clicks; results read from the
// files written, the server's call log, window titles, the clipboard and
// screenshots.
#include "tests/desktop/desktop.h"

#include "hostlib/widgets/busyanimation.h"

#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPalette>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

using namespace desktop;

namespace {

const QString kScreen = QStringLiteral("Geração do Arquivo de Tradução das Tabelas");
const QString kQuestion = QStringLiteral("Confirmação");
const QString kNotice = QStringLiteral("Informação");
// A menu command on a host just started is pressed at most this often, waiting this long each time.
constexpr int kMenuAttempts = 3;
constexpr int kMenuWaitMs = 10000;
const QString kError = QStringLiteral("Erro");

// Where the screen's controls are, in its client area.
const QPoint kLanguage(240, 33);
const QPoint kDate(200, 58);
const QPoint kTime(300, 58);
const QPoint kDirectory(300, 97);
const QPoint kLista(350, 57);

// The demo database's tables, as the table list carries them.
QString padded(const QStringList &codes)
{
    QString list;
    for (const QString &code : codes)
        list += code.leftJustified(20, QLatin1Char(' '));
    return list;
}

QJsonObject call(const QString &line)
{
    return QJsonDocument::fromJson(line.toUtf8()).object();
}

QJsonObject argument(const char *kind, const QJsonValue &value)
{
    return QJsonObject { { QStringLiteral("kind"), QLatin1String(kind) }, { QStringLiteral("value"), value } };
}

// The text of the focused field (never empty for the fields read here), copied
// through the clipboard by the user's keys.
QString copiedText()
{
    const QString mark = QStringLiteral("(nada copiado)");
    QGuiApplication::clipboard()->setText(mark);
    keys({ QStringLiteral("ctrl+a"), QStringLiteral("ctrl+c") });
    QString text = mark;
    const bool copied = QTest::qWaitFor([&] {
        text = QGuiApplication::clipboard()->text();
        return text != mark && !text.isEmpty(); // empty while the owner changes
    }, kConditionWaitMs);
    return copied ? text : mark;
}

// The script files in a directory.
QStringList scripts(const QString &directory)
{
    return QDir(directory).entryList({ QStringLiteral("TRD_*.sql") }, QDir::Files);
}

QString scriptNameOf(QDate day)
{
    return QStringLiteral("TRD_%1%2%3.sql").arg(day.year()).arg(day.month()).arg(day.day());
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private:
    // Picks Espanhol in the language list (the focus is there when the screen
    // opens), then types the date, the time and the output directory.
    void fillTheScreen(Session &session, const QString &time = QStringLiteral("0000"))
    {
        type(QStringLiteral("E"));
        clickField(session, kDate);
        type(QStringLiteral("01012025"));
        keys({ QStringLiteral("Tab") });
        type(time);
        keys({ QStringLiteral("Tab") });
        type(session.outputDirectory());
    }

    // A click into a field, the cursor then put at its start.
    static void clickField(const Session &session, QPoint field)
    {
        click(session.screen(), field);
        keys({ QStringLiteral("Home") });
    }

    // Waits for the window of that title and answers it with the key.
    static bool press(const QString &title, const QString &key)
    {
        if (waitForActiveWindow(title).isEmpty())
            return false;
        keys({ key });
        return true;
    }
    // The same, then waits for the screen to be active again.
    static bool answer(const Session &session, const QString &title, const QString &key)
    {
        return press(title, key) && waitForActiveWindow(kScreen) == session.screen();
    }

private slots:
    void confirmWritesTheScript_data()
    {
        QTest::addColumn<bool>("lista");
        QTest::newRow("Todos") << false;
        QTest::newRow("picked list") << true;
    }
    void confirmWritesTheScript()
    {
        QFETCH(bool, lista);
        Session session;
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        const QDate before = QDate::currentDate();
        fillTheScreen(session);
        if (lista) {
            click(session.screen(), kLista);
            keys({ QStringLiteral("F9") });
            QVERIFY(!waitForActiveWindow(QStringLiteral("Tabelas")).isEmpty());
            // The rows: CATEGORIA, MENSAGEM, PRODUTO, UNIDADE; pick the last two.
            keys({ QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("space"), QStringLiteral("Down"),
                   QStringLiteral("space"), QStringLiteral("Return") });
            QCOMPARE(waitForActiveWindow(kScreen), session.screen());
        }
        keys({ QStringLiteral("alt+c") });
        QVERIFY(answer(session, kNotice, QStringLiteral("Return")));

        const QStringList written = scripts(session.outputDirectory());
        QCOMPARE(written.size(), 1);
        QVERIFY(written.first() == scriptNameOf(before) || written.first() == scriptNameOf(QDate::currentDate()));
        const QByteArray script = fileBytes(QDir(session.outputDirectory()).filePath(written.first()));
        QVERIFY(script.endsWith("\r\n"));
        QCOMPARE(script.contains("'CATEGORIA'"), !lista);
        QVERIFY(script.contains("'UNIDADE'"));

        const QStringList calls = session.calls();
        QStringList methods;
        for (const QString &line : calls)
            methods << call(line).value(QStringLiteral("method")).toString();
        const QString all = padded({ QStringLiteral("CATEGORIA"), QStringLiteral("MENSAGEM"), QStringLiteral("PRODUTO"),
                                     QStringLiteral("UNIDADE") });
        const QString picked = padded({ QStringLiteral("PRODUTO"), QStringLiteral("UNIDADE") });
        const QJsonArray tablePick { argument("str", QString()), argument("str", QStringLiteral("T")) };
        if (lista) {
            QCOMPARE(methods, (QStringList { "GetIdioma", "GetTabela", "GetTabela", "GetPropriedCds" }));
            QCOMPARE(call(calls.at(1)).value(QStringLiteral("args")).toArray(), tablePick);
            QCOMPARE(call(calls.at(2)).value(QStringLiteral("args")).toArray(),
                     (QJsonArray { argument("strref", picked), argument("str", QString()) }));
        } else {
            QCOMPARE(methods, (QStringList { "GetIdioma", "GetTabela", "GetPropriedCds" }));
            QCOMPARE(call(calls.at(1)).value(QStringLiteral("args")).toArray(), tablePick);
        }
        QCOMPARE(call(calls.last()).value(QStringLiteral("args")).toArray(),
                 (QJsonArray { argument("str", QStringLiteral("ESP")), argument("strref", lista ? picked : all),
                               argument("date", 45658.0) })); // 1 January 2025, 00:00
    }

    void overwriteQuestion_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("answered No (Escape)") << QStringLiteral("Escape") << false;
        QTest::newRow("answered Yes (Enter)") << QStringLiteral("Return") << true;
    }
    void overwriteQuestion()
    {
        QFETCH(QString, key);
        QFETCH(bool, replaced);
        Session session;
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        // Today's file, and tomorrow's should the run start past midnight.
        const QDate today = QDate::currentDate();
        for (const QDate day : { today, today.addDays(1) }) {
            QFile earlier(QDir(session.outputDirectory()).filePath(scriptNameOf(day)));
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            earlier.write("earlier\r\n");
        }
        fillTheScreen(session);
        keys({ QStringLiteral("alt+c") });
        QVERIFY(press(kQuestion, key)); // "Deseja sobrepor o arquivo já existente?"
        if (replaced)
            QVERIFY(answer(session, kNotice, QStringLiteral("Return")));
        else
            QCOMPARE(waitForActiveWindow(kScreen), session.screen());
        int changed = 0;
        for (const QDate day : { today, today.addDays(1) })
            changed += fileBytes(QDir(session.outputDirectory()).filePath(scriptNameOf(day))) != "earlier\r\n";
        QCOMPARE(changed, replaced ? 1 : 0);
    }

    void directoryDialogTakesATypedNewNameByItsButton()
    {
        Session session;
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        click(session.screen(), kDirectory);
        keys({ QStringLiteral("F9") });
        QVERIFY(!waitForActiveWindow(QStringLiteral("Selecionar diretório")).isEmpty());
        type(QStringLiteral("novo"));
        // From the name, Tab goes to the type list, then to "Selecionar" only
        // while it is enabled (else to "Cancelar"); Space presses it.
        keys({ QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("space") });
        QCOMPARE(waitForActiveWindow(kScreen), session.screen());
        const QString chosen = QDir(session.outputDirectory()).filePath(QStringLiteral("novo"));
        QCOMPARE(copiedText(), chosen);
        QVERIFY(!QFileInfo::exists(chosen)); // neither created nor asked about yet

        // Leaving the field asks to create it; Yes creates it.
        keys({ QStringLiteral("Tab") });
        QVERIFY(answer(session, kQuestion, QStringLiteral("Return")));
        QVERIFY(QFileInfo(chosen).isDir());
    }

    void createDirectoryQuestion_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("created");
        QTest::newRow("Yes creates it") << QStringLiteral("Return") << true;
        QTest::newRow("No refuses it") << QStringLiteral("Escape") << false;
    }
    void createDirectoryQuestion()
    {
        QFETCH(QString, key);
        QFETCH(bool, created);
        Session session;
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        const QString missing = QDir(session.outputDirectory()).filePath(QStringLiteral("falta"));
        click(session.screen(), kDirectory);
        type(missing);
        click(session.screen(), kTime);
        QVERIFY(press(kQuestion, key)); // "Diretório não existe. Deseja criá-lo?"
        if (created)
            QCOMPARE(waitForActiveWindow(kScreen), session.screen());
        else
            QVERIFY(answer(session, kError, QStringLiteral("Return"))); // "Não é possível gerar arquivo..."
        QCOMPARE(QFileInfo(missing).isDir(), created);
        // The field got its trailing separator; refused, the focus is back in it.
        if (!created)
            QCOMPARE(copiedText(), missing + QLatin1Char('/'));
    }

    void leavingForAnotherApplicationAndComingBack_data()
    {
        QTest::addColumn<QPoint>("field");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("asks"); // leaving the field then asks to create the directory
        QTest::newRow("time field") << kTime << QStringLiteral("1") << QStringLiteral("2") << false;
        QTest::newRow("directory field") << kDirectory << QStringLiteral("/tmp/qlx-desktop-falta") << QStringLiteral("x") << true;
    }
    void leavingForAnotherApplicationAndComingBack()
    {
        QFETCH(QPoint, field);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(bool, asks);
        Session session;
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        clickField(session, field);
        type(before);

        // Another application (a window of this test's process), where the user
        // types something before coming back.
        QLineEdit other;
        other.setWindowTitle(QStringLiteral("Outra aplicacao"));
        other.resize(300, 40);
        other.show();
        xdotool({ QStringLiteral("windowactivate"), QString::number(other.winId()) });
        QVERIFY(!waitForActiveWindow(QStringLiteral("Outra aplicacao")).isEmpty());
        xdotool({ QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("100"), QStringLiteral("outra coisa") });
        QTRY_COMPARE_WITH_TIMEOUT(other.text(), QStringLiteral("outra coisa"), kConditionWaitMs);
        xdotool({ QStringLiteral("windowactivate"), session.screen() });
        QCOMPARE(waitForActiveWindow(kScreen), session.screen());
        other.hide();

        // The focus stayed in the field: the typing goes on there.
        type(after);
        keys({ QStringLiteral("Tab") });
        if (asks) {
            QVERIFY(press(kQuestion, QStringLiteral("Escape")));
            QVERIFY(answer(session, kError, QStringLiteral("Return")));
            QCOMPARE(copiedText(), before + after + QLatin1Char('/'));
        } else {
            keys({ QStringLiteral("shift+Tab") });
            QCOMPARE(copiedText(), QStringLiteral("12:00"));
        }
    }

    void timeNormalisedWhenLeft_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("by Tab") << 0;
        QTest::newRow("by a mouse click") << 1;
        QTest::newRow("from behind a message box") << 2;
    }
    void timeNormalisedWhenLeft()
    {
        QFETCH(int, how);
        Session session;
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        if (how == 2) {
            // A directory that exists when the directory field is left, and is gone
            // when the time is typed: the time's change asks about it, and the
            // refusal puts the focus in the directory field from behind its message.
            const QString directory = QDir(session.outputDirectory()).filePath(QStringLiteral("some"));
            clickField(session, kDirectory);
            type(directory);
            clickField(session, kTime);
            QVERIFY(answer(session, kQuestion, QStringLiteral("Return"))); // created
            QVERIFY(QDir(directory).removeRecursively());
            keys({ QStringLiteral("Home") }); // the Home of the click went to the question
            type(QStringLiteral("9"));
            QVERIFY(press(kQuestion, QStringLiteral("Escape")));
            QVERIFY(!waitForActiveWindow(kError).isEmpty());
            QVERIFY(QDir().mkdir(directory)); // the time's next change finds it
            QVERIFY(answer(session, kError, QStringLiteral("Return")));
            keys({ QStringLiteral("shift+Tab") });
            QCOMPARE(copiedText(), QStringLiteral("09:00"));
            return;
        }
        clickField(session, kTime);
        type(QStringLiteral("9"));
        if (how == 1)
            click(session.screen(), kDirectory);
        else
            keys({ QStringLiteral("Tab") });
        keys({ QStringLiteral("shift+Tab") });
        QCOMPARE(copiedText(), QStringLiteral("09:00"));
    }

    void languageListHasTheInformationBackground()
    {
        Session session;
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        const QColor seen = waitForPixel(session.screen(), QPoint(171, 33), QColor(0xFFFFE1)); // left in the field
        screenshot(QDir::current().filePath(QStringLiteral("desktop-tela.png")));
        QCOMPARE(seen.name(), QStringLiteral("#ffffe1"));
    }

    // The table picker and a message box open centred on the screen that opened
    // them, wherever it was moved, not on the host's window.
    void dialogsCentredOnTheScreen_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::newRow("table picker") << QStringLiteral("Tabelas");
        QTest::newRow("message box") << kError;
        QTest::newRow("message box after the fetch") << kNotice;
    }
    void dialogsCentredOnTheScreen()
    {
        QFETCH(QString, dialog);
        Session session;
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        xdotool({ QStringLiteral("windowmove"), session.screen(), QStringLiteral("480"), QStringLiteral("400") });
        QVERIFY(QTest::qWaitFor([&] { return geometry(session.screen()).left() >= 480; }, kConditionWaitMs));
        const QRect screen = geometry(session.screen());
        if (dialog == kError) {
            keys({ QStringLiteral("alt+c") }); // nothing filled: the language's message
        } else if (dialog == kNotice) {
            fillTheScreen(session);
            keys({ QStringLiteral("alt+c") }); // the script written: the success notice
        } else {
            click(session.screen(), kLista);
            keys({ QStringLiteral("F9") });
        }
        const QString opened = waitForActiveWindow(dialog);
        QVERIFY(!opened.isEmpty());
        const QRect shown = geometry(opened);
        keys({ QStringLiteral("Escape") });
        // Centred on the frames: the client areas' centres differ by about a title bar.
        QVERIFY2(qAbs(shown.center().x() - screen.center().x()) <= 4 && qAbs(shown.center().y() - screen.center().y()) <= 32,
                 qPrintable(QStringLiteral("the dialog's centre (%1, %2), the screen's (%3, %4)")
                                .arg(shown.center().x()).arg(shown.center().y()).arg(screen.center().x()).arg(screen.center().y())));
    }

    // A screen closed while minimised (a taskbar's close) comes back at the next launch
    // as it was left, in its normal state, drawn, with its values, and the main window is free.
    void closedWhileMinimisedComesBackNormal()
    {
        Session session;
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        type(QStringLiteral("E")); // Espanhol
        xdotool({ QStringLiteral("windowminimize"), session.screen() });
        QVERIFY2(QTest::qWaitFor([&] { return windowState(session.screen()) == QLatin1String("Iconic"); }, kConditionWaitMs),
                 qPrintable(windowState(session.screen())));
        run(QStringLiteral("wmctrl"), { QStringLiteral("-i"), QStringLiteral("-c"), session.screen() }); // a taskbar's close
        QVERIFY(!waitForActiveWindow(QStringLiteral("QLX - Cliente")).isEmpty());
        keys({ QStringLiteral("alt+m") });
        keys({ QStringLiteral("g") });
        const QString again = waitForActiveWindow(kScreen);
        QVERIFY2(!again.isEmpty(), qPrintable(activeWindowName()));
        QCOMPARE(windowState(again), QStringLiteral("Normal"));
        QCOMPARE(waitForPixel(again, kDirectory, QColor(0xFFFFE1)), QColor(0xFFFFE1)); // drawn, not a blank frame
        const QString shown = textIn(session, geometry(again));
        QVERIFY2(shown.contains(QLatin1String("Espanhol")), qPrintable(shown));
        keys({ QStringLiteral("alt+n") });
        QVERIFY(!waitForActiveWindow(QStringLiteral("QLX - Cliente")).isEmpty());
    }

    void aboutShowsTheVersionRecord()
    {
        Session session(false);
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        // The window manager may show the main window active a moment before the host
        // takes its keys (a slow sanitizer build): a menu key lost then is pressed again.
        bool shown = false;
        for (int attempt = 0; attempt < kMenuAttempts && !shown; ++attempt) {
            keys({ QStringLiteral("Escape") });
            keys({ QStringLiteral("alt+a") });
            keys({ QStringLiteral("s") });
            shown = QTest::qWaitFor([] { return activeWindowName() == kNotice; }, kMenuWaitMs);
        }
        QVERIFY(shown);
        const QImage picture = screenshot(QDir::current().filePath(QStringLiteral("desktop-sobre.png")));
        QVERIFY(!picture.isNull());
        keys({ QStringLiteral("Return") });
        QVERIFY(!waitForActiveWindow(QStringLiteral("QLX - Cliente")).isEmpty());
    }

    // Against answers that come a byte every 20 ms: the busy window is drawn over the
    // screen and keeps moving, an uncovered part of the screen is repainted, and
    // keys, a second confirm and a close request (Alt+F4) change nothing.
    void screenAliveAndHeldDuringASlowFetch()
    {
        Session session(true, true);
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        fillTheScreen(session);
        const QRect area = busyArea(session);
        const QImage under = screenshot().copy(area);
        session.setSlow(true);
        keys({ QStringLiteral("alt+c") });
        QVERIFY2(QTest::qWaitFor([&] { return screenshot().copy(area) != under; }, kConditionWaitMs), "the busy window was not drawn");
        const QImage drawn = screenshot(QDir::current().filePath(QStringLiteral("desktop-ocupado.png"))).copy(area);
        QVERIFY2(QTest::qWaitFor([&] { return screenshot().copy(area) != drawn; }, 2000), "the busy window did not move");

        // A window over the directory field's right end (clear of the busy window),
        // gone again mid-fetch: the field is repainted.
        const QPoint fieldEnd(430, 97);
        const QPoint field = geometry(session.screen()).topLeft() + fieldEnd;
        QWidget cover(nullptr, Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
        cover.setAutoFillBackground(true);
        cover.setPalette(QPalette(Qt::red));
        cover.setGeometry(QRect(field - QPoint(30, 10), QSize(60, 20)));
        cover.show();
        QVERIFY(QTest::qWaitFor([&] { return QColor(screenshot().pixel(field)) == QColor(Qt::red); }, kConditionWaitMs));
        cover.hide();
        QCOMPARE(waitForPixel(session.screen(), fieldEnd, QColor(0xFFFFE1)).name(), QStringLiteral("#ffffe1"));
        QVERIFY2(screenshot().copy(area) != under, "the fetch ended before the window was uncovered");

        type(QStringLiteral("xyz"));
        keys({ QStringLiteral("Tab"), QStringLiteral("alt+c"), QStringLiteral("alt+F4") });
        QVERIFY2(screenshot().copy(area) != under, "the fetch ended before the input was sent");
        session.setSlow(false);
        QVERIFY(answer(session, kNotice, QStringLiteral("Return")));

        const QStringList written = scripts(session.outputDirectory());
        QCOMPARE(written.size(), 1);
        const QString path = QDir(session.outputDirectory()).filePath(written.first());
        const QByteArray script = fileBytes(path);
        QVERIFY(script.contains("'UNIDADE'"));
        int fetches = 0;
        for (const QString &line : session.calls())
            fetches += call(line).value(QStringLiteral("method")).toString() == QLatin1String("GetPropriedCds");
        QCOMPARE(fetches, 1);
        // An undisturbed run writes the same bytes.
        keys({ QStringLiteral("alt+c") });
        QVERIFY(press(kQuestion, QStringLiteral("Return")));
        QVERIFY(answer(session, kNotice, QStringLiteral("Return")));
        QCOMPARE(fileBytes(path), script);
    }

    // The busy window's count, read from its pixels, follows the lines as they arrive:
    // over about two seconds of a slow generation it is read growing at least twice.
    void busyWindowCountsTheLinesAsTheyArrive()
    {
        constexpr int kMoreLines = 600;
        Session session(true, true, kMoreLines);
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        fillTheScreen(session);
        const QRect area = busyArea(session);
        const QImage under = screenshot().copy(area);
        session.setSlow(true, kSlowSliceBytes);
        keys({ QStringLiteral("alt+c") });
        QVERIFY2(QTest::qWaitFor([&] { return screenshot().copy(area) != under; }, kConditionWaitMs), "the busy window was not drawn");
        QRect busy;
        QVERIFY2(QTest::qWaitFor([&] { return !(busy = busyWindow(session)).isEmpty(); }, kConditionWaitMs),
                 "no busy window among the host's");
        QList<qint64> counts;
        QStringList read;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 2500 || counts.size() < 3) {
            if (clock.elapsed() > kConditionWaitMs)
                break;
            const QString text = textIn(session, busy);
            read << text;
            const QRegularExpressionMatch count = QRegularExpression(QStringLiteral("([0-9][0-9.]*) linhas recebidas")).match(text);
            if (count.hasMatch() && (counts.isEmpty() || counts.last() != count.captured(1).remove(QLatin1Char('.')).toLongLong()))
                counts << count.captured(1).remove(QLatin1Char('.')).toLongLong();
        }
        QVERIFY2(screenshot().copy(area) != under, "the generation ended while the count was read");
        const QString seen = read.join(QLatin1String(" | ")).simplified();
        QVERIFY2(counts.size() >= 3, qPrintable(seen));
        for (qsizetype i = 1; i < counts.size(); ++i)
            QVERIFY2(counts.at(i) > counts.at(i - 1), qPrintable(seen));
        session.setSlow(false);
        QVERIFY(answer(session, kNotice, QStringLiteral("Return")));
        const QStringList written = scripts(session.outputDirectory());
        QCOMPARE(written.size(), 1);
        const qsizetype lines = fileBytes(QDir(session.outputDirectory()).filePath(written.first())).count("\r\n");
        QVERIFY(lines > kMoreLines);
        QVERIFY2(counts.last() < lines, qPrintable(seen)); // read while lines were still on their way
    }

    // The window manager's ping is answered within a second, idle and during a slow
    // fetch; a host held still (SIGSTOP) answers none, so the check is not void.
    void answersTheWindowManagersPing_data()
    {
        QTest::addColumn<bool>("fetching");
        QTest::addColumn<bool>("frozen");
        QTest::newRow("idle") << false << false;
        QTest::newRow("during a slow fetch") << true << false;
        QTest::newRow("host stopped") << false << true;
    }
    void answersTheWindowManagersPing()
    {
        QFETCH(bool, fetching);
        QFETCH(bool, frozen);
        Session session(true, true);
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        constexpr int kPingAnswerMs = 1000;
        if (frozen) {
            QCOMPARE(::kill(pid_t(session.hostProcessId()), SIGSTOP), 0);
            const bool answered = answersPing(session.screen(), kPingAnswerMs);
            QCOMPARE(::kill(pid_t(session.hostProcessId()), SIGCONT), 0);
            QVERIFY2(!answered, "a stopped host answered the ping");
            QVERIFY2(answersPing(session.screen(), kPingAnswerMs), "no answer once the host runs again");
            return;
        }
        QRect area;
        QImage under;
        if (fetching) {
            fillTheScreen(session);
            area = busyArea(session);
            under = screenshot().copy(area);
            session.setSlow(true);
            keys({ QStringLiteral("alt+c") });
            QVERIFY2(QTest::qWaitFor([&] { return screenshot().copy(area) != under; }, kConditionWaitMs),
                     "the busy window was not drawn");
        }
        for (int ping = 0; ping < 3; ++ping)
            QVERIFY2(answersPing(session.screen(), kPingAnswerMs), qPrintable(QStringLiteral("ping %1 unanswered").arg(ping)));
        if (fetching) {
            QVERIFY2(screenshot().copy(area) != under, "the fetch ended before the pings were answered");
            session.setSlow(false);
            QVERIFY(answer(session, kNotice, QStringLiteral("Return")));
        }
    }

    // Esc on the busy window asks; Sim ends the fetch, writes nothing and keeps the
    // earlier file; the next confirm works.
    void cancelDuringASlowFetch()
    {
        Session session(true, true);
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        const QDate today = QDate::currentDate();
        for (const QDate day : { today, today.addDays(1) }) {
            QFile earlier(QDir(session.outputDirectory()).filePath(scriptNameOf(day)));
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            earlier.write("earlier\r\n");
        }
        fillTheScreen(session);
        const QRect area = busyArea(session);
        const QImage under = screenshot().copy(area);
        session.setSlow(true);
        keys({ QStringLiteral("alt+c") });
        // The tables come slowly too, under a busy window of their own: the lines'
        // window is up once their call has gone.
        QVERIFY(session.waitForCalls(3));
        QVERIFY2(QTest::qWaitFor([&] { return screenshot().copy(area) != under; }, kConditionWaitMs), "the busy window was not drawn");
        keys({ QStringLiteral("Escape") });
        // The question shows over the busy window, readable, and a click on its Sim answers it.
        const QString question = waitForActiveWindow(kQuestion);
        QVERIFY(!question.isEmpty());
        const QRect box = geometry(question);
        QVERIFY2(QTest::qWaitFor([&] { return textIn(session, box).contains(QLatin1String("Deseja cancelar")); }, kConditionWaitMs),
                 qPrintable(textIn(session, box)));
        const QPoint sim = wordCentre(session, box, QStringLiteral("Sim"));
        QVERIFY2(!sim.isNull(), "no Sim on the question");
        xdotool({ QStringLiteral("mousemove"), QString::number(sim.x()), QString::number(sim.y()), QStringLiteral("click"),
                  QStringLiteral("1") });
        QCOMPARE(waitForActiveWindow(kScreen), session.screen());
        QVERIFY2(QTest::qWaitFor([&] { return screenshot().copy(area) == under; }, kConditionWaitMs), "the busy window stayed");
        QCOMPARE(scripts(session.outputDirectory()).size(), 2);
        for (const QDate day : { today, today.addDays(1) })
            QCOMPARE(fileBytes(QDir(session.outputDirectory()).filePath(scriptNameOf(day))), QByteArray("earlier\r\n"));

        session.setSlow(false);
        keys({ QStringLiteral("alt+c") });
        QVERIFY(press(kQuestion, QStringLiteral("Return"))); // replace the earlier file
        QVERIFY(answer(session, kNotice, QStringLiteral("Return")));
        int replaced = 0;
        for (const QDate day : { today, today.addDays(1) })
            replaced += fileBytes(QDir(session.outputDirectory()).filePath(scriptNameOf(day))).contains("'UNIDADE'");
        QCOMPARE(replaced, 1);
    }

    // A Confirmar whose tables come slowly shows the busy window within a second, while
    // the tables are still on their way, and lets the user end the wait.
    void busyWindowWhileTheTablesComeSlowly()
    {
        Session session(true, true);
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        fillTheScreen(session);
        const QRect area = busyArea(session);
        const QImage under = screenshot().copy(area);
        session.setSlow(true);
        keys({ QStringLiteral("alt+c") });
        QVERIFY(session.waitForCalls(2)); // GetIdioma, GetTabela
        QElapsedTimer waited;
        waited.start();
        QVERIFY2(QTest::qWaitFor([&] { return screenshot().copy(area) != under; }, kConditionWaitMs), "no busy window");
        QVERIFY2(waited.elapsed() < 1000, qPrintable(QString::number(waited.elapsed())));
        QCOMPARE(session.calls().size(), 2); // the lines not asked for yet
        // It offers the cancel: Esc asks, Sim ends the wait and the lines are never asked for.
        keys({ QStringLiteral("Escape") });
        QVERIFY(answer(session, kQuestion, QStringLiteral("Return")));
        QVERIFY2(QTest::qWaitFor([&] { return screenshot().copy(area) == under; }, kConditionWaitMs), "the busy window stayed");
        session.setSlow(false);
        QTest::qWait(500);
        QCOMPARE(session.calls().size(), 2);
        QVERIFY(scripts(session.outputDirectory()).isEmpty());
    }

    // A host killed in the middle of a generation leaves nothing in the directory.
    void killedHostLeavesNothing()
    {
        Session session(true, true, 20000);
        QVERIFY2(session.failure().isEmpty(), qPrintable(session.failure()));
        fillTheScreen(session);
        session.setSlow(true, 16 * 1024); // the first part (1 MiB) in about a second, all in about two
        keys({ QStringLiteral("alt+c") });
        QVERIFY(session.waitForCalls(3));
        QTest::qWait(1500); // the first part's lines in the file
        const pid_t host = pid_t(session.hostProcessId());
        QCOMPARE(::kill(host, SIGKILL), 0);
        QVERIFY(QTest::qWaitFor([&] { return session.hostProcessId() == 0; }, kConditionWaitMs)); // ended and reaped
        QCOMPARE(QDir(session.outputDirectory()).entryList(QDir::Files | QDir::Hidden), QStringList {});
    }

private:
    // The pace of a slow generation for its count: a few lines every tenth of a second.
    static constexpr qsizetype kSlowSliceBytes = 60;

    // A window's ICCCM state as the window manager set it: Normal, Iconic or Withdrawn.
    static QString windowState(const QString &window)
    {
        const QString shown = run(QStringLiteral("xprop"), { QStringLiteral("-id"), window, QStringLiteral("WM_STATE") });
        const QRegularExpressionMatch state = QRegularExpression(QStringLiteral("window state: (\\w+)")).match(shown);
        return state.hasMatch() ? state.captured(1) : QStringLiteral("Withdrawn");
    }

    // The host's busy window: the one over the middle of the screen, smaller than it.
    static QRect busyWindow(const Session &session)
    {
        const QRect screen = geometry(session.screen());
        for (const QString &window : windowsOf(session.hostProcessId())) {
            const QRect area = geometry(window);
            if (window != session.screen() && area.contains(screen.center()) && area.width() < screen.width())
                return area;
        }
        return QRect();
    }

    // The text in a rectangle of the screen, read by OCR from its picture made larger.
    static QString textIn(const Session &session, const QRect &rectangle)
    {
        const QImage picture = screenshot().copy(rectangle).convertToFormat(QImage::Format_Grayscale8);
        const QString file = QDir(session.workDirectory()).filePath(QStringLiteral("ocr.png"));
        picture.scaled(picture.size() * 3, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(file);
        return run(QStringLiteral("tesseract"), { file, QStringLiteral("stdout"), QStringLiteral("--psm"), QStringLiteral("6") });
    }

    // The middle of a word in a rectangle of the screen, in screen coordinates, found by
    // OCR as a person finds it by eye; null where it is not to be read there.
    static QPoint wordCentre(const Session &session, const QRect &rectangle, const QString &word)
    {
        constexpr int kScale = 3;
        const QImage picture = screenshot().copy(rectangle).convertToFormat(QImage::Format_Grayscale8);
        const QString file = QDir(session.workDirectory()).filePath(QStringLiteral("ocr-words.png"));
        picture.scaled(picture.size() * kScale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(file);
        // One word a line: level, page, block, paragraph, line, word, left, top, width, height, confidence, text.
        const QString words = run(QStringLiteral("tesseract"), { file, QStringLiteral("stdout"), QStringLiteral("--psm"),
                                                                  QStringLiteral("11"), QStringLiteral("tsv") });
        for (const QString &line : words.split(QLatin1Char('\n'))) {
            const QStringList fields = line.split(QLatin1Char('\t'));
            if (fields.size() == 12 && fields.at(11).trimmed() == word) {
                const QRect found(fields.at(6).toInt(), fields.at(7).toInt(), fields.at(8).toInt(), fields.at(9).toInt());
                return rectangle.topLeft() + found.center() / kScale;
            }
        }
        return QPoint();
    }

    // Where the busy window shows: around the middle of the screen's window.
    static QRect busyArea(const Session &session)
    {
        const QPoint middle = geometry(session.screen()).center();
        return QRect(middle - QPoint(90, 35), QSize(180, 70));
    }
};

int main(int argc, char *argv[])
{
    QString error;
    if (!start(error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        stop();
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    int status = 0;
    {
        QApplication app(argc, argv);
        TestDesktop test;
        status = QTest::qExec(&test, argc, argv);
    }
    stop();
    return status;
}

#include "tst_desktop.moc"
