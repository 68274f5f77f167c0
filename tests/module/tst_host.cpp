// The module as the desktop client uses it: loaded at run time, launched through
// IniProc, one screen instance per load.
#include "tests/support/fakeappserver.h"
#include "tests/support/serverprocess.h"

#include "hostlib/core/serveraddress.h"
#include "hostlib/widgets/listpicker.h"
#include "runtime/widgets/application.h"
#include "runtime/widgets/edit.h"
#include "runtime/widgets/form.h"
#include "runtime/widgets/maskedit.h"
#include "runtime/widgets/package.h"
#include "runtime/widgets/scripteddialogs.h"
#include "runtime/widgets/versioninfo.h"

#include <QProcess>
#include <QTcpServer>
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QRadioButton>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <dlfcn.h>
#include <sys/resource.h>

namespace {

struct LoadedModule
{
    HMODULE handle = nullptr;
    bool *created = nullptr;
    TForm **screen = nullptr;
    void (*iniProc)() = nullptr;

    void load()
    {
        handle = LoadPackage(QStringLiteral(QLX_MODULE_PATH));
        created = static_cast<bool *>(dlsym(handle, "boStcriado"));
        screen = static_cast<TForm **>(dlsym(handle, "frmGeraArquivo"));
        iniProc = reinterpret_cast<void (*)()>(dlsym(handle, "IniProc"));
    }
    void unload()
    {
        Application().FreeOwnedForms();
        UnloadPackage(handle);
        handle = nullptr;
    }
};

// Runs `whileShown` once the modal screen is up, then closes it.
void launch(LoadedModule &module, const std::function<void(TForm &)> &whileShown)
{
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        TForm *form = *module.screen;
        if (!form || !form->isVisible() || QApplication::activeModalWidget() != form)
            return;
        poll.stop();
        whileShown(*form);
        form->close();
    });
    poll.start();
    module.iniProc();
}

} // namespace

