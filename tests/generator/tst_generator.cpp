// qlx02600-gen: the same remote calls and the same file as the screen, without a
// display, and an exit code for every outcome.
#include "tests/support/cuttingproxy.h"
#include "tests/support/fakeappserver.h"
#include "tests/support/screenfixture.h"
#include "tests/support/serverprocess.h"

#include "client/scriptfile.h"

#include <QTcpServer>
#include <QRegularExpression>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kRunLimitMs = 60'000; // for one run of the generator

struct GeneratorRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// How a run's standard output is given to the generator.
enum class Output { Read, Closed, Full };
// Who runs it: the test's user, or one whom file permissions bind (nobody, when the
// test runs as root).
enum class User { Tester, Bound };

// No display of any kind, no host setting but those given ("NAME=value") and a
// settings file of its own.
QProcessEnvironment generatorEnvironment(const QStringList &settings)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QLX_SERVER", "QLX_TIMEOUT",
                              "QLX_ANSWER_LIMIT_MIB" })
        environment.remove(QLatin1String(name));
    static QTemporaryDir configuration; // an empty one unless a test writes qlx/qlxhost.conf there
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configuration.path());
    for (const QString &setting : settings)
        environment.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    return environment;
}

// Runs the generator in generatorEnvironment(settings).
GeneratorRun generate(const QStringList &arguments, const QStringList &settings = {}, Output output = Output::Read,
                      User user = User::Tester)
{
    QProcess process;
    process.setProcessEnvironment(generatorEnvironment(settings));
    if (output == Output::Read && user == User::Bound && ::geteuid() == 0) {
        process.start(QStringLiteral("setpriv"), QStringList { QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                                               QStringLiteral("--clear-groups"), QStringLiteral(QLX_GEN_PATH) }
                                                     + arguments);
    } else if (output == Output::Read) {
        process.start(QStringLiteral(QLX_GEN_PATH), arguments);
    } else {
        // The shell closes standard output, or points it at a full device.
        const QString redirect = output == Output::Closed ? QStringLiteral(">&-") : QStringLiteral(">/dev/full");
        process.start(QStringLiteral("sh"), QStringList { QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$@\" %1").arg(redirect),
                                                          QStringLiteral(QLX_GEN_PATH) } + arguments);
    }
    GeneratorRun run;
    if (!process.waitForFinished(kRunLimitMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

// A port where a program of another kind answers every connection the way
// PostgreSQL answers a start-up it does not understand, then closes it.
class ForeignServer
{
public:
    ForeignServer()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), size) == 0 && ::listen(m_listener, 8) == 0
            && ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) == 0)
            m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            for (;;) {
                const int client = ::accept(m_listener, nullptr, nullptr);
                if (client < 0)
                    return;
                static const char answer[] = "E\0\0\0\x5cSFATAL\0VFATAL\0C0A000\0Munsupported frontend protocol\0";
                char request[256];
                if (::read(client, request, sizeof request) > 0)
                    (void)!::write(client, answer, sizeof answer - 1);
                ::close(client);
            }
        });
    }
    ~ForeignServer()
    {
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// The file names a run started now may take: today's, or tomorrow's past midnight.
QStringList todaysFileNames()
{
    const TDateTime now = Now();
    return { QString::fromStdString(ScriptFileName(now)), QString::fromStdString(ScriptFileName(now + 1)) };
}

QString describe(const QList<protocol::Request> &requests)
{
    QStringList calls;
    for (const protocol::Request &request : requests) {
        QStringList args;
        for (const protocol::Argument &argument : request.args)
            args << QStringLiteral("%1:%2").arg(int(argument.kind)).arg(argument.kind == protocol::ArgumentKind::Date
                                                                           ? QString::number(argument.date, 'g', 17)
                                                                           : argument.text);
        calls << QStringLiteral("%1/%2(%3)").arg(request.object, request.method, args.join(QLatin1Char(',')));
    }
    return calls.join(QLatin1Char('\n'));
}

} // namespace

