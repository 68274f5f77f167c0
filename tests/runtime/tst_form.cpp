// Forms as the runtime gives them: creation, activation, exit and close events,
// and how exceptions from handlers reach the user.
#include "runtime/core/exceptions.h"
#include "runtime/widgets/application.h"
#include "runtime/widgets/edit.h"
#include "runtime/widgets/form.h"
#include "runtime/widgets/scripteddialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include "runtime/widgets/qtdialogs.h"
#include <QTest>
#include <QTimer>
#include "runtime/core/dialogs.h"

namespace {

struct CreatedForm : TForm
{
    static inline std::function<void()> creation;
    CreatedForm() { OnCreate = [](QObject *) { if (creation) creation(); }; }
};

struct FailingForm : TForm
{
    FailingForm() { throw Exception(QStringLiteral("no resources")); }
};

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void creationHandlerFailure_data()
    {
        QTest::addColumn<int>("failure");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("runtime exception reported") << 1 << QStringList{ QStringLiteral("sem conexão") };
        QTest::newRow("abort is silent") << 2 << QStringList{};
        QTest::newRow("no failure") << 0 << QStringList{};
    }
    void creationHandlerFailure()
    {
        QFETCH(int, failure);
        QFETCH(QStringList, shown);
        TScriptedDialogService dialogs;
        CreatedForm::creation = [failure] {
            if (failure == 1)
                throw ESocketError(QStringLiteral("sem conexão"));
            if (failure == 2)
                throw EAbort();
        };
        CreatedForm *form = nullptr;
        Application().CreateForm(form);
        QVERIFY(form); // creation completes whatever the handler did
        QCOMPARE(dialogs.texts(), shown);
        delete form;
    }

    void failingConstructorLeavesReferenceEmpty()
    {
        FailingForm *form = reinterpret_cast<FailingForm *>(this);
        QVERIFY_THROWS_EXCEPTION(Exception, Application().CreateForm(form));
        QVERIFY(form == nullptr);
    }

    void exitFiresOnlyForMovesInsideTheForm()
    {
        TForm form;
        auto *first = new TEdit(&form);
        auto *second = new TEdit(&form);
        second->move(0, 30);
        QStringList exits;
        first->OnExit = [&](QObject *) { exits << QStringLiteral("first"); };
        second->OnExit = [&](QObject *) { exits << QStringLiteral("second"); };
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        first->setFocus();
        second->setFocus();
        QCOMPARE(exits, QStringList{ QStringLiteral("first") });

        QMessageBox other; // another window taking the focus is no exit
        other.show();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        other.close();
        form.activateWindow(); // what the window manager does when the box goes
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(exits, QStringList{ QStringLiteral("first") });
    }

