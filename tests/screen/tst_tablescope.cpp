// Directory picking and the table scope: scope buttons, F9, the table pick with
// the real list picker, and the directory dialog.
#include "tests/support/fakeappserver.h"
#include "tests/support/screenfixture.h"

#include "hostlib/core/serveraddress.h"
#include "hostlib/widgets/listpicker.h"
#include "protocol/datapacket.h"
#include "runtime/widgets/application.h"
#include "runtime/widgets/directorydialog.h"
#include "runtime/widgets/scripteddialogs.h"
#include "screen/geraarquivo.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Picks the rows named, by clicking their checks, and confirms.
std::function<int(QDialog &)> pick(const QStringList &names)
{
    return [names](QDialog &dialog) {
        auto &picker = static_cast<TListPicker &>(dialog);
        for (int row = 0; row < picker.rows()->count(); ++row) {
            QListWidgetItem *item = picker.rows()->item(row);
            item->setCheckState(names.contains(item->text()) ? Qt::Checked : Qt::Unchecked);
        }
        return int(QDialog::Accepted);
    };
}

QString padded(const char *code)
{
    return QString::fromLatin1(code).leftJustified(20, QLatin1Char(' '));
}

} // namespace

class TestTableScope : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { FormatSettings() = TFormatSettings::fromLocale(QLocale(QLocale::Portuguese, QLocale::Brazil)); }

    void scopeButtonsGovernThePickButton()
    {
        FakeAppServer server;
        ScreenFixture screen(server.fake.address());
        QTest::mouseClick(screen.form->rbtLista, Qt::LeftButton);
        QVERIFY(screen.form->BtnTabelas->isEnabled());
        QTest::mouseClick(screen.form->rbtTodos, Qt::LeftButton);
        QVERIFY(!screen.form->BtnTabelas->isEnabled());
    }

    void f9_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("kind"); // the dialog that opens, or -1
        QTest::newRow("F9 in the directory") << QStringLiteral("edtDiretorio") << int(Qt::NoModifier) << int(TScriptedDialogService::Record::Directory);
        QTest::newRow("Shift+F9 in the directory") << QStringLiteral("edtDiretorio") << int(Qt::ShiftModifier) << int(TScriptedDialogService::Record::Directory);
        QTest::newRow("Ctrl+F9 in the directory") << QStringLiteral("edtDiretorio") << int(Qt::ControlModifier) << int(TScriptedDialogService::Record::Directory);
        QTest::newRow("F9 on Lista") << QStringLiteral("rbtLista") << int(Qt::NoModifier) << int(TScriptedDialogService::Record::Modal);
        QTest::newRow("F9 in the time") << QStringLiteral("medItems") << int(Qt::NoModifier) << -1;
        QTest::newRow("F8 in the directory") << QStringLiteral("edtDiretorio-F8") << int(Qt::NoModifier) << -1;
    }
    void f9()
    {
        QFETCH(QString, control);
        QFETCH(int, modifiers);
        QFETCH(int, kind);
        FakeAppServer server;
        server.tables = { "PRODUTO" };
        ScreenFixture screen(server.fake.address());
        const bool f8 = control.endsWith(QLatin1String("-F8"));
        auto *target = screen.form->findChild<QWidget *>(control.section(QLatin1Char('-'), 0, 0));
        if (target == screen.form->rbtLista)
            QTest::mouseClick(screen.form->rbtLista, Qt::LeftButton);
        target->setFocus();
        QTest::keyClick(target, f8 ? Qt::Key_F8 : Qt::Key_F9, Qt::KeyboardModifiers(modifiers));
        if (kind < 0) {
            QVERIFY(screen.dialogs.records.isEmpty());
            return;
        }
        QCOMPARE(screen.dialogs.records.size(), 1);
        QCOMPARE(int(screen.dialogs.records.first().kind), kind);
        if (kind == TScriptedDialogService::Record::Modal)
            QCOMPARE(screen.dialogs.records.first().text, QStringLiteral("Tabelas"));
        else
            QCOMPARE(screen.dialogs.records.first().text, QString()); // no preset directory
    }

    void noTablesReported()
    {
        FakeAppServer server;
        ScreenFixture screen(server.fake.address());
        server.tables = { "PRODUTO" };
        screen.dialogs.modalScripts = { pick({ QStringLiteral("PRODUTO") }) };
        QTest::mouseClick(screen.form->rbtLista, Qt::LeftButton);
        QTest::mouseClick(screen.form->BtnTabelas, Qt::LeftButton);
        QCOMPARE(screen.form->ListaTabelas(), Ansi::fromUnicode(padded("PRODUTO")));

        server.tables.clear();
        screen.dialogs.clear();
        screen.form->edtDiretorio->setFocus();
        QTest::mouseClick(screen.form->BtnTabelas, Qt::LeftButton);
        QCOMPARE(screen.dialogs.texts(), QStringList { QStringLiteral("Não há tabelas cadastradas.") });
        QCOMPARE(screen.dialogs.records.first().kind, TScriptedDialogService::Record::Message);
        QCOMPARE(QApplication::focusWidget(), screen.form->rbtTodos);
        QCOMPARE(screen.form->ListaTabelas(), Ansi::fromUnicode(padded("PRODUTO")));
    }

    void pickedListSurvivesAScopeSwitchAndIsSent()
    {
        FakeAppServer server;
        server.tables = { "CATEGORIA", "PRODUTO", "UNIDADE" };
        ScreenFixture screen(server.fake.address());
        QTemporaryDir dir;
        screen.dialogs.modalScripts = { pick({ QStringLiteral("UNIDADE"), QStringLiteral("CATEGORIA") }) };
        QTest::mouseClick(screen.form->rbtLista, Qt::LeftButton);
        QTest::mouseClick(screen.form->BtnTabelas, Qt::LeftButton);
        QTest::mouseClick(screen.form->rbtTodos, Qt::LeftButton);
        QTest::mouseClick(screen.form->rbtLista, Qt::LeftButton);

        screen.form->cbbIdioma->setCurrentIndex(0);
        screen.form->depDataIni->SetText("01/12/2026");
        screen.form->medItems->SetText("0930");
        screen.form->edtDiretorio->SetText(Ansi::fromUnicode(dir.path()));
        screen.dialogs.clear();
        DispatchEvent([&] { screen.form->sbtConfirmaClick(screen.form->sbtConfirma); });
        const QList<protocol::Request> requests = server.fake.requests();
        using protocol::ArgumentKind;
        QCOMPARE(requests.size(), 4);
        // The pick: the empty list and "T", both by value.
        QCOMPARE(requests.at(1).method, QStringLiteral("GetTabela"));
        QCOMPARE(requests.at(1).args.size(), 2);
        QCOMPARE(requests.at(1).args.at(0).kind, ArgumentKind::Str);
        QCOMPARE(requests.at(1).args.at(0).text, QString());
        QCOMPARE(requests.at(1).args.at(1).kind, ArgumentKind::Str);
        QCOMPARE(requests.at(1).args.at(1).text, QStringLiteral("T"));
        // The run: the picked list by reference, to both calls.
        const QString picked = padded("CATEGORIA") + padded("UNIDADE"); // record order
        QCOMPARE(requests.at(2).method, QStringLiteral("GetTabela"));
        QCOMPARE(requests.at(2).args.at(0).kind, ArgumentKind::StrRef);
        QCOMPARE(requests.at(2).args.at(0).text, picked);
        QCOMPARE(requests.at(2).args.at(1).text, QString());
        QCOMPARE(requests.last().method, QStringLiteral("GetPropriedCds"));
        QCOMPARE(requests.last().args.at(1).kind, ArgumentKind::StrRef);
        QCOMPARE(requests.last().args.at(1).text, picked);
        QCOMPARE(screen.dialogs.texts(), QStringList { QStringLiteral("Arquivo gerado com sucesso.") });
    }

    void pickerByKeysAndClicks()
    {
        TClientDataSet tables;
        tables.AddField(QStringLiteral("IDMARCADO"), TFieldType::ftString, 1);
        TField *code = tables.AddField(QStringLiteral("CDPROGTRAD"), TFieldType::ftString, 20);
        code->DisplayLabel = QStringLiteral("Nome");
        protocol::DataPacketWriter w({ { QStringLiteral("IDMARCADO"), protocol::FieldKind::String, 1 },
                                       { QStringLiteral("CDPROGTRAD"), protocol::FieldKind::String, 20 } });
        for (const char *name : { "CATEGORIA", "MENSAGEM", "PRODUTO", "UNIDADE" })
            w.addString("N"), w.addString(padded(name).toLatin1());
        tables.SetData(w.finish());

        const AnsiString held = Ansi::fromUnicode(padded("PRODUTO"));
        TListPicker picker(tables, *code, QStringLiteral("Tabelas"), held);
        picker.show();
        QVERIFY(QTest::qWaitForWindowActive(&picker));
        QCOMPARE(picker.windowTitle(), QStringLiteral("Tabelas"));
        QCOMPARE(picker.rows()->item(2)->checkState(), Qt::Checked); // the held list starts checked
        QCOMPARE(picker.pickedList(), held);

        // Filter with the keyboard, then check the one row left with Space.
        QTest::keyClick(&picker, Qt::Key_F, Qt::AltModifier);
        QTest::keyClicks(picker.filterEdit(), QStringLiteral("uni"));
        QCOMPARE(picker.rows()->item(3)->isHidden(), false);
        QCOMPARE(picker.rows()->item(0)->isHidden(), true);
        picker.rows()->setFocus();
        picker.rows()->setCurrentRow(3);
        QTest::keyClick(picker.rows(), Qt::Key_Space);
        QCOMPARE(picker.pickedList(), Ansi::fromUnicode(padded("PRODUTO") + padded("UNIDADE")));

        // Mark all acts on the visible rows only.
        picker.filterEdit()->clear();
        picker.setAllChecked(true);
        QCOMPARE(picker.pickedList().size(), size_t(80));
        picker.setAllChecked(false);
        QCOMPARE(picker.pickedList(), AnsiString());
        QTest::keyClick(picker.rows(), Qt::Key_Escape);
        QCOMPARE(picker.result(), int(QDialog::Rejected));
    }

    void cancelledPickLeavesTheList()
    {
        FakeAppServer server;
        server.tables = { "PRODUTO" };
        ScreenFixture screen(server.fake.address());
        screen.dialogs.modalScripts = { pick({ QStringLiteral("PRODUTO") }),
                                        [](QDialog &dialog) {
                                            static_cast<TListPicker &>(dialog).setAllChecked(false);
                                            return int(QDialog::Rejected);
                                        } };
        QTest::mouseClick(screen.form->rbtLista, Qt::LeftButton);
        QTest::mouseClick(screen.form->BtnTabelas, Qt::LeftButton);
        QTest::mouseClick(screen.form->BtnTabelas, Qt::LeftButton);
        QCOMPARE(screen.form->ListaTabelas(), Ansi::fromUnicode(padded("PRODUTO")));
    }

    void directoryDialog_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QString>("after");
        QTest::newRow("replaces the text held") << QStringLiteral("/old") << true << QStringLiteral("/chosen");
        QTest::newRow("cancel leaves it") << QStringLiteral("/old") << false << QStringLiteral("/old");
    }
    void directoryDialog()
    {
        QFETCH(QString, before);
        QFETCH(bool, confirmed);
        QFETCH(QString, after);
        FakeAppServer server;
        ScreenFixture screen(server.fake.address());
        screen.form->edtDiretorio->SetText(Ansi::fromUnicode(before));
        if (confirmed)
            screen.dialogs.directories = { QStringLiteral("/chosen") };
        QTest::mouseClick(screen.form->sbtDiretorio, Qt::LeftButton);
        QCOMPARE(screen.form->edtDiretorio->Text(), Ansi::fromUnicode(after));
        QCOMPARE(screen.dialogs.records.size(), 1); // nothing validated on the spot
    }

    void chosenMissingDirectoryOfferedOnExit()
    {
        FakeAppServer server;
        ScreenFixture screen(server.fake.address());
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("novo"));
        screen.dialogs.directories = { missing };
        screen.dialogs.answers = { mrYes };
        screen.form->edtDiretorio->setFocus();
        QTest::keyClick(screen.form->edtDiretorio, Qt::Key_F9);
        screen.form->medItems->setFocus();
        QCOMPARE(screen.dialogs.texts().last(), QStringLiteral("Diretório não existe. Deseja criá-lo?"));
        QVERIFY(QFileInfo(missing).isDir());
    }

    void directoryDialogTakesATypedNewName_data()
    {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("the Selecionar button") << true;
        QTest::newRow("Enter") << false;
    }
    void directoryDialogTakesATypedNewName()
    {
        QFETCH(bool, byButton);
        QTemporaryDir dir;
        TDirectoryDialog dialog(nullptr, dir.path(), sdAllowCreate);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("ainda-nao-existe"));
        QPushButton *select = nullptr;
        for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
            if (button->text() == QLatin1String("Selecionar"))
                select = button;
        }
        QVERIFY(select);
        if (byButton) {
            QTRY_VERIFY(select->isEnabled()); // Qt looks at the name again once the directory is read
            QTest::mouseClick(select, Qt::LeftButton);
        } else {
            QTest::keyClick(name, Qt::Key_Return);
        }
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.chosenDirectory(), QDir(dir.path()).filePath(QStringLiteral("ainda-nao-existe")));
        QVERIFY(!QFileInfo::exists(dialog.chosenDirectory())); // neither created nor asked about
    }

    void pathsTheScreenCannotHoldAreRefused()
    {
        TScriptedDialogService dialogs;
        QTemporaryDir dir;
        TDirectoryDialog dialog(nullptr, dir.path(), sdAllowCreate);
        dialog.show();
        dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("目录"));
        dialog.accept();
        QVERIFY(dialog.isVisible()); // still open, the name refused
        QCOMPARE(dialogs.records.size(), 1);
        QCOMPARE(dialogs.records.first().type, TMsgDlgType::Warning);

        TEdit field;
        field.show();
        field.setFocus();
        for (const QChar c : QStringLiteral("/tmp/目录ção"))
            QTest::sendKeyEvent(QTest::Click, &field, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QCOMPARE(field.text(), QStringLiteral("/tmp/ção"));
    }
};

QTEST_MAIN(TestTableScope)
#include "tst_tablescope.moc"