class TestGenerator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { FormatSettings() = TFormatSettings::fromLocale(QLocale(QLocale::Portuguese, QLocale::Brazil)); }

    void sameCallsAndFileAsTheScreen_data()
    {
        QTest::addColumn<bool>("all");
        QTest::newRow("all tables") << true;
        QTest::newRow("a list of tables") << false;
    }
    void sameCallsAndFileAsTheScreen()
    {
        QFETCH(bool, all);
        FakeAppServer byScreen;
        FakeAppServer byGenerator;
        for (FakeAppServer *server : { &byScreen, &byGenerator }) {
            server->tables = { "PRODUTO", "UNIDADE" };
            server->lines = { "INSERT 'Ação' \x80;", "", "SELECT 'x' || char(10);" };
        }
        QString screenFile;
        {
            ScreenFixture screen(byScreen.fake.address());
            screen.fill(0, "05/03/2026", "0930", screen.dir.path());
            if (!all) {
                screen.form->rbtLista->SetChecked(true);
                const_cast<AnsiString &>(screen.form->ListaTabelas()) = "PRODUTO             UNIDADE             ";
            }
            const TDateTime before = Now();
            screen.confirm();
            QCOMPARE(screen.dialogs.texts(), QStringList { QStringLiteral("Arquivo gerado com sucesso.") });
            screenFile = QString::fromStdString(ScriptFileName(before));
            QFile::copy(screen.dir.filePath(screenFile), QDir::temp().filePath(QStringLiteral("tst_generator-screen.sql")));
        }
        const QByteArray screenBytes = fileBytes(QDir::temp().filePath(QStringLiteral("tst_generator-screen.sql")));
        QFile::remove(QDir::temp().filePath(QStringLiteral("tst_generator-screen.sql")));

        QTemporaryDir dir;
        QStringList arguments { QStringLiteral("--server"), byGenerator.fake.address(), QStringLiteral("--language"),
                                QStringLiteral("EN1"), QStringLiteral("--since"), QStringLiteral("2026-03-05 09:30"),
                                QStringLiteral("--dir"), dir.path() };
        arguments << (all ? QStringList { QStringLiteral("--all") } : QStringList { QStringLiteral("--tables"),
                                                                                   QStringLiteral("PRODUTO, UNIDADE") });
        const GeneratorRun run = generate(arguments);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(describe(byGenerator.fake.requests()), describe(byScreen.fake.requests()));
        QCOMPARE(QFileInfo(QString::fromLocal8Bit(run.out.trimmed())).fileName(), screenFile);
        QCOMPARE(fileBytes(QString::fromLocal8Bit(run.out.trimmed())), screenBytes);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { screenFile }); // nothing else left beside it
    }

    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("inTheDirectory"); // "file" or "directory" of the script's name, or nothing
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const QStringList eng { QStringLiteral("--language"), QStringLiteral("ENG") };
        const QStringList since { QStringLiteral("--since"), QStringLiteral("2025-01-01 00:00") };
        const QStringList all { QStringLiteral("--all") };
        QTest::newRow("written") << eng + since + all << QString() << 0 << QString();
        QTest::newRow("language in small letters") << QStringList { QStringLiteral("--language"), QStringLiteral("esp") } + since + all
                                                   << QString() << 0 << QString();
        QTest::newRow("existing file replaced when asked")
            << eng + since + all + QStringList { QStringLiteral("--overwrite") } << QStringLiteral("file") << 0 << QString();
        QTest::newRow("nothing changed since") << eng + QStringList { QStringLiteral("--since"), QStringLiteral("2030-01-01 00:00") } + all
                                               << QString() << 1 << QStringLiteral("nenhum arquivo gravado");
        QTest::newRow("unknown option") << eng + since + all + QStringList { QStringLiteral("--bogus") } << QString() << 2
                                        << QStringLiteral("bogus");
        QTest::newRow("no language") << since + all << QString() << 2 << QStringLiteral("--language");
        QTest::newRow("language longer than its field") << QStringList { QStringLiteral("--language"), QStringLiteral("ENGL") } + since + all
                                                        << QString() << 2 << QStringLiteral("3 caracteres");
        QTest::newRow("language the server lacks") << QStringList { QStringLiteral("--language"), QStringLiteral("FRA") } + since + all
                                                   << QString() << 2 << QStringLiteral("POR, ENG, ESP");
        QTest::newRow("impossible date") << eng + QStringList { QStringLiteral("--since"), QStringLiteral("2026-02-30 10:00") } + all
                                         << QString() << 2 << QStringLiteral("AAAA-MM-DD HH:MM");
        QTest::newRow("hour out of range") << eng + QStringList { QStringLiteral("--since"), QStringLiteral("2026-02-03 24:00") } + all
                                           << QString() << 2 << QStringLiteral("AAAA-MM-DD HH:MM");
        QTest::newRow("both scopes") << eng + since + all + QStringList { QStringLiteral("--tables"), QStringLiteral("PRODUTO") }
                                     << QString() << 2 << QStringLiteral("--all ou --tables");
        QTest::newRow("neither scope") << eng + since << QString() << 2 << QStringLiteral("--all ou --tables");
        QTest::newRow("table code longer than its field")
            << eng + since + QStringList { QStringLiteral("--tables"), QStringLiteral("PRODUTO,%1").arg(QString(21, QLatin1Char('X'))) }
            << QString() << 2 << QStringLiteral("1 a 20");
        QTest::newRow("empty table code") << eng + since + QStringList { QStringLiteral("--tables"), QStringLiteral("PRODUTO,,UNIDADE") }
                                          << QString() << 2 << QStringLiteral("1 a 20");
        QTest::newRow("time limit out of range") << eng + since + all + QStringList { QStringLiteral("--timeout"), QStringLiteral("0") }
                                                 << QString() << 2 << QStringLiteral("--timeout");
        QTest::newRow("directory missing") << eng + since + all + QStringList { QStringLiteral("--dir"), QStringLiteral("/nonexistent/dir") }
                                           << QString() << 2 << QStringLiteral("o diretório não existe");
        QTest::newRow("table the server lacks") << eng + since + QStringList { QStringLiteral("--tables"), QStringLiteral("PRODUTO,NADA") }
                                                << QString() << 2 << QStringLiteral("Tabela não cadastrada para tradução: NADA.");
        QTest::newRow("a directory bears the file's name") << eng + since + all << QStringLiteral("directory") << 4
                                                           << QStringLiteral(": é um diretório");
        QTest::newRow("existing file kept") << eng + since + all << QStringLiteral("file") << 5 << QStringLiteral("--overwrite");
    }
    // A folder that takes no new file, with no file there that may be written, fails
    // the run and the dry run alike, before any line is fetched.
    void unwritableFolderRefusedBeforeFetching_data()
    {
        QTest::addColumn<QStringList>("mode");
        QTest::newRow("run") << QStringList();
        QTest::newRow("dry run") << QStringList { QStringLiteral("--dry-run") };
    }
    void unwritableFolderRefusedBeforeFetching()
    {
        QFETCH(QStringList, mode);
        if (::geteuid() == 0
            && QProcess::execute(QStringLiteral("setpriv"), { QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                                              QStringLiteral("--clear-groups"), QStringLiteral(QLX_GEN_PATH),
                                                              QStringLiteral("--version") }) != 0)
            QSKIP("the build's folder is closed to an unprivileged user, whom the folder's permissions would bind");
        static ServerProcess server({}, true);
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                      | QFileDevice::ReadOther | QFileDevice::ExeOther));
        const QString locked = dir.filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkdir(locked));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                                  | QFileDevice::ExeOther));
        const qsizetype callsBefore = server.log().count("call=\"GetPropriedCds\"");
        const GeneratorRun run = generate(QStringList { QStringLiteral("--server"), server.address(), QStringLiteral("--language"),
                                                        QStringLiteral("ENG"), QStringLiteral("--since"),
                                                        QStringLiteral("2025-01-01 00:00"), QStringLiteral("--all"),
                                                        QStringLiteral("--dir"), locked } + mode,
                                          {}, Output::Read, User::Bound);
        QVERIFY2(run.exitCode == 4, run.err.constData());
        QVERIFY2(run.err.contains("Erro de E/S ao gravar " + locked.toUtf8() + "/TRD_"), run.err.constData());
        QVERIFY2(run.err.contains(": permissão negada"), run.err.constData());
        QVERIFY(run.out.isEmpty());
        QCOMPARE(server.log().count("call=\"GetPropriedCds\""), callsBefore);
    }

    // A run ended by a signal in the middle of its lines leaves nothing in the directory;
    // after a SIGKILL, the next run leaves only its script.
    void interruptedRunLeavesNothing_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGKILL, then a run") << SIGKILL;
    }
    void interruptedRunLeavesNothing()
    {
        QFETCH(int, signalNumber);
        FakeAppServer server;
        server.lines = QByteArrayList(20000, QByteArray(200, 'x'));
        server.linesPerPart = 500;
        server.fake.setPace(std::chrono::milliseconds(5), 4096);
        QTemporaryDir dir;
        const QStringList arguments { QStringLiteral("--server"), server.fake.address(), QStringLiteral("--language"),
                                      QStringLiteral("EN1"), QStringLiteral("--since"), QStringLiteral("2026-01-01 00:00"),
                                      QStringLiteral("--all"), QStringLiteral("--dir"), dir.path(), QStringLiteral("--quiet") };
        QProcess generator;
        generator.start(QStringLiteral(QLX_GEN_PATH), arguments);
        QVERIFY(QTest::qWaitFor([&] {
            const QList<protocol::Request> requests = server.fake.requests();
            return !requests.isEmpty() && requests.constLast().method == QLatin1String("GetPropriedCds");
        }, kRunLimitMs));
        QTest::qWait(300); // lines on their way into the file
        ::kill(pid_t(generator.processId()), signalNumber);
        QVERIFY(generator.waitForFinished(kRunLimitMs));
        QCOMPARE(generator.exitStatus(), QProcess::CrashExit);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {});
        if (signalNumber != SIGKILL)
            return;
        server.fake.setPace(std::chrono::milliseconds(0));
        const GeneratorRun next = generate(arguments);
        QVERIFY2(next.exitCode == 0, next.err.constData());
        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left.size(), 1);
        QVERIFY(left.constFirst().startsWith(QLatin1String("TRD_")));
    }

    void exitCodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, inTheDirectory);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        static ServerProcess server({}, true);
        QTemporaryDir dir;
        for (const QString &name : todaysFileNames()) {
            if (inTheDirectory == QLatin1String("directory"))
                QDir(dir.path()).mkdir(name);
            if (inTheDirectory == QLatin1String("file")) {
                QFile earlier(dir.filePath(name));
                QVERIFY(earlier.open(QIODevice::WriteOnly));
                earlier.write("earlier\r\n");
            }
        }
        // A --dir of the row's own comes after the scratch one and so takes its place.
        const GeneratorRun run = generate(QStringList { QStringLiteral("--server"), server.address(), QStringLiteral("--dir"),
                                                        dir.path() } + arguments);
        QVERIFY2(run.exitCode == exitCode, run.err.constData());
        QVERIFY2(QString::fromUtf8(run.err).contains(said), run.err.constData());
        const QStringList names = todaysFileNames();
        const QString written = QString::fromLocal8Bit(run.out.trimmed());
        if (exitCode == 0) {
            QVERIFY(names.contains(QFileInfo(written).fileName()));
            const QByteArray script = fileBytes(written);
            QVERIFY(script.startsWith("INSERT INTO TRADUCAO") && script.endsWith(";\r\n"));
        } else {
            QVERIFY(written.isEmpty());
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), inTheDirectory == QLatin1String("file") ? names.size() : 0);
            if (inTheDirectory == QLatin1String("file"))
                QCOMPARE(fileBytes(dir.filePath(names.first())), QByteArray("earlier\r\n"));
        }
    }

    void newOptions_data()
    {
        // "@DIR" stands for the run's scratch directory; every row but --version adds
        // the demo server, a language, a moment and --all.
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("fileThere");   // a file at the output's place before the run
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");      // a pattern for the whole of standard output
        QTest::addColumn<QString>("err");      // a pattern for the whole of standard error
        QTest::addColumn<QString>("written");  // the file in @DIR afterwards, or none
        const QString script = QStringLiteral("INSERT INTO TRADUCAO[^\\n]*;\r\n(.*;\r\n)*");
        const QString none;
        const QString any = QStringLiteral("(.|\n)*");
        const QStringList dir { QStringLiteral("--dir"), QStringLiteral("@DIR") };
        const QStringList toFile { QStringLiteral("--output"), QStringLiteral("@DIR/script.sql") };
        const QStringList toOutput { QStringLiteral("-o"), QStringLiteral("-") };
        const QStringList dryRun { QStringLiteral("--dry-run") };
        const QStringList quiet { QStringLiteral("-q") };
        const QStringList overwrite { QStringLiteral("--overwrite") };
        const QStringList later { QStringLiteral("--since"), QStringLiteral("2030-01-01 00:00") };
        QTest::newRow("--version") << QStringList { QStringLiteral("--version") } << false << 0
                                   << QStringLiteral("qlx02600-gen \\d+\\.\\d+\\.\\d+\n") << QString() << none;
        QTest::newRow("--output FILE") << toFile << false << 0 << QStringLiteral("@DIR/script.sql\n") << QString()
                                       << QStringLiteral("script.sql");
        QTest::newRow("--output FILE kept") << toFile << true << 5 << QString() << QStringLiteral(".*--overwrite.*\n")
                                            << QStringLiteral("script.sql");
        QTest::newRow("--output FILE replaced") << toFile + overwrite << true << 0 << QStringLiteral("@DIR/script.sql\n")
                                                << QString() << QStringLiteral("script.sql");
        QTest::newRow("--output -") << toOutput << false << 0 << script << QString() << none;
        QTest::newRow("--output - with a file named -") << toOutput << true << 0 << script << QString() << QStringLiteral("-");
        QTest::newRow("--output and --dir") << toFile + dir << false << 2 << QString() << any << none;
        QTest::newRow("--output in a missing directory")
            << QStringList { QStringLiteral("--output"), QStringLiteral("@DIR/none/script.sql") } << false << 2 << QString()
            << QStringLiteral(".*o diretório não existe(.|\n)*") << none;
        QTest::newRow("--dry-run") << dir + dryRun << false << 0 << QStringLiteral("[1-9]\\d*\n")
                                   << QStringLiteral("qlx02600-gen: ensaio: \\d+ linha\\(s\\) a gravar em .*; nada gravado\n") << none;
        QTest::newRow("--dry-run to standard output") << toOutput + dryRun << false << 0 << QStringLiteral("[1-9]\\d*\n") << any << none;
        QTest::newRow("--dry-run, nothing to write") << dir + dryRun + later << false << 1 << QStringLiteral("0\n") << any << none;
        QTest::newRow("--dry-run, file kept") << toFile + dryRun << true << 5 << QString() << any << QStringLiteral("script.sql");
        QTest::newRow("--quiet, written") << dir + quiet << false << 0 << QStringLiteral("/.*\\.sql\n") << QString()
                                          << QStringLiteral("TRD");
        QTest::newRow("--quiet, nothing to write") << dir + quiet + later << false << 1 << QString() << QString() << none;
        QTest::newRow("--quiet, file kept") << toFile + quiet << true << 5 << QString() << QString() << QStringLiteral("script.sql");
        QTest::newRow("--quiet, an error") << dir + quiet + QStringList { QStringLiteral("--language"), QStringLiteral("FRA") }
                                           << false << 2 << QString() << QStringLiteral("qlx02600-gen: o servidor não tem o idioma FRA.*\n")
                                           << none;
    }
    void newOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, fileThere);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QString, written);
        static ServerProcess server({}, true);
        QTemporaryDir dir;
        // Relative names resolve in the scratch directory too: "-" is a file there.
        const QString earlierName = arguments.contains(QStringLiteral("-")) ? QStringLiteral("-") : QStringLiteral("script.sql");
        if (fileThere) {
            QFile earlier(dir.filePath(earlierName));
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            earlier.write("earlier\r\n");
        }
        if (arguments != QStringList { QStringLiteral("--version") })
            arguments = QStringList { QStringLiteral("--server"), server.address(), QStringLiteral("--language"),
                                      QStringLiteral("ENG"), QStringLiteral("--since"), QStringLiteral("2025-01-01 00:00"),
                                      QStringLiteral("--all") } + arguments;
        arguments.replaceInStrings(QStringLiteral("@DIR"), dir.path());
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const GeneratorRun run = generate(arguments);
        QDir::setCurrent(previous);
        QVERIFY2(run.exitCode == exitCode, run.err.constData());
        const auto whole = [&dir](const QString &pattern) {
            return QRegularExpression(QRegularExpression::anchoredPattern(QString(pattern).replace(QStringLiteral("@DIR"), dir.path())),
                                      QRegularExpression::DotMatchesEverythingOption);
        };
        QVERIFY2(whole(out).match(QString::fromLatin1(run.out)).hasMatch(), run.out.left(200).constData());
        QVERIFY2(whole(err).match(QString::fromUtf8(run.err)).hasMatch(), run.err.constData());
        const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files.size(), written.isEmpty() ? 0 : 1);
        if (written.isEmpty())
            return;
        QVERIFY2(files.constFirst().startsWith(written), qPrintable(files.constFirst()));
        const QByteArray bytes = fileBytes(dir.filePath(files.constFirst()));
        QCOMPARE(bytes == "earlier\r\n", (fileThere && exitCode != 0) || earlierName == QLatin1String("-"));
        if (exitCode == 0 && earlierName != QLatin1String("-"))
            QVERIFY(bytes.startsWith("INSERT INTO TRADUCAO") && bytes.endsWith(";\r\n"));
    }

    void settingsAsTheHostReadsThem_data()
    {
        QTest::addColumn<QStringList>("settings");   // environment variables, "NAME=value"
        QTest::addColumn<QString>("settingsFile");   // the settings file's text, "@SERVER" the demo server
        QTest::addColumn<bool>("serverOption");      // --server given with the demo server
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const QString closed = QStringLiteral("QLX_SERVER=127.0.0.1:1");
        QTest::newRow("QLX_SERVER") << QStringList { QStringLiteral("QLX_SERVER=@SERVER") } << QString() << false << 0 << QString();
        QTest::newRow("settings file") << QStringList() << QStringLiteral("server=@SERVER\n") << false << 0 << QString();
        QTest::newRow("--server before QLX_SERVER") << QStringList { closed } << QString() << true << 0 << QString();
        QTest::newRow("QLX_SERVER before the settings file") << QStringList { closed } << QStringLiteral("server=@SERVER\n") << false
                                                             << 3 << QStringLiteral("127.0.0.1:1");
        QTest::newRow("malformed QLX_SERVER") << QStringList { QStringLiteral("QLX_SERVER=host:99999") } << QString() << false << 2
                                              << QStringLiteral("QLX_SERVER (variável de ambiente)");
        QTest::newRow("malformed QLX_TIMEOUT") << QStringList { QStringLiteral("QLX_TIMEOUT=soon") } << QString() << true << 2
                                               << QStringLiteral("QLX_TIMEOUT");
        QTest::newRow("malformed timeout key") << QStringList() << QStringLiteral("timeout=0\n") << true << 2
                                               << QStringLiteral("timeout (arquivo de configuração");
        QTest::newRow("malformed QLX_ANSWER_LIMIT_MIB") << QStringList { QStringLiteral("QLX_ANSWER_LIMIT_MIB=0") } << QString() << true
                                                        << 2 << QStringLiteral("QLX_ANSWER_LIMIT_MIB");
    }
    void settingsAsTheHostReadsThem()
    {
        QFETCH(QStringList, settings);
        QFETCH(QString, settingsFile);
        QFETCH(bool, serverOption);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        static ServerProcess server({}, true);
        QTemporaryDir configuration;
        QVERIFY(QDir(configuration.path()).mkpath(QStringLiteral("qlx")));
        QFile file(configuration.filePath(QStringLiteral("qlx/qlxhost.conf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QString(settingsFile).replace(QStringLiteral("@SERVER"), server.address()).toUtf8());
        file.close();
        settings.replaceInStrings(QStringLiteral("@SERVER"), server.address());
        settings << QStringLiteral("XDG_CONFIG_HOME=%1").arg(configuration.path());
        QTemporaryDir dir;
        QStringList arguments { QStringLiteral("--language"), QStringLiteral("ENG"), QStringLiteral("--since"),
                                QStringLiteral("2025-01-01 00:00"), QStringLiteral("--all"), QStringLiteral("--dir"), dir.path() };
        if (serverOption)
            arguments << QStringLiteral("--server") << server.address();
        const GeneratorRun run = generate(arguments, settings);
        QVERIFY2(run.exitCode == exitCode, run.err.constData());
        QVERIFY2(QString::fromUtf8(run.err).contains(said), run.err.constData());
    }

    void failedStandardOutput_data()
    {
        QTest::addColumn<int>("output");
        QTest::addColumn<bool>("script"); // the script itself to standard output, else its file's path
        QTest::newRow("closed, the path") << int(Output::Closed) << false;
        QTest::newRow("closed, the script") << int(Output::Closed) << true;
        QTest::newRow("full, the path") << int(Output::Full) << false;
        QTest::newRow("full, the script") << int(Output::Full) << true;
    }
    void failedStandardOutput()
    {
        QFETCH(int, output);
        QFETCH(bool, script);
        static ServerProcess server({}, true);
        QTemporaryDir dir;
        QStringList arguments { QStringLiteral("--server"), server.address(), QStringLiteral("--language"), QStringLiteral("ENG"),
                                QStringLiteral("--since"), QStringLiteral("2025-01-01 00:00"), QStringLiteral("--all") };
        arguments << (script ? QStringList { QStringLiteral("--output"), QStringLiteral("-") }
                             : QStringList { QStringLiteral("--dir"), dir.path() });
        const GeneratorRun run = generate(arguments, {}, Output(output));
        QVERIFY2(run.exitCode == 4, run.err.constData());
        QVERIFY2(run.err.contains("Erro de E/S ao escrever na saída padrão"), run.err.constData());
        // The script in its file was put in place all the same, and the message says so.
        const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files.size(), script ? 0 : 1);
        if (!script)
            QVERIFY2(run.err.contains("foi gravado, mas o seu nome não pôde ser escrito"), run.err.constData());
    }

    void existingFileNoticedBeforeCallingTheServer()
    {
        FakeAppServer server;
        QTemporaryDir dir;
        for (const QString &name : todaysFileNames()) {
            QFile earlier(dir.filePath(name));
            QVERIFY(earlier.open(QIODevice::WriteOnly));
        }
        const GeneratorRun run = generate({ QStringLiteral("--server"), server.fake.address(), QStringLiteral("--language"),
                                            QStringLiteral("EN1"), QStringLiteral("--since"), QStringLiteral("2026-03-05 09:30"),
                                            QStringLiteral("--all"), QStringLiteral("--dir"), dir.path() });
        QVERIFY2(run.exitCode == 5, run.err.constData());
        QCOMPARE(server.fake.connections(), 0);
    }

    void serverFailures_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("said");
        QTest::newRow("nobody listening") << QStringLiteral("closed") << QStringLiteral("Não foi possível conectar");
        QTest::newRow("no answer in time") << QStringLiteral("silent") << QStringLiteral("não respondeu em 1 segundos");
        QTest::newRow("answers with an exception") << QStringLiteral("exception") << QStringLiteral("sem objeto");
        QTest::newRow("not this protocol") << QStringLiteral("foreign")
                                           << QStringLiteral("não fala o protocolo do servidor de aplicação (respondeu \"E...\\SFATAL.VFATAL");
        QTest::newRow("the default port") << QStringLiteral("localhost") << QStringLiteral("localhost:21102");
    }
    void serverFailures()
    {
        QFETCH(QString, server);
        QFETCH(QString, said);
        QTcpServer silent; // accepts at the socket level and never answers
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        FakeServer failing([](const protocol::Request &) {
            return protocol::encodeExceptionResponse(QStringLiteral("EOleSysError"), QStringLiteral("sem objeto"));
        });
        QString address = failing.address();
        if (server == QLatin1String("silent"))
            address = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
        ForeignServer foreign;
        if (server == QLatin1String("foreign"))
            address = foreign.address();
        if (server == QLatin1String("localhost"))
            address = QStringLiteral("localhost");
        if (server == QLatin1String("closed")) {
            address = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
            silent.close();
        }
        QTemporaryDir dir;
        const GeneratorRun run = generate({ QStringLiteral("--server"), address, QStringLiteral("--language"), QStringLiteral("ENG"),
                                            QStringLiteral("--since"), QStringLiteral("2025-01-01 00:00"), QStringLiteral("--all"),
                                            QStringLiteral("--dir"), dir.path(), QStringLiteral("--timeout"), QStringLiteral("1") });
        QCOMPARE(run.exitCode, 3);
        QVERIFY2(QString::fromUtf8(run.err).contains(said), run.err.constData());
        QVERIFY(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    void lostServerRepeatedOnTheNext()
    {
        const auto seed = seedManyLines(200000);
        ServerProcess first(seed);
        ServerProcess second(seed);
        const QStringList request { QStringLiteral("--language"), QStringLiteral("ENG"), QStringLiteral("--since"),
                                    QStringLiteral("2025-01-01 00:00"), QStringLiteral("--all"), QStringLiteral("--dir") };
        QTemporaryDir undisturbedDir;
        const GeneratorRun undisturbed
            = generate(request + QStringList { undisturbedDir.path(), QStringLiteral("--server"), first.address() });
        QCOMPARE(undisturbed.exitCode, 0);

        // The first server dies once its first part (about 1 MiB) has reached the generator.
        CuttingProxy proxy(quint16(first.port()), 3 << 19, [&first] { ::kill(pid_t(first.pid()), SIGKILL); });
        QTemporaryDir dir;
        QProcess generator;
        generator.setProcessEnvironment(generatorEnvironment({}));
        generator.start(QStringLiteral(QLX_GEN_PATH), request + QStringList { dir.path(), QStringLiteral("--server"),
                                                                             proxy.address() + QLatin1Char(',') + second.address() });
        QVERIFY(QTest::qWaitFor([&] { return generator.state() == QProcess::NotRunning; }, kRunLimitMs));
        const QByteArray said = generator.readAllStandardError();
        QVERIFY2(generator.exitCode() == 0, said.constData());
        QVERIFY(proxy.cut());
        QVERIFY(!first.running());
        QCOMPARE(fileBytes(QString::fromLocal8Bit(generator.readAllStandardOutput().trimmed())),
                 fileBytes(QString::fromLocal8Bit(undisturbed.out.trimmed())));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no lines of the lost answer left
        QVERIFY2(said.contains("reconectando a " + second.address().toUtf8()), said.constData());
        // The second server was asked only the call that was lost.
        QVERIFY(second.waitForLog("call=\"GetPropriedCds\""));
        QCOMPARE(auditedCalls(second, "GetPropriedCds"), 1);
        QCOMPARE(auditedCalls(second, "GetIdioma") + auditedCalls(second, "GetTabela"), 0);
    }

    void progressOnlyOnATerminal()
    {
        static ServerProcess server({}, true);
        QTemporaryDir dir;
        const QString command = QStringLiteral("%1 --server %2 --language ENG --since '2025-01-01 00:00' --all --dir %3")
                                    .arg(QStringLiteral(QLX_GEN_PATH), server.address(), dir.path());
        QProcess terminal; // util-linux's script gives the generator a terminal
        terminal.start(QStringLiteral("script"), { QStringLiteral("-qec"), command, QStringLiteral("/dev/null") });
        QVERIFY(terminal.waitForFinished(kRunLimitMs));
        QCOMPARE(terminal.exitCode(), 0);
        QVERIFY2(terminal.readAll().contains("conectando a"), "no progress on a terminal");

        const GeneratorRun piped = generate({ QStringLiteral("--server"), server.address(), QStringLiteral("--language"),
                                              QStringLiteral("ENG"), QStringLiteral("--since"), QStringLiteral("2025-01-01 00:00"),
                                              QStringLiteral("--all"), QStringLiteral("--overwrite"), QStringLiteral("--dir"), dir.path() });
        QCOMPARE(piped.exitCode, 0);
        QCOMPARE(piped.err, QByteArray());
    }

    void helpNamesEveryOptionAndExitCode()
    {
        const GeneratorRun run = generate({ QStringLiteral("--help") });
        QCOMPARE(run.exitCode, 0);
        for (const char *word : { "Uso:", "Opções:", "--server", "--language", "--since", "--all", "--tables", "--dir", "--output",
                                  "--overwrite", "--dry-run", "--quiet", "--timeout", "--version", "5 arquivo existente mantido" })
            QVERIFY2(run.out.contains(word), word);
        QVERIFY2(!run.out.contains("Usage") && !run.out.contains("Options"), run.out.constData());
    }
};

QTEST_MAIN(TestGenerator)
#include "tst_generator.moc"
