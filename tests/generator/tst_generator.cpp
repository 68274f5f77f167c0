// qlx02600-gen: the same remote calls and the same file as the screen, without a
// display, and an exit code for every outcome.
#include "fakeappserver.h"
#include "screenfixture.h"
#include "serverprocess.h"

#include <scriptfile.h>

#include <QTcpServer>

namespace {

constexpr int kRunLimitMs = 60'000; // for one run of the generator

struct GeneratorRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the generator with no display of any kind in its environment.
GeneratorRun generate(const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QLatin1String(name));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QLX_GEN_PATH), arguments);
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
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { screenFile }); // nothing else left beside it
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
                                                << QString() << 3 << QStringLiteral("Tabela não cadastrada para tradução: NADA.");
        QTest::newRow("a directory bears the file's name") << eng + since + all << QStringLiteral("directory") << 4
                                                           << QStringLiteral("Erro de E/S");
        QTest::newRow("existing file kept") << eng + since + all << QStringLiteral("file") << 5 << QStringLiteral("--overwrite");
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
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), inTheDirectory == QLatin1String("file") ? names.size() : 0);
            if (inTheDirectory == QLatin1String("file"))
                QCOMPARE(fileBytes(dir.filePath(names.first())), QByteArray("earlier\r\n"));
        }
    }

    void serverFailures_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("said");
        QTest::newRow("nobody listening") << QStringLiteral("closed") << QStringLiteral("Não foi possível conectar");
        QTest::newRow("no answer in time") << QStringLiteral("silent") << QStringLiteral("não respondeu em 1 segundos");
        QTest::newRow("answers with an exception") << QStringLiteral("exception") << QStringLiteral("sem objeto");
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
        QVERIFY(QDir(dir.path()).isEmpty());
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
        for (const char *word : { "--server", "--language", "--since", "--all", "--tables", "--dir", "--overwrite", "--timeout",
                                  "5 arquivo existente mantido" })
            QVERIFY2(run.out.contains(word), word);
    }
};

QTEST_MAIN(TestGenerator)
#include "tst_generator.moc"
