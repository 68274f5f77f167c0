// Confirm end to end: the checks in their order, the time normalisation, the
// directory check, the script file and the run against real and fake servers.
#include "tests/support/busywindowshows.h"
#include "tests/support/cuttingproxy.h"
#include "tests/support/fakeappserver.h"
#include "tests/support/holdingproxy.h"
#include "tests/support/screenfixture.h"
#include "tests/support/serverprocess.h"

#include "client/recordsetfields.h"
#include "client/remotemethods.h"
#include "client/scriptfile.h"
#include "hostlib/core/serveraddress.h"
#include "hostlib/widgets/busyanimation.h"
#include "protocol/contract.h"
#include "protocol/datapacket.h"
#include "runtime/core/exceptions.h"
#include "runtime/core/textfile.h"
#include "runtime/widgets/application.h"
#include "runtime/widgets/scripteddialogs.h"
#include "screen/geraarquivo.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QSqlQuery>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kOverwrite = QStringLiteral("Deseja sobrepor o arquivo já existente?");

void loadLines(TClientDataSet &lines, const QByteArrayList &values)
{
    protocol::DataPacketWriter w({ { QStringLiteral("LINHA"), protocol::FieldKind::String, 4000 } });
    for (const QByteArray &value : values) {
        if (value.isNull())
            w.addNull();
        else
            w.addString(value);
    }
    lines.SetData(w.finish());
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// The unprivileged user and group "nobody" and "nogroup".
constexpr uid_t kNobody = 65534;

// "earlier text" in a new file in a new directory whose parent anyone may enter.
bool makeEarlierFile(const QString &path)
{
    const QFileInfo info(path);
    const QString parent = QFileInfo(info.absolutePath()).absolutePath();
    QFile earlier(path);
    return ::chmod(QFile::encodeName(parent).constData(), 0755) == 0 && QDir().mkdir(info.absolutePath())
        && earlier.open(QIODevice::WriteOnly) && earlier.write("earlier text\r\n") == 14;
}

// Every file of the directory, hidden ones too: a file of the lines must not stay.
QStringList filesIn(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files | QDir::Hidden);
}

// `count` lines of `size` bytes each (at least their number), all different.
QByteArrayList numberedLines(int count, int size)
{
    QByteArrayList lines;
    for (int i = 0; i < count; ++i)
        lines << QByteArray::number(i).leftJustified(size, '\xe9');
    return lines;
}