class TestHost : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheEntryPointsAreExported()
    {
        LoadedModule module;
        module.load();
        for (const char *name : { "IniProc", "CriaGeraArquivo", "frmGeraArquivo", "boStcriado", "Initialize",
                                  "Finalize", "GetPackageInfoTable", "ModuleVersionInfo" })
            QVERIFY2(dlsym(module.handle, name), name);
        QVERIFY(!dlsym(module.handle, "_ZN12_GLOBAL__N_19libModuleE"));
        const auto table = reinterpret_cast<TGetPackageInfoTable>(dlsym(module.handle, "GetPackageInfoTable"))();
        QVERIFY(table->UnitCount >= 1);
        module.unload();
    }

    void nothingElseOfTheModuleIsExported()
    {
        QProcess nm;
        nm.start(QStringLiteral("nm"), { QStringLiteral("-D"), QStringLiteral("--defined-only"), QStringLiteral("-C"),
                                         QStringLiteral(QLX_MODULE_PATH) });
        QVERIFY(nm.waitForFinished());
        const QStringList entries { "IniProc", "CriaGeraArquivo", "frmGeraArquivo", "boStcriado", "Initialize",
                                    "Finalize", "GetPackageInfoTable", "ModuleVersionInfo" };
        QStringList found;
        for (const QByteArray &line : nm.readAllStandardOutput().split('\n')) {
            const QString symbol = QString::fromLatin1(line).section(QLatin1Char(' '), 2);
            if (symbol.isEmpty() || symbol.startsWith(QLatin1Char('_')))
                continue; // the linker's own markers
            if (entries.contains(symbol)) {
                found << symbol;
                continue;
            }
            const bool screenClass = symbol.startsWith(QLatin1String("TfrmGeraArquivo::"))
                || symbol.endsWith(QLatin1String(" for TfrmGeraArquivo"));
            const bool screenUnit = symbol.startsWith(QLatin1String("UGeraArquivo::"));
            QVERIFY2(screenClass || screenUnit, qPrintable(symbol));
        }
        found.sort();
        QStringList expected = entries;
        expected.sort();
        QCOMPARE(found, expected);
    }

    // --screenshot: a picture, or a non-zero exit with the reason and an earlier file as it was.
    void screenshotSavedOrExitStatusSaysNot_data()
    {
        QTest::addColumn<QString>("target"); // relative to a scratch directory
        QTest::addColumn<bool>("earlierFile");
        QTest::addColumn<rlim_t>("fileSizeLimit"); // 0: none
        QTest::addColumn<bool>("saved");
        QTest::newRow("written") << QStringLiteral("s.png") << false << rlim_t(0) << true;
        QTest::newRow("replacing an earlier file") << QStringLiteral("s.png") << true << rlim_t(0) << true;
        QTest::newRow("over the file-size limit") << QStringLiteral("s.png") << true << rlim_t(1024) << false;
        QTest::newRow("in a missing directory") << QStringLiteral("missing/s.png") << false << rlim_t(0) << false;
        QTest::newRow("onto a directory") << QStringLiteral("taken") << false << rlim_t(0) << false;
    }
    void screenshotSavedOrExitStatusSaysNot()
    {
        QFETCH(QString, target);
        QFETCH(bool, earlierFile);
        QFETCH(rlim_t, fileSizeLimit);
        QFETCH(bool, saved);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken")));
        const QString path = dir.filePath(target);
        const QByteArray earlier("an earlier file");
        if (earlierFile) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(earlier) == earlier.size());
        }
        QProcess host;
        host.setChildProcessModifier([fileSizeLimit] {
            if (fileSizeLimit == 0)
                return;
            rlimit limit {};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = fileSizeLimit; // far below any screenshot
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        // No server: the picture shows the screen's error over it.
        host.start(QStringLiteral(QLX_HOST_PATH), { QStringLiteral("--server"), QStringLiteral("127.0.0.1:1"),
                                                    QStringLiteral("--screenshot"), path });
        QVERIFY(host.waitForFinished(120000));
        QCOMPARE(host.exitStatus(), QProcess::NormalExit); // not ended by SIGXFSZ
        const QByteArray output = host.readAllStandardOutput();
        const QByteArray errors = host.readAllStandardError();
        QFile file(path);
        if (saved) {
            QVERIFY2(host.exitCode() == 0, errors.constData());
            QCOMPARE(output, "screenshot: " + QFileInfo(path).absoluteFilePath().toUtf8() + '\n');
            QVERIFY(!QImage(path).isNull());
        } else {
            QVERIFY2(host.exitCode() != 0, output.constData());
            QVERIFY2(errors.contains("could not save the screenshot to " + path.toUtf8() + ": "), errors.constData());
            QVERIFY(!output.contains("screenshot:"));
            if (earlierFile) {
                QVERIFY(file.open(QIODevice::ReadOnly));
                QCOMPARE(file.readAll(), earlier);
            } else {
                QVERIFY(!QFileInfo(path).isFile());
            }
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden).size(),
                 QFileInfo(path).isFile() ? 1 : 0); // nothing left beside
    }

    void oneInstancePerLoadKeepsTheInputs()
    {
        TScriptedDialogService dialogs;
        LoadedModule module;
        module.load();
        QCOMPARE(*module.created, false);
        QVERIFY(*module.screen == nullptr);

        TForm *first = nullptr;
        launch(module, [&](TForm &form) {
            first = &form;
            QVERIFY(form.isVisible());
            form.findChild<TEdit *>(QStringLiteral("edtDiretorio"))->SetText("/tmp/kept/");
            form.SetWindowState(wsMinimized);
        });
        QCOMPARE(*module.created, true);
        QCOMPARE(Application().Cursor(), crDefault);
        QCOMPARE((*module.screen)->WindowState(), wsNormal);
        QVERIFY(!(*module.screen)->isVisible());

        AnsiString seen;
        launch(module, [&](TForm &form) {
            QCOMPARE(&form, first);
            seen = form.findChild<TEdit *>(QStringLiteral("edtDiretorio"))->Text();
        });
        QCOMPARE(seen, AnsiString("/tmp/kept/"));
        QCOMPARE(Application().Cursor(), crDefault);
        module.unload();

        module.load();
        QCOMPARE(*module.created, false);
        launch(module, [&](TForm &form) {
            seen = form.findChild<TEdit *>(QStringLiteral("edtDiretorio"))->Text();
        });
        QCOMPARE(seen, AnsiString()); // a new instance, with fresh inputs
        module.unload();
    }

    void reopeningKeepsEveryInputAndFetchesTheLanguagesOnce()
    {
        FakeAppServer server;
        server.tables = { "CATEGORIA", "PRODUTO", "UNIDADE" };
        SetServerAddressOption(server.fake.address());
        TScriptedDialogService dialogs;
        dialogs.modalScripts = { [](QDialog &dialog) {
            auto &picker = static_cast<TListPicker &>(dialog);
            picker.rows()->item(1)->setCheckState(Qt::Checked); // PRODUTO
            return int(QDialog::Accepted);
        } };
        QTemporaryDir dir;
        LoadedModule module;
        module.load();
        QStringList left;
        const auto inputs = [](TForm &form) {
            return QStringList { form.findChild<QComboBox *>(QStringLiteral("cbbIdioma"))->currentText(),
                                 Ansi::toUnicode(form.findChild<TMaskEdit *>(QStringLiteral("depDataIni"))->EditText()),
                                 Ansi::toUnicode(form.findChild<TMaskEdit *>(QStringLiteral("medItems"))->EditText()),
                                 form.findChild<QRadioButton *>(QStringLiteral("rbtLista"))->isChecked() ? QStringLiteral("Lista")
                                                                                                        : QStringLiteral("Todos") };
        };
        launch(module, [&](TForm &form) {
            form.findChild<QComboBox *>(QStringLiteral("cbbIdioma"))->setCurrentIndex(1);
            form.findChild<TMaskEdit *>(QStringLiteral("depDataIni"))->SetText("01/12/2026");
            form.findChild<TMaskEdit *>(QStringLiteral("medItems"))->SetText("0930");
            QTest::mouseClick(form.findChild<QAbstractButton *>(QStringLiteral("rbtLista")), Qt::LeftButton);
            QTest::mouseClick(form.findChild<QAbstractButton *>(QStringLiteral("BtnTabelas")), Qt::LeftButton);
            left = inputs(form);
        });
        QCOMPARE(left, (QStringList { QStringLiteral("ENGLISH"), QStringLiteral("01/12/2026"), QStringLiteral("09:30"),
                                      QStringLiteral("Lista") }));
        launch(module, [&](TForm &form) {
            QCOMPARE(inputs(form), left);
            form.findChild<TEdit *>(QStringLiteral("edtDiretorio"))->SetText(Ansi::fromUnicode(dir.path()));
            QTest::mouseClick(form.findChild<QAbstractButton *>(QStringLiteral("sbtConfirma")), Qt::LeftButton);
        });
        module.unload();
        QStringList methods;
        for (const protocol::Request &request : server.fake.requests())
            methods << request.method;
        QCOMPARE(methods, (QStringList { "GetIdioma", "GetTabela", "GetTabela", "GetPropriedCds" })); // languages once
        QCOMPARE(server.fake.requests().last().args.at(1).text, QStringLiteral("PRODUTO").leftJustified(20)); // the list picked
        QCOMPARE(dialogs.texts().last(), QStringLiteral("Arquivo gerado com sucesso."));

        module.load(); // a new load fetches them anew
        launch(module, [](TForm &) {});
        module.unload();
        QCOMPARE(server.fake.requests().last().method, QStringLiteral("GetIdioma"));
    }

    void confirmWritesTheScriptThroughTheLoadedModule()
    {
        ServerProcess server({}, true);
        SetServerAddressOption(server.address());
        TScriptedDialogService dialogs;
        QTemporaryDir dir;
        LoadedModule module;
        module.load();
        launch(module, [&](TForm &form) {
            auto *languages = form.findChild<QComboBox *>(QStringLiteral("cbbIdioma"));
            languages->setCurrentIndex(languages->findText(QStringLiteral("Espanhol")));
            form.findChild<TMaskEdit *>(QStringLiteral("depDataIni"))->SetText("01/11/2026");
            form.findChild<TMaskEdit *>(QStringLiteral("medItems"))->SetText("0000");
            form.findChild<TEdit *>(QStringLiteral("edtDiretorio"))->SetText(Ansi::fromUnicode(dir.path()));
            QTest::mouseClick(form.findChild<QAbstractButton *>(QStringLiteral("sbtConfirma")), Qt::LeftButton);
        });
        module.unload();
        QCOMPARE(dialogs.texts(), QStringList { QStringLiteral("Arquivo gerado com sucesso.") });
        const QStringList written = QDir(dir.path()).entryList(QStringList { QStringLiteral("TRD_*.sql") });
        QCOMPARE(written.size(), 1);
        QFile script(QDir(dir.path()).filePath(written.first()));
        QVERIFY(script.open(QIODevice::ReadOnly));
        const QByteArray bytes = script.readAll();
        QCOMPARE(bytes.count("\r\n"), 3); // the Spanish texts changed since 1 November 2026
        QVERIFY(bytes.contains("'Camiseta \"Estrella\" para ni\xf1os'"));
    }

    void versionRecord()
    {
        LoadedModule module;
        module.load();
        const auto *record = static_cast<const TModuleVersionInfo *>(dlsym(module.handle, kVersionInfoSymbol));
        QVERIFY(record);
        const QList<quint16> file(std::begin(record->FileVersion), std::end(record->FileVersion));
        const QList<quint16> product(std::begin(record->ProductVersion), std::end(record->ProductVersion));
        QCOMPARE(file, (QList<quint16> { 6, 25, 17, 0 }));
        QCOMPARE(product, file);
        QCOMPARE(QByteArray(record->FileVersionText), QByteArray("6.25.017"));
        QCOMPARE(QByteArray(record->ProductVersionText), QByteArray("6.25.017"));
        QCOMPARE(record->LanguageId, quint16(0x0416));
        QCOMPARE(record->CodePage, quint16(1252));
        module.unload();
    }

    // What the host answers before it opens a display, so with none.
    void answeredWithoutDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("shown"); // on standard output, else on standard error
        const QString info = QStringLiteral("--module-info");
        QTest::newRow("the module") << QStringList { info, QStringLiteral(QLX_MODULE_PATH) } << 0
                                    << QStringList { QStringLiteral("Versão do arquivo: 6.25.17.0 (\"6.25.017\")"),
                                                     QStringLiteral("Versão do produto: 6.25.17.0 (\"6.25.017\")"),
                                                     QStringLiteral("Idioma: Português (Brasil), página de código 1252") };
        QTest::newRow("a library without a record") << QStringList { info, QStringLiteral(QLX_RUNTIME_PATH) } << 1
                                                     << QStringList { QStringLiteral("não tem registro de versão") };
        QTest::newRow("no such file") << QStringList { info, QStringLiteral("/nonexistent/libqlx.so") } << 1
                                      << QStringList { QStringLiteral("Não foi possível abrir o módulo /nonexistent/libqlx.so") };
        QTest::newRow("malformed --server") << QStringList { QStringLiteral("--open"), QStringLiteral("--server"),
                                                             QStringLiteral("127.0.0.1:99999") }
                                            << 2 << QStringList { QStringLiteral("--server"), QStringLiteral("127.0.0.1:99999") };
        QTest::newRow("malformed --timeout") << QStringList { QStringLiteral("--timeout"), QStringLiteral("2m") } << 2
                                             << QStringList { QStringLiteral("--timeout"), QStringLiteral("2m") };
        QTest::newRow("a word that is no option's value") << QStringList { QStringLiteral("--open"), QStringLiteral("screen") }
                                                          << 2 << QStringList { QStringLiteral("argumento inesperado: screen") };
        QTest::newRow("a stray word among valid options")
            << QStringList { QStringLiteral("--server"), QStringLiteral("127.0.0.1:1"), QStringLiteral("ca.pem"),
                             QStringLiteral("--timeout"), QStringLiteral("5") }
            << 2 << QStringList { QStringLiteral("argumento inesperado: ca.pem") };
    }
    void answeredWithoutDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, shown);
        QProcess host;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY")); // needs none
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        host.setProcessEnvironment(environment);
        host.start(QStringLiteral(QLX_HOST_PATH), arguments);
        QVERIFY(host.waitForFinished(60000));
        QCOMPARE(host.exitCode(), exitCode);
        const QString output = QString::fromUtf8(exitCode == 0 ? host.readAllStandardOutput() : host.readAllStandardError());
        for (const QString &line : shown)
            QVERIFY2(output.contains(line), qPrintable(output));
    }

    void creationFailureShownUnderTheNormalPointer()
    {
        QTcpServer closed; // a port nobody listens on
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 port = closed.serverPort();
        closed.close();
        SetServerAddressOption(QStringLiteral("127.0.0.1:%1").arg(port));
        TScriptedDialogService dialogs;
        LoadedModule module;
        module.load();
        launch(module, [](TForm &) {});
        module.unload();
        QCOMPARE(dialogs.records.size(), 1);
        QCOMPARE(dialogs.records.first().kind, TScriptedDialogService::Record::Exception);
        QCOMPARE(dialogs.records.first().pointer, Qt::ArrowCursor);
        QCOMPARE(Application().Cursor(), crDefault);
    }

    void registersWithTheRuntimeWhileLoaded()
    {
        TLibModule *before = LibModuleList();
        LoadedModule module;
        module.load();
        QVERIFY(LibModuleList() != before);
        QVERIFY(LibModuleList()->Instance != nullptr);
        QCOMPARE(LibModuleList()->ResInstance, LibModuleList()->Instance); // no resource module beside it
        module.unload();
        QCOMPARE(LibModuleList(), before);
    }
};

QTEST_MAIN(TestHost)
#include "tst_host.moc"