    void activationFiresAtEveryShowing()
    {
        TForm form;
        QWidget mainWindow;
        mainWindow.show();
        int activations = 0;
        form.OnActivate = [&](QObject *) { ++activations; };
        for (int showing = 1; showing <= 2; ++showing) {
            form.show();
            form.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&form));
            QTRY_COMPARE(activations, showing);
            form.hide();
            mainWindow.activateWindow(); // the user is back in the main window
            QVERIFY(QTest::qWaitForWindowActive(&mainWindow));
        }
    }

    void backFromItsOwnMessageBoxIsNoActivation()
    {
        TForm form;
        int activations = 0;
        form.OnActivate = [&](QObject *) { ++activations; };
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTRY_COMPARE(activations, 1);

        QMessageBox own(QMessageBox::Information, QStringLiteral("t"), QStringLiteral("x"), QMessageBox::Ok, &form);
        own.show();
        own.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&own));
        own.close();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(activations, 1); // the focus stays where the handler put it

        QWidget elsewhere; // another window of the application: coming back is an activation
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTRY_COMPARE(activations, 2);
    }

    void comingBackFromAnotherApplicationIsNoActivation()
    {
        TForm form;
        auto *first = new TEdit(&form);
        auto *second = new TEdit(&form);
        second->move(0, 30);
        int activations = 0;
        form.OnActivate = [&](QObject *) {
            ++activations;
            first->setFocus();
        };
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTRY_COMPARE(activations, 1);
        second->setFocus();

        QApplication::setActiveWindow(nullptr); // the user is in another application
        QTRY_VERIFY(!form.isActiveWindow());
        QApplication::setActiveWindow(&form); // and comes back
        QTRY_VERIFY(form.isActiveWindow());
        QCOMPARE(activations, 1);
        QCOMPARE(QApplication::focusWidget(), second); // where the focus was, it stays
    }

    void exitFiresWhateverWindowWasInBetween_data()
    {
        QTest::addColumn<bool>("ownBox"); // the window in between: the form's own box, or another window
        QTest::addColumn<bool>("backToTheSame"); // the focus comes back to the control it left
        QTest::addColumn<QStringList>("exits");
        QTest::newRow("own box, focus moved behind it") << true << false << QStringList { QStringLiteral("first") };
        QTest::newRow("other window, focus moved behind it") << false << false << QStringList { QStringLiteral("first") };
        QTest::newRow("own box, focus back where it was") << true << true << QStringList {};
        QTest::newRow("other window, focus back where it was") << false << true << QStringList {};
    }
    void exitFiresWhateverWindowWasInBetween()
    {
        QFETCH(bool, ownBox);
        QFETCH(bool, backToTheSame);
        QFETCH(QStringList, exits);
        TForm form;
        auto *first = new TEdit(&form);
        auto *second = new TEdit(&form);
        second->move(0, 30);
        QStringList fired;
        first->OnExit = [&](QObject *) { fired << QStringLiteral("first"); };
        second->OnExit = [&](QObject *) { fired << QStringLiteral("second"); };
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        first->setFocus();

        QMessageBox between(QMessageBox::Information, QStringLiteral("t"), QStringLiteral("x"), QMessageBox::Ok,
                            ownBox ? &form : nullptr);
        between.show();
        between.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&between));
        if (!backToTheSame)
            second->setFocus(); // a check moves the focus while the box is up
        between.close();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTRY_COMPARE(QApplication::focusWidget(), backToTheSame ? first : second);
        QCOMPARE(fired, exits);
    }

    void dialogsShowTheNormalPointer_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("message") << int(TScriptedDialogService::Record::Message);
        QTest::newRow("exception box") << int(TScriptedDialogService::Record::Exception);
        QTest::newRow("directory dialog") << int(TScriptedDialogService::Record::Directory);
        QTest::newRow("picker") << int(TScriptedDialogService::Record::Modal);
    }
    void dialogsShowTheNormalPointer()
    {
        QFETCH(int, kind);
        TScriptedDialogService dialogs;
        Application().SetCursor(crHourGlass);
        QDialog picker;
        QString directory;
        switch (TScriptedDialogService::Record::Kind(kind)) {
        case TScriptedDialogService::Record::Message: MessageDlg(QStringLiteral("m"), TMsgDlgType::Error, mbOK, 0); break;
        case TScriptedDialogService::Record::Exception: Application().HandleException(Exception(QStringLiteral("e"))); break;
        case TScriptedDialogService::Record::Directory: SelectDirectory(directory, sdAllowCreate, 0); break;
        case TScriptedDialogService::Record::Modal: Dialogs().execModal(picker); break;
        }
        const Qt::CursorShape after = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor;
        Application().SetCursor(crDefault);
        QCOMPARE(dialogs.records.size(), 1);
        QCOMPARE(dialogs.records.first().pointer, Qt::ArrowCursor);
        QCOMPARE(after, Qt::WaitCursor); // the busy cursor is back once the dialog goes
    }

    void closeHandlerDecides_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("visibleAfter");
        QTest::newRow("hide") << int(TCloseAction::caHide) << false;
        QTest::newRow("none keeps it open") << int(TCloseAction::caNone) << true;
    }
    void closeHandlerDecides()
    {
        QFETCH(int, action);
        QFETCH(bool, visibleAfter);
        TForm form;
        int closes = 0;
        form.OnClose = [&](QObject *, TCloseAction &chosen) {
            ++closes;
            chosen = TCloseAction(action);
        };
        form.show();
        form.close();
        QCOMPARE(form.isVisible(), visibleAfter);
        QCOMPARE(closes, 1);
    }

    void qtMessageBoxesAnswerTheKeyboard_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("captions");
        QTest::newRow("Enter says Sim") << int(mbYes | mbNo) << int(Qt::Key_Return) << int(mrYes) << QStringList { "&Não", "&Sim" };
        QTest::newRow("Escape says Não") << int(mbYes | mbNo) << int(Qt::Key_Escape) << int(mrNo) << QStringList { "&Não", "&Sim" };
        QTest::newRow("OK box") << int(mbOK) << int(Qt::Key_Escape) << int(mrOk) << QStringList { "OK" };
    }
    void qtMessageBoxesAnswerTheKeyboard()
    {
        QFETCH(int, buttons);
        QFETCH(int, key);
        QFETCH(int, result);
        QFETCH(QStringList, captions);
        TQtDialogService qtDialogs;
        QStringList seen;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            for (QAbstractButton *button : box->buttons())
                seen << button->text();
            QTest::keyClick(box, Qt::Key(key));
        });
        QCOMPARE(qtDialogs.messageDlg(QStringLiteral("Diretório não existe. Deseja criá-lo?"), TMsgDlgType::Confirmation, buttons, 0), result);
        seen.sort();
        QCOMPARE(seen, captions);
    }

    void modalDisplayGivesTheCursorBack()
    {
        TForm form;
        Application().SetCursor(crHourGlass);
        TCursor during = crHourGlass;
        QTimer::singleShot(0, &form, [&] {
            during = Application().Cursor();
            form.close();
        });
        form.ShowModal();
        QCOMPARE(during, crDefault);
        QCOMPARE(Application().Cursor(), crHourGlass);
        Application().SetCursor(crDefault);
    }
};

QTEST_MAIN(TestForm)
#include "tst_form.moc"