// Writes the one line "new" to the path in a child process running as `user`,
// the line loaded there, kept in a file where the script goes or in memory:
// its exit status, 0 written, 1 an I/O error, 2 another failure, 3 no identity
// change, -1 no end within a minute.
int writeAs(uid_t user, const QString &path, bool linesInAFile)
{
    TClientDataSet lines;
    const TField *line = lines.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
    const pid_t writer = fork();
    if (writer == 0) {
        if (user != geteuid() && (setgid(user) != 0 || setuid(user) != 0))
            _exit(3);
        try {
            if (linesInAFile)
                KeepScriptLinesIn(lines, *line, Ansi::fromUnicode(QFileInfo(path).absolutePath() + QLatin1Char('/')), path);
            loadLines(lines, { "new" });
            WriteScriptFile(Ansi::fromUnicode(path), lines, *line);
            _exit(0);
        } catch (const EInOutError &) {
            _exit(1);
        } catch (...) {
            _exit(2);
        }
    }
    if (writer < 0)
        return -1;
    int status = 0;
    QDeadlineTimer deadline(60000);
    while (waitpid(writer, &status, WNOHANG) == 0) {
        if (deadline.hasExpired()) {
            kill(writer, SIGKILL);
            waitpid(writer, &status, 0);
            return -1;
        }
        QTest::qWait(5);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

class TestGeneration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { FormatSettings() = TFormatSettings::fromLocale(QLocale(QLocale::Portuguese, QLocale::Brazil)); }

    void firstFailureInOrder_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QByteArray>("date");
        QTest::addColumn<QByteArray>("time");
        QTest::addColumn<bool>("lista");
        QTest::addColumn<bool>("directory");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focusShown"); // where the focus is while the message shows
        QTest::addColumn<QString>("focus"); // and afterwards
        const QString start = QStringLiteral("rbtTodos");
        QTest::newRow("nothing at all") << -1 << QByteArray() << QByteArray() << true << false << QStringLiteral("Idioma deve ser informado.") << start << QStringLiteral("cbbIdioma");
        QTest::newRow("no date, no time") << 0 << QByteArray() << QByteArray() << true << false << QStringLiteral("Data deve ser informada. ") << QStringLiteral("depDataIni") << QStringLiteral("depDataIni");
        QTest::newRow("invalid date") << 0 << QByteArray("31/02/2026") << QByteArray() << true << false << QStringLiteral("'31/02/2026' Não é uma data válida.") << QStringLiteral("depDataIni") << QStringLiteral("depDataIni");
        QTest::newRow("no time") << 0 << QByteArray("01/12/2026") << QByteArray() << true << false << QStringLiteral("Hora deve ser informada.") << QStringLiteral("medItems") << QStringLiteral("medItems");
        QTest::newRow("no table picked") << 0 << QByteArray("01/12/2026") << QByteArray("2460") << true << false << QStringLiteral("Tabela deve ser informada.") << start << start;
        QTest::newRow("hour out of range") << 0 << QByteArray("01/12/2026") << QByteArray("2410") << false << false << QStringLiteral("Hora inválida.") << QStringLiteral("medItems") << QStringLiteral("medItems");
        QTest::newRow("minute out of range") << 0 << QByteArray("01/12/2026") << QByteArray("0960") << false << false << QStringLiteral("Hora inválida.") << QStringLiteral("medItems") << QStringLiteral("medItems");
        QTest::newRow("no directory") << 0 << QByteArray("01/12/2026") << QByteArray("0930") << false << false << QStringLiteral("Diretório deve ser informado.") << start << QStringLiteral("edtDiretorio");
    }
    void firstFailureInOrder()
    {
        QFETCH(int, language);
        QFETCH(QByteArray, date);
        QFETCH(QByteArray, time);
        QFETCH(bool, lista);
        QFETCH(bool, directory);
        QFETCH(QString, message);
        QFETCH(QString, focusShown);
        QFETCH(QString, focus);
        FakeAppServer server;
        ScreenFixture screen(server.fake.address());
        screen.fill(language, date.constData(), time.constData(), directory ? screen.dir.path() : QString());
        if (lista)
            screen.form->rbtLista->SetChecked(true);
        screen.form->rbtTodos->setFocus();
        screen.dialogs.clear();
        screen.confirm();
        QCOMPARE(screen.dialogs.texts(), QStringList { message });
        const TScriptedDialogService::Record &shown = screen.dialogs.records.first();
        QCOMPARE(shown.kind, TScriptedDialogService::Record::Message);
        QCOMPARE(shown.type, TMsgDlgType::Error);
        QCOMPARE(shown.buttons, TMsgDlgButtons(mbOK));
        QCOMPARE(shown.focus, focusShown);
        QCOMPARE(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(), focus);
        QCOMPARE(server.fake.requests().size(), 1); // only the language list; nothing fetched
    }

    void timeNormalisation_data()
    {
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QByteArray>("normalised");
        QTest::newRow("09 30") << QByteArray("0930") << QByteArray("0930");
        QTest::newRow("23 59") << QByteArray("2359") << QByteArray("2359");
        QTest::newRow("hour alone") << QByteArray("12") << QByteArray("1200");
        QTest::newRow("blank hour") << QByteArray("  45") << QByteArray("0045");
        QTest::newRow("one digit each") << QByteArray("9 5") << QByteArray("0905");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("hour 24") << QByteArray("2400") << QByteArray("2400*");
        QTest::newRow("minute 60") << QByteArray("1060") << QByteArray("1060*");
    }
    void timeNormalisation()
    {
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, normalised);
        FakeAppServer server;
        ScreenFixture screen(server.fake.address());
        screen.form->medItems->SetText(typed.toStdString());
        screen.form->medItems->setFocus();
        screen.form->edtDiretorio->setFocus(); // leaving the field normalises it
        const bool refused = normalised.endsWith('*');
        QCOMPARE(QByteArray::fromStdString(screen.form->medItems->Text()), refused ? normalised.chopped(1) : normalised);
        QCOMPARE(screen.dialogs.texts(), refused ? QStringList { QStringLiteral("Hora inválida.") } : QStringList {});
        if (refused)
            QCOMPARE(QApplication::focusWidget(), screen.form->medItems);
    }

    // A Confirmar that waits on for its tables puts the busy window up until they come,
    // before the lines' own; a quick answer shows only the lines' window.
    void longWaitShowsTheBusyWindow_data()
    {
        QTest::addColumn<int>("tablesAfterMs");
        QTest::addColumn<int>("shown");
        QTest::newRow("tables at once") << 0 << 1;
        QTest::newRow("tables after a wait") << 3 * kBusyAfterMs << 2;
    }
    void longWaitShowsTheBusyWindow()
    {
        QFETCH(int, tablesAfterMs);
        QFETCH(int, shown);
        FakeAppServer server;
        server.slow = QStringLiteral("GetTabela");
        server.slowMs = tablesAfterMs;
        ScreenFixture screen(server.fake.address());
        screen.fill(0, "01/12/2026", "0930", screen.dir.path());
        screen.dialogs.answers = { mrYes };
        BusyWindowShows shows;
        screen.confirm();
        QCOMPARE(shows.count, shown);
        QVERIFY(!ShowAviVisible());
        QCOMPARE(screen.dialogs.texts().constLast(), QStringLiteral("Arquivo gerado com sucesso."));
    }

    // A wait that goes on offers the fetch's cancel: Esc on its busy window and Sim
    // end it silently, and the screen stays as it was.
    void cancelALongWait_data()
    {
        QTest::addColumn<bool>("picked");
        QTest::addColumn<bool>("picker");
        QTest::newRow("Confirmar, all tables") << false << false;
        QTest::newRow("Confirmar, picked tables") << true << false;
        QTest::newRow("the picker's tables") << true << true;
    }
    void cancelALongWait()
    {
        QFETCH(bool, picked);
        QFETCH(bool, picker);
        FakeAppServer server;
        server.slow = QStringLiteral("GetTabela");
        server.slowMs = 5 * kBusyAfterMs;
        ScreenFixture screen(server.fake.address());
        screen.fill(0, "01/12/2026", "0930", screen.dir.path());
        const AnsiString list = "ABC                 ";
        if (picked) {
            screen.form->rbtLista->SetChecked(true);
            screen.form->rbtListaClick(screen.form->rbtLista);
            const_cast<AnsiString &>(screen.form->ListaTabelas()) = list;
        }
        screen.dialogs.answers = { int(mrYes) };
        EscapeOnBusyWindow escape;
        if (picker)
            DispatchEvent([&screen] { screen.form->BtnTabelasClick(screen.form->BtnTabelas); });
        else
            screen.confirm();
        QVERIFY(escape.pressed);
        QVERIFY(!ShowAviVisible());
        QCOMPARE(screen.dialogs.texts(), QStringList { QStringLiteral("Deseja cancelar a geração do arquivo?") });
        QCOMPARE(QDir(screen.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {});
        QCOMPARE(screen.form->ListaTabelas(), picked ? list : AnsiString());
        QVERIFY(!screen.form->netGeraArquivo->Connected());
        QVERIFY(server.fake.requests().constLast().method != QLatin1String("GetPropriedCds"));
    }

    void missingDirectory_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("created");
        const QString question = QStringLiteral("Diretório não existe. Deseja criá-lo?");
        QTest::newRow("yes creates it") << QStringLiteral("new") << int(mrYes) << QStringList { question } << true;
        QTest::newRow("yes, parent missing") << QStringLiteral("no/new") << int(mrYes)
                                             << QStringList { question, QStringLiteral("Diretório não pode ser criado.") } << false;
        QTest::newRow("no") << QStringLiteral("new") << int(mrNo)
                            << QStringList { question, QStringLiteral("Não é possível gerar arquivo no diretório informado.") } << false;
    }
    void missingDirectory()
    {
        QFETCH(QString, relative);
        QFETCH(int, answer);
        QFETCH(QStringList, texts);
        QFETCH(bool, created);
        FakeAppServer server;
        ScreenFixture screen(server.fake.address());
        const QString path = screen.dir.filePath(relative);
        screen.form->edtDiretorio->SetText(Ansi::fromUnicode(path));
        screen.form->edtDiretorio->setFocus();
        screen.dialogs.answers = { answer };
        screen.form->medItems->setFocus(); // leaving the field runs its check
        QCOMPARE(screen.dialogs.texts(), texts);
        const TScriptedDialogService::Record &question = screen.dialogs.records.first();
        QCOMPARE(question.type, TMsgDlgType::Confirmation);
        QCOMPARE(question.buttons, TMsgDlgButtons(mbYes | mbNo));
        QCOMPARE(question.focus, QStringLiteral("medItems")); // asked once the focus left, put back after
        if (texts.size() > 1) {
            QCOMPARE(screen.dialogs.records.last().type, TMsgDlgType::Error);
            QCOMPARE(screen.dialogs.records.last().buttons, TMsgDlgButtons(mbOK));
        }
        QCOMPARE(QDir(path).exists(), created);
        QCOMPARE(screen.form->edtDiretorio->Text(), Ansi::fromUnicode(path + QLatin1Char('/')));
        if (!created)
            QCOMPARE(QApplication::focusWidget(), screen.form->edtDiretorio);

        // Typing in the time field asks again while the directory is missing.
        screen.form->medItems->setFocus();
        screen.dialogs.clear();
        screen.dialogs.answers = { answer };
        QTest::keyClick(screen.form->medItems, Qt::Key_1);
        QCOMPARE(screen.dialogs.texts().size(), created ? 0 : 2);
    }

    void fileNames_data()
    {
        QTest::addColumn<QDate>("day");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("6 December 2026") << QDate(2026, 12, 6) << QByteArray("TRD_2026126.sql");
        QTest::newRow("5 March 2026") << QDate(2026, 3, 5) << QByteArray("TRD_202635.sql");
        QTest::newRow("12 January 2026") << QDate(2026, 1, 12) << QByteArray("TRD_2026112.sql");
        QTest::newRow("2 November 2026") << QDate(2026, 11, 2) << QByteArray("TRD_2026112.sql");
    }
    void fileNames()
    {
        QFETCH(QDate, day);
        QFETCH(QByteArray, name);
        QCOMPARE(QByteArray::fromStdString(ScriptFileName(DateFromQt(day) + EncodeTime(23, 59))), name);
    }

    void fileStage_data()
    {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QByteArray>("existing"); // null: no file there
        QTest::addColumn<int>("answer");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QStringList>("texts");
        const QString done = QStringLiteral("Arquivo gerado com sucesso.");
        const QString empty = QStringLiteral("O arquivo de tradução não pôde ser gerado pois não há tabela traduzida correspondente aos dados informados na tela.");
        const QByteArray line4000(4000, 'q');
        QTest::newRow("A, null, B") << QByteArrayList { "A\xe7", QByteArray(), "B" } << QByteArray() << 0
                                    << QByteArray("A\xe7\r\n\r\nB\r\n") << QStringList { done };
        QTest::newRow("4000 characters whole") << QByteArrayList { line4000 } << QByteArray() << 0
                                               << line4000 + "\r\n" << QStringList { done };
        QTest::newRow("longer file replaced on yes") << QByteArrayList { "N" } << QByteArray(100, 'o') << int(mrYes)
                                                     << QByteArray("N\r\n") << QStringList { kOverwrite, done };
        QTest::newRow("untouched on no") << QByteArrayList { "N" } << QByteArray("old") << int(mrNo)
                                         << QByteArray("old") << QStringList { kOverwrite };
        QTest::newRow("empty result leaves the file") << QByteArrayList {} << QByteArray("old") << 0
                                                      << QByteArray("old") << QStringList { empty };
    }
    void fileStage()
    {
        QFETCH(QByteArrayList, lines);
        QFETCH(QByteArray, existing);
        QFETCH(int, answer);
        QFETCH(QByteArray, after);
        QFETCH(QStringList, texts);
        FakeAppServer server;
        ScreenFixture screen(server.fake.address());
        const TDateTime moment = EncodeDate(2026, 12, 6) + EncodeTime(10, 0);
        const QString path = screen.dir.filePath(QStringLiteral("TRD_2026126.sql"));
        if (!existing.isNull()) {
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write(existing);
        }
        loadLines(*screen.form->cdsLinha, lines);
        screen.form->edtDiretorio->SetText(Ansi::fromUnicode(screen.dir.path() + QLatin1Char('/')));
        screen.dialogs.answers = { answer };
        DispatchEvent([&] { screen.form->Grava_Arquivo(moment); });
        QCOMPARE(screen.dialogs.texts(), texts);
        QCOMPARE(fileBytes(path), after);
    }

    void fullDiskKeepsTheEarlierFile()
    {
        FakeAppServer server;
        ScreenFixture screen(server.fake.address());
        const QString path = screen.dir.filePath(QStringLiteral("TRD_2026126.sql"));
        QFile earlier(path);
        earlier.open(QIODevice::WriteOnly);
        earlier.write("earlier\r\n");
        earlier.close();
        loadLines(*screen.form->cdsLinha, { "a new line longer than the space left" });
        screen.form->edtDiretorio->SetText(Ansi::fromUnicode(screen.dir.path() + QLatin1Char('/')));
        screen.dialogs.answers = { mrYes };
        // No file may grow past a few bytes, as on a full disk.
        signal(SIGXFSZ, SIG_IGN);
        rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit tiny = saved;
        tiny.rlim_cur = 8;
        setrlimit(RLIMIT_FSIZE, &tiny);
        DispatchEvent([&] { screen.form->Grava_Arquivo(EncodeDate(2026, 12, 6)); });
        setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(screen.dialogs.texts().size(), 2); // the question, then the I/O error; no success
        QCOMPARE(screen.dialogs.records.last().kind, TScriptedDialogService::Record::Exception);
        const QString shown = screen.dialogs.records.last().text;
        QVERIFY2(shown.endsWith(QStringLiteral("%1: o arquivo ficaria grande demais").arg(path)), qPrintable(shown));
        QCOMPARE(fileBytes(path), QByteArray("earlier\r\n"));
        QCOMPARE(QDir(screen.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("TRD_2026126.sql") });
    }

    // The whole run with the lines arriving in parts and kept in a file of the
    // target directory until the end: every way it ends leaves either the new
    // script or the earlier file, never a file of the lines.
    void linesKeptInAFile_data()
    {
        enum Outcome { Written, Kept, Failed };
        QTest::addColumn<int>("lineCount");
        QTest::addColumn<int>("lineSize");
        QTest::addColumn<QByteArray>("existing"); // null: no file there
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("serverFails"); // after the parts
        QTest::addColumn<qint64>("fileLimit"); // 0: none
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("shown"); // the last dialog's text starts so
        const QString done = QStringLiteral("Arquivo gerado com sucesso.");
        // More than one write buffer, so that the file is written while parts arrive.
        const int many = int(3 * TextFile::kBufferSize / 4000);
        QTest::newRow("new file") << 5 << 10 << QByteArray() << 0 << false << qint64(0) << int(Written) << done;
        QTest::newRow("many lines, new file") << many << 4000 << QByteArray() << 0 << false << qint64(0) << int(Written) << done;
        QTest::newRow("yes replaces") << many << 4000 << QByteArray("earlier\r\n") << int(mrYes) << false << qint64(0) << int(Written) << done;
        QTest::newRow("no keeps") << many << 4000 << QByteArray("earlier\r\n") << int(mrNo) << false << qint64(0) << int(Kept) << kOverwrite;
        QTest::newRow("empty answer") << 0 << 0 << QByteArray("earlier\r\n") << 0 << false << qint64(0) << int(Kept)
                                      << QStringLiteral("O arquivo de tradução não pôde ser gerado");
        QTest::newRow("server fails after the parts") << many << 4000 << QByteArray("earlier\r\n") << 0 << true << qint64(0)
                                                      << int(Failed) << QStringLiteral("Falha");
        QTest::newRow("disk full while the parts arrive") << many << 4000 << QByteArray("earlier\r\n") << 0 << false
                                                          << qint64(64 * 1024) << int(Failed)
                                                          << QStringLiteral("Erro de E/S ao gravar");
        QTest::newRow("disk full at the last lines") << 5 << 10 << QByteArray("earlier\r\n") << 0 << false << qint64(16)
                                                     << int(Failed) << QStringLiteral("Erro de E/S ao gravar");
    }
    void linesKeptInAFile()
    {
        enum Outcome { Written, Kept, Failed };
        QFETCH(int, lineCount);
        QFETCH(int, lineSize);
        QFETCH(QByteArray, existing);
        QFETCH(int, answer);
        QFETCH(bool, serverFails);
        QFETCH(qint64, fileLimit);
        QFETCH(int, outcome);
        QFETCH(QString, shown);
        FakeAppServer server;
        server.lines = numberedLines(lineCount, lineSize);
        server.linesPerPart = 100;
        if (serverFails)
            server.throwing = QStringLiteral("GetPropriedCds");
        ScreenFixture screen(server.fake.address());
        const QString name = QStringLiteral("TRD_2026126.sql");
        const QString path = screen.dir.filePath(name);
        if (!existing.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(existing);
            file.close();
            QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
        }
        screen.fill(0, "01/12/2026", "0930", screen.dir.path());
        screen.dialogs.answers = { answer };
        SetClock([] { return EncodeDate(2026, 12, 6) + EncodeTime(10, 0); });
        signal(SIGXFSZ, SIG_IGN);
        rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        if (fileLimit > 0) {
            rlimit limited = saved;
            limited.rlim_cur = rlim_t(fileLimit);
            setrlimit(RLIMIT_FSIZE, &limited);
        }
        screen.confirm();
        setrlimit(RLIMIT_FSIZE, &saved);
        SetClock({});

        QVERIFY(!screen.dialogs.records.isEmpty());
        QVERIFY2(screen.dialogs.records.last().text.startsWith(shown), qPrintable(screen.dialogs.records.last().text));
        // A failed write names the script's file and says why in Portuguese, never the hidden lines file.
        if (shown.startsWith(QLatin1String("Erro de E/S")))
            QCOMPARE(screen.dialogs.records.last().text,
                     QStringLiteral("Erro de E/S ao gravar %1: o arquivo ficaria grande demais").arg(path));
        if (outcome == Failed)
            QCOMPARE(screen.dialogs.records.last().kind, TScriptedDialogService::Record::Exception);
        const QByteArray expected = outcome == Written ? server.lines.join("\r\n") + "\r\n" : existing;
        QCOMPARE(fileBytes(path), expected);
        QCOMPARE(filesIn(screen.dir.path()), expected.isNull() ? QStringList {} : QStringList { name });
        if (!existing.isNull()) {
            struct stat after {};
            QVERIFY(::stat(QFile::encodeName(path).constData(), &after) == 0);
            QCOMPARE(after.st_mode & 07777, mode_t(0640)); // a replaced file keeps its permission bits
        }
    }

    // A fetch given up while the parts arrive (the progress hook raising, as a
    // cancel does) removes its file and keeps the record set's earlier lines.
    void cancelledFetchKeepsTheEarlierLines()
    {
        FakeAppServer server;
        server.lines = numberedLines(300, 4000);
        server.linesPerPart = 50;
        QTemporaryDir directory;
        TNetConnection connection;
        connection.ServerName = QLatin1String(protocol::contract::kObjectName);
        connection.Host = QStringLiteral("127.0.0.1");
        connection.Port = server.fake.address().section(QLatin1Char(':'), 1).toInt();
        TClientDataSet lines;
        const TField *line = DeclareLineField(lines);
        KeepScriptLinesIn(lines, *line, Ansi::fromUnicode(directory.path() + QLatin1Char('/')), QString());
        AnsiString tableList = "ABC";
        GetPropriedCds(connection, "EN1", tableList, 0, lines);
        QCOMPARE(lines.RecordCount(), 300);
        const TextFile *earlierStore = lines.TextFileOf(*line);
        QVERIFY(earlierStore && earlierStore->placeable());
        const QStringList earlierFile = filesIn(directory.path()); // none where it has no name yet

        server.lines = numberedLines(400, 4000);
        int parts = 0;
        QVERIFY_THROWS_EXCEPTION(EAbort, GetPropriedCds(connection, "EN1", tableList, 0, lines, [&parts](qsizetype) {
            if (++parts == 2)
                throw EAbort();
        }));
        QCOMPARE(filesIn(directory.path()), earlierFile);
        QCOMPARE(lines.TextFileOf(*line), earlierStore);
        QVERIFY(earlierStore->placeable());
        const QByteArrayList earlier = numberedLines(300, 4000);
        QCOMPARE(lines.RecordCount(), earlier.size());
        qsizetype i = 0;
        for (lines.First(); !lines.Eof(); lines.Next(), ++i) {
            const std::string_view bytes = line->AsBytes();
            QCOMPARE(QByteArray(bytes.data(), qsizetype(bytes.size())), earlier.at(i));
        }
        DropScriptLinesFile(lines, *line);
        QCOMPARE(filesIn(directory.path()), QStringList {});
        lines.First();
        const std::string_view first = line->AsBytes(); // still readable
        QCOMPARE(QByteArray(first.data(), qsizetype(first.size())), earlier.first());
    }

    void writtenWhereverAPlainOverwriteWould_data()
    {
        QTest::addColumn<bool>("linesInAFile"); // kept where the script goes, else in memory
        QTest::addColumn<bool>("directoryWritable");
        QTest::addColumn<bool>("fileWritable");
        QTest::addColumn<int>("outcome"); // the writer's exit status: 0 written, 1 I/O error
        QTest::addColumn<QByteArray>("after");
        for (const bool inFile : { false, true }) {
            const QByteArray held = inFile ? "lines in a file, " : "lines in memory, ";
            QTest::newRow(held + "directory writable") << inFile << true << true << 0 << QByteArray("new\r\n");
            QTest::newRow(held + "no new file in the directory: in place") << inFile << false << true << 0 << QByteArray("new\r\n");
            QTest::newRow(held + "neither: error, file untouched") << inFile << false << false << 1 << QByteArray("earlier text\r\n");
        }
    }
    void writtenWhereverAPlainOverwriteWould()
    {
        QFETCH(bool, linesInAFile);
        QFETCH(bool, directoryWritable);
        QFETCH(bool, fileWritable);
        QFETCH(int, outcome);
        QFETCH(QByteArray, after);
        // Permissions do not bind root: the writer takes the identity of "nobody".
        const bool root = geteuid() == 0;
        QTemporaryDir scratch;
        const QString directory = scratch.filePath(QStringLiteral("out"));
        const QString path = directory + QStringLiteral("/TRD_2026126.sql");
        QVERIFY(makeEarlierFile(path));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), fileWritable ? 0666 : 0444) == 0);
        if (root && directoryWritable)
            QVERIFY(::chown(QFile::encodeName(directory).constData(), kNobody, kNobody) == 0);
        QVERIFY(::chmod(QFile::encodeName(directory).constData(), directoryWritable ? 0755 : 0555) == 0);

        QCOMPARE(writeAs(root ? kNobody : geteuid(), path, linesInAFile), outcome);
        QCOMPARE(fileBytes(path), after);
        QCOMPARE(QDir(directory).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("TRD_2026126.sql") });
        ::chmod(QFile::encodeName(directory).constData(), 0755); // so that the scratch directory can go
    }

    void replaceKeepsOwnerModeAndLinks_data()
    {
        QTest::addColumn<uid_t>("owner");   // of the file and its directory
        QTest::addColumn<uint>("mode");
        QTest::addColumn<uid_t>("writer");
        QTest::addColumn<QString>("link");  // another name for the file: "hard", "symbolic" or none
        QTest::addColumn<bool>("replaced"); // a new file took the old one's place, else written in place
        QTest::addColumn<bool>("linesInAFile"); // kept where the script goes, else in memory
        for (const bool inFile : { false, true }) {
            const QByteArray held = inFile ? "lines in a file, " : "lines in memory, ";
            QTest::newRow(held + "another's file, the writer may give it away") << kNobody << 0664u << uid_t(0) << QString() << true << inFile;
            QTest::newRow(held + "a private mode") << uid_t(0) << 0600u << uid_t(0) << QString() << true << inFile;
            QTest::newRow(held + "a set-group-id mode") << kNobody << 02660u << uid_t(0) << QString() << true << inFile;
            QTest::newRow(held + "another's file, the writer may not give it away") << uid_t(0) << 0666u << kNobody << QString() << false << inFile;
            QTest::newRow(held + "a hard link") << kNobody << 0664u << uid_t(0) << QStringLiteral("hard") << false << inFile;
            QTest::newRow(held + "a symbolic link") << kNobody << 0664u << uid_t(0) << QStringLiteral("symbolic") << true << inFile;
        }
    }
    void replaceKeepsOwnerModeAndLinks()
    {
        QFETCH(uid_t, owner);
        QFETCH(uint, mode);
        QFETCH(uid_t, writer);
        QFETCH(QString, link);
        QFETCH(bool, replaced);
        QFETCH(bool, linesInAFile);
        if (geteuid() != 0)
            QSKIP("giving files to other users needs root");
        QTemporaryDir scratch;
        const QString directory = scratch.filePath(QStringLiteral("out"));
        const QString file = directory + QStringLiteral("/TRD_2026126.sql");
        QVERIFY(makeEarlierFile(file));
        QVERIFY(::chown(QFile::encodeName(file).constData(), owner, owner) == 0);
        QVERIFY(::chmod(QFile::encodeName(file).constData(), mode) == 0);
        QVERIFY(::chown(QFile::encodeName(directory).constData(), owner, owner) == 0);
        QString path = file; // where the writer is pointed
        const QString other = scratch.filePath(QStringLiteral("other.sql"));
        if (link == QLatin1String("hard"))
            QVERIFY(::link(QFile::encodeName(file).constData(), QFile::encodeName(other).constData()) == 0);
        if (link == QLatin1String("symbolic")) {
            QVERIFY(::symlink(QFile::encodeName(file).constData(), QFile::encodeName(other).constData()) == 0);
            path = other;
        }
        struct stat before {};
        QVERIFY(::stat(QFile::encodeName(file).constData(), &before) == 0);

        QCOMPARE(writeAs(writer, path, linesInAFile), 0);
        struct stat after {};
        QVERIFY(::stat(QFile::encodeName(file).constData(), &after) == 0);
        QCOMPARE(fileBytes(file), QByteArray("new\r\n"));
        QCOMPARE(after.st_uid, owner);
        QCOMPARE(after.st_gid, gid_t(owner));
        QCOMPARE(uint(after.st_mode & 07777), mode);
        QCOMPARE(after.st_ino != before.st_ino, replaced);
        if (!link.isEmpty())
            QCOMPARE(fileBytes(other), QByteArray("new\r\n"));
        if (link == QLatin1String("symbolic"))
            QVERIFY(QFileInfo(other).isSymLink());
        QCOMPARE(QDir(directory).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("TRD_2026126.sql") });
    }

    void directoryAtTheFilePathIsAnIoError()
    {
        FakeAppServer server;
        ScreenFixture screen(server.fake.address());
        QDir(screen.dir.path()).mkdir(QStringLiteral("TRD_2026126.sql"));
        loadLines(*screen.form->cdsLinha, { "new" });
        screen.form->edtDiretorio->SetText(Ansi::fromUnicode(screen.dir.path() + QLatin1Char('/')));
        DispatchEvent([&] { screen.form->Grava_Arquivo(EncodeDate(2026, 12, 6)); });
        QCOMPARE(screen.dialogs.records.size(), 1); // no question, no success: the I/O error
        QCOMPARE(screen.dialogs.records.first().kind, TScriptedDialogService::Record::Exception);
        QVERIFY(QFileInfo(screen.dir.filePath(QStringLiteral("TRD_2026126.sql"))).isDir());
    }

    void tableListsSent_data()
    {
        QTest::addColumn<bool>("lista");
        QTest::addColumn<QString>("sentToLines");
        QTest::addColumn<QByteArray>("keptInScreen");
        QTest::newRow("Todos joins the codes") << false << QStringLiteral("ABC                 DEF                 ") << QByteArray();
        QTest::newRow("Lista keeps the write-back") << true << QStringLiteral("PICKED!") << QByteArray("PICKED!!");
    }
    void tableListsSent()
    {
        QFETCH(bool, lista);
        QFETCH(QString, sentToLines);
        QFETCH(QByteArray, keptInScreen);
        FakeAppServer server;
        server.refSuffix = QStringLiteral("!");
        ScreenFixture screen(server.fake.address());
        screen.fill(1, "01/12/2026", "0930", screen.dir.path()); // "ENGLISH": the first match is "English"
        if (lista) {
            screen.form->rbtLista->SetChecked(true);
            const_cast<AnsiString &>(screen.form->ListaTabelas()) = "PICKED";
        }
        screen.confirm();
        const QList<protocol::Request> requests = server.fake.requests();
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests.at(1).method, QStringLiteral("GetTabela"));
        QCOMPARE(requests.at(1).args.at(0).text, lista ? QStringLiteral("PICKED") : QString());
        using protocol::ArgumentKind;
        QCOMPARE(requests.at(1).args.at(0).kind, lista ? ArgumentKind::StrRef : ArgumentKind::Str);
        QCOMPARE(requests.at(1).args.at(1).kind, ArgumentKind::Str);
        QCOMPARE(requests.at(1).args.at(1).text, lista ? QString() : QStringLiteral("T"));
        QCOMPARE(requests.at(2).args.at(0).kind, ArgumentKind::Str);
        QCOMPARE(requests.at(2).args.at(1).kind, ArgumentKind::StrRef); // the list, by reference
        QCOMPARE(requests.at(2).args.at(2).kind, ArgumentKind::Date);
        QCOMPARE(requests.at(2).args.at(0).text, QStringLiteral("EN1"));
        QCOMPARE(requests.at(2).args.at(1).text, sentToLines);
        QCOMPARE(requests.at(2).args.at(2).date, EncodeDate(2026, 12, 1) + EncodeTime(9, 30));
        QCOMPARE(QByteArray::fromStdString(screen.form->ListaTabelas()), keptInScreen);
        QCOMPARE(screen.dialogs.texts(), QStringList { QStringLiteral("Arquivo gerado com sucesso.") });
    }

    void serverFailureMidRun_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("throwing");
        QTest::addColumn<int>("kind"); // of the one dialog shown
        QTest::newRow("GetTabela reports a failure") << QStringLiteral("GetTabela") << QString() << int(TScriptedDialogService::Record::Message);
        QTest::newRow("GetPropriedCds reports a failure") << QStringLiteral("GetPropriedCds") << QString() << int(TScriptedDialogService::Record::Message);
        QTest::newRow("GetTabela raises") << QString() << QStringLiteral("GetTabela") << int(TScriptedDialogService::Record::Exception);
        QTest::newRow("GetPropriedCds raises") << QString() << QStringLiteral("GetPropriedCds") << int(TScriptedDialogService::Record::Exception);
    }
    void serverFailureMidRun()
    {
        QFETCH(QString, failing);
        QFETCH(QString, throwing);
        QFETCH(int, kind);
        FakeAppServer server;
        server.failing = failing;
        server.throwing = throwing;
        ScreenFixture screen(server.fake.address());
        screen.fill(0, "01/12/2026", "0930", screen.dir.path());
        screen.confirm();
        QCOMPARE(screen.dialogs.records.size(), 1);
        QCOMPARE(int(screen.dialogs.records.first().kind), kind);
        QVERIFY(screen.dialogs.records.first().text.startsWith(QStringLiteral("Falha")));
        QCOMPARE(QDir(screen.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {}); // nothing written
        QVERIFY(!ShowAviVisible());
        QCOMPARE(server.fake.requests().last().method, failing + throwing); // the run went no further
    }

    void cancelDuringTheFetch_data()
    {
        QTest::addColumn<int>("answer"); // to "Deseja cancelar a geração do arquivo?"
        QTest::addColumn<bool>("written");
        QTest::newRow("Sim: nothing written") << int(mrYes) << false;
        QTest::newRow("Não: the fetch goes on") << int(mrNo) << true;
    }
    void cancelDuringTheFetch()
    {
        QFETCH(int, answer);
        QFETCH(bool, written);
        FakeAppServer server;
        server.lines = QByteArrayList(200, "SELECT 1;");
        ScreenFixture screen(server.fake.address());
        screen.fill(0, "01/12/2026", "0930", screen.dir.path());
        screen.form->rbtLista->SetChecked(true);
        screen.form->rbtListaClick(screen.form->rbtLista);
        const AnsiString picked = "ABC                 ";
        const_cast<AnsiString &>(screen.form->ListaTabelas()) = picked;
        server.refSuffix = QStringLiteral("X"); // the server's list differs from the one picked
        const QString earlier = screen.dir.filePath(QStringLiteral("TRD_earlier.sql"));
        {
            QFile file(earlier);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("earlier");
        }
        // A byte every millisecond: the lines take a few seconds.
        server.fake.setPace(std::chrono::milliseconds(1));
        screen.dialogs.answers = { answer, int(mrYes) };
        bool escapeSent = false;
        QTimer presser;
        connect(&presser, &QTimer::timeout, [&] {
            if (ShowAviVisible() && !escapeSent) {
                escapeSent = true;
                QTest::keyClick(screen.form->focusWidget() ? screen.form->focusWidget() : screen.form, Qt::Key_Escape);
            }
        });
        presser.start(20);
        screen.confirm();
        presser.stop();
        QVERIFY(escapeSent);
        QVERIFY(!ShowAviVisible());
        QCOMPARE(screen.dialogs.texts().value(0), QStringLiteral("Deseja cancelar a geração do arquivo?"));
        const QStringList scripts = QDir(screen.dir.path()).entryList({ QStringLiteral("TRD_2*.sql") }, QDir::Files);
        QCOMPARE(scripts.size(), written ? 1 : 0);
        QCOMPARE(fileBytes(earlier), QByteArray("earlier"));
        if (written)
            return;
        QCOMPARE(screen.dialogs.texts().size(), 1); // the cancel is silent
        QCOMPARE(screen.form->ListaTabelas(), picked);
        QVERIFY(!screen.form->netGeraArquivo->Connected());

        // The next confirm connects again and writes the file.
        server.fake.setPace(std::chrono::milliseconds(0));
        screen.dialogs.clear();
        screen.dialogs.answers = { int(mrYes) };
        screen.confirm();
        QCOMPARE(screen.dialogs.texts(), QStringList { QStringLiteral("Arquivo gerado com sucesso.") });
        QCOMPARE(QDir(screen.dir.path()).entryList({ QStringLiteral("TRD_2*.sql") }, QDir::Files).size(), 1);
    }

    void fileNamedAfterTheDayTheRunStarted()
    {
        FakeAppServer server;
        ScreenFixture screen(server.fake.address());
        screen.fill(0, "01/12/2026", "0930", screen.dir.path());
        // The run starts at 23:59:30; once the lines are fetched it is past midnight.
        SetClock([&server] {
            const bool fetched = server.fake.requests().size() >= 3;
            return EncodeDate(2026, 12, 6) + (fetched ? 1 + EncodeTime(0, 0, 30) : EncodeTime(23, 59, 30));
        });
        QFile earlier(screen.dir.filePath(QStringLiteral("TRD_2026126.sql")));
        earlier.open(QIODevice::WriteOnly);
        earlier.close();
        screen.dialogs.answers = { mrYes };
        screen.confirm();
        SetClock({});
        QCOMPARE(screen.dialogs.texts(), (QStringList { kOverwrite, QStringLiteral("Arquivo gerado com sucesso.") }));
        QCOMPARE(fileBytes(earlier.fileName()), QByteArray("SELECT 1;\r\n"));
        QVERIFY(!QFile::exists(screen.dir.filePath(QStringLiteral("TRD_2026127.sql"))));
    }

    void lostServerRepeatedOnTheNext()
    {
        const auto seed = seedManyLines(200000);
        ServerProcess first(seed);
        ServerProcess second(seed);
        QByteArray undisturbed;
        {
            ScreenFixture screen(first.address());
            screen.fill(0, "01/01/2025", "0000", screen.dir.path());
            const TDateTime before = Now();
            screen.confirm();
            QCOMPARE(screen.dialogs.texts(), QStringList { QStringLiteral("Arquivo gerado com sucesso.") });
            undisturbed = fileBytes(screen.dir.filePath(QString::fromStdString(ScriptFileName(before))));
        }

        // The first server dies once its first part (about 1 MiB) has reached the screen;
        // the second's answer waits until the busy window has said where it reconnects.
        CuttingProxy lost(quint16(first.port()), 3 << 19, [&first] { ::kill(pid_t(first.pid()), SIGKILL); });
        HoldingProxy next(quint16(second.port()));
        next.hold();
        ScreenFixture screen(lost.address() + QLatin1Char(',') + next.address());
        screen.fill(0, "01/01/2025", "0000", screen.dir.path());
        QString said;
        QTimer watch;
        QDeadlineTimer giveUp(20000);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (QWidget *window : QApplication::topLevelWidgets()) {
                if (window->objectName() != QLatin1String("busyWindow") || !window->isVisible())
                    continue;
                const QString caption = window->findChild<QLabel *>(QStringLiteral("caption"))->text();
                if (caption.startsWith(QLatin1String("reconectando")))
                    said = caption;
            }
            if (!said.isEmpty() || giveUp.hasExpired())
                next.release();
        });
        watch.start(10);
        const TDateTime before = Now();
        screen.confirm();
        QCOMPARE(screen.dialogs.texts(), QStringList { QStringLiteral("Arquivo gerado com sucesso.") });
        QVERIFY(lost.cut());
        QCOMPARE(said, QStringLiteral("reconectando a %1...").arg(next.address()));
        QCOMPARE(fileBytes(screen.dir.filePath(QString::fromStdString(ScriptFileName(before)))), undisturbed);
        QCOMPARE(QDir(screen.dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // nothing of the lost answer
        QVERIFY(second.waitForLog("call=\"GetPropriedCds\""));
        QCOMPARE(auditedCalls(second, "GetPropriedCds"), 1);
        QCOMPARE(auditedCalls(second, "GetIdioma") + auditedCalls(second, "GetTabela"), 0);
    }

    void endToEndWithTheDemoServer()
    {
        ServerProcess server({}, true);
        ScreenFixture screen(server.address());
        screen.form->cbbIdioma->setCurrentText(QStringLiteral("Inglês"));
        screen.fill(screen.form->cbbIdioma->currentIndex(), "01/01/2025", "0000", screen.dir.path());
        const TDateTime before = Now();
        screen.confirm();
        QCOMPARE(screen.dialogs.texts(), QStringList { QStringLiteral("Arquivo gerado com sucesso.") });
        const QString path = screen.dir.filePath(QString::fromStdString(ScriptFileName(before)));
        const QByteArray script = fileBytes(path);
        QVERIFY(script.endsWith("\r\n"));

        QSqlDatabase target = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("scratch"));
        target.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(target.open());
        exec(target, QStringLiteral("CREATE TABLE TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO, "
                                    "PRIMARY KEY (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA))"));
        for (const QByteArray &line : script.split('\n')) {
            if (!line.trimmed().isEmpty())
                exec(target, Ansi::toUnicode(line.trimmed().toStdString()));
        }
        QSqlQuery query(QStringLiteral("SELECT CDCHAVE, NMCAMPO, DSTRADUCAO FROM TRADUCAO WHERE CDPROGTRAD = 'PRODUTO' "
                                       "ORDER BY CDCHAVE, NMCAMPO"), target);
        QStringList texts;
        while (query.next())
            texts << query.value(2).toString();
        QCOMPARE(texts, (QStringList { QStringLiteral("Running shoes"), QStringLiteral("Kids' \"Star\" T-shirt"),
                                       QStringLiteral("Wash cold.\nDo not bleach.") }));
    }
};

QTEST_MAIN(TestGeneration)
#include "tst_generation.moc"
