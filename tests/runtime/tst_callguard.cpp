// A remote call waits with the event loop running: the windows up when it began
// take no input and fire no handlers meanwhile; keys go to the busy window, whose
// Esc cancels the call.
#include "tests/support/fakeserver.h"

#include "hostlib/core/netconnection.h"
#include "hostlib/widgets/busyanimation.h"
#include "runtime/core/exceptions.h"
#include "runtime/widgets/callguard.h"
#include "runtime/widgets/edit.h"
#include "runtime/widgets/form.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

// An answer that takes about a second to arrive, a byte at a time.
QByteArray slowAnswer()
{
    return protocol::encodeFailureResponse(QStringLiteral("devagar"), {});
}

void pointAt(TNetConnection &connection, const FakeServer &fake)
{
    connection.Host = QStringLiteral("127.0.0.1");
    connection.Port = fake.address().section(QLatin1Char(':'), 1).toInt();
}

} // namespace

class TestCallGuard : public QObject
{
    Q_OBJECT

private slots:
    void screenHeldWhileACallWaits_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("duringCall");
        const char *names[] = { "typed keys", "click on a button", "mnemonic", "focus moved", "activated again" };
        for (int action = 0; action < 5; ++action) {
            QTest::addRow("%s, no call", names[action]) << action << false;
            QTest::addRow("%s, during a call", names[action]) << action << true;
        }
    }
    void screenHeldWhileACallWaits()
    {
        QFETCH(int, action);
        QFETCH(bool, duringCall);
        TForm form;
        form.resize(300, 120);
        auto *first = new TEdit(&form);
        auto *second = new TEdit(&form);
        second->move(0, 30);
        auto *button = new QPushButton(QStringLiteral("&Confirma"), &form);
        button->move(0, 60);
        int exits = 0, activations = 0, clicks = 0;
        first->OnExit = [&](QObject *) { ++exits; };
        form.OnActivate = [&](QObject *) { ++activations; };
        connect(button, &QPushButton::clicked, [&] { ++clicks; });
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        first->setFocus();
        QTRY_VERIFY(first->hasFocus());
        QWidget other;
        other.resize(100, 40);

        const int activationsBefore = activations;
        const std::function<void()> act = [&] {
            switch (action) {
            case 0: QTest::keyClicks(first, QStringLiteral("abc")); break;
            case 1: QTest::mouseClick(button, Qt::LeftButton); break;
            case 2: QTest::keyClick(form.windowHandle(), Qt::Key_C, Qt::AltModifier); break;
            case 3: second->setFocus(); QTRY_VERIFY(second->hasFocus()); break;
            case 4:
                other.show();
                other.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&other));
                form.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&form));
                break;
            }
        };
        const auto effect = [&] {
            switch (action) {
            case 0: return first->text() == QLatin1String("abc");
            case 1:
            case 2: return clicks == 1;
            case 3: return exits == 1;
            default: return activations == activationsBefore + 1;
            }
        };

        if (!duringCall) {
            act();
            QTRY_VERIFY(effect()); // a mnemonic clicks its button a moment later
            return;
        }
        FakeServer fake([](const protocol::Request &) { return slowAnswer(); });
        fake.setPace(std::chrono::milliseconds(30));
        TNetConnection connection;
        pointAt(connection, fake);
        bool actedMidCall = false;
        QTimer::singleShot(100, &form, [&] {
            actedMidCall = CallWaiting();
            act();
        });
        connection.Call(QStringLiteral("GetIdioma"), {});
        QVERIFY(actedMidCall);
        QTest::qWait(300); // longer than a mnemonic's delayed click
        QVERIFY(!effect());
        QVERIFY(!CallWaiting());
    }

    void escapeOnTheScreenCancelsThroughTheBusyWindow()
    {
        int calls = 0;
        FakeServer fake([&](const protocol::Request &) {
            return ++calls == 1 ? slowAnswer() : protocol::encodeFailureResponse(QStringLiteral("depressa"), {});
        });
        fake.setPace(std::chrono::milliseconds(30));
        TForm form;
        auto *edit = new TEdit(&form);
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        edit->setFocus();
        TNetConnection connection;
        pointAt(connection, fake);
        int asked = 0;
        {
            TBusyProgress progress([&] {
                ++asked;
                connection.Cancel();
            });
            QTimer::singleShot(100, &form, [&] { QTest::keyClick(edit, Qt::Key_Escape); });
            QVERIFY_THROWS_EXCEPTION(EAbort, connection.Call(QStringLiteral("GetIdioma"), {}));
        }
        QCOMPARE(asked, 1);
        QVERIFY(!connection.Connected()); // dropped: the server stops its work
        QVERIFY(!ShowAviVisible());

        // The next call connects again and is not cancelled.
        fake.setPace(std::chrono::milliseconds(0));
        const OleVariant result = connection.Call(QStringLiteral("GetIdioma"), {});
        QCOMPARE(result.toMap().value(QLatin1String("message")).toString(), QStringLiteral("depressa"));
        QCOMPARE(fake.connections(), 2);
    }

    void busyWindowCentredOverItsOpener_data()
    {
        QTest::addColumn<bool>("modal");
        QTest::newRow("over the owner") << false;
        QTest::newRow("over the screen shown modally") << true;
    }
    void busyWindowCentredOverItsOpener()
    {
        QFETCH(bool, modal);
        QWidget owner;
        owner.setGeometry(50, 60, 700, 500);
        owner.show();
        QDialog screen(&owner);
        screen.setGeometry(400, 300, 300, 200);
        QWidget *opener = &owner;
        if (modal) {
            screen.setModal(true);
            screen.show();
            QVERIFY(QTest::qWaitForWindowExposed(&screen));
            opener = &screen;
        }
        ActiveShowAvi(&owner, 6);
        QWidget *busy = nullptr;
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->objectName() == QLatin1String("busyWindow"))
                busy = window;
        }
        QVERIFY(busy);
        QVERIFY(busy->isVisible());
        QCOMPARE(busy->parentWidget(), opener);
        QVERIFY2((busy->frameGeometry().center() - opener->frameGeometry().center()).manhattanLength() <= 2,
                 qPrintable(QStringLiteral("%1,%2").arg(busy->frameGeometry().center().x()).arg(busy->frameGeometry().center().y())));
        DeactiveShowAvi();
        QVERIFY(!ShowAviVisible());
    }
};

QTEST_MAIN(TestCallGuard)
#include "tst_callguard.moc"
