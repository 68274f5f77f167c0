// qlxhost: loads a screen module at run time, as the desktop client does, and
// opens its screen through IniProc.
#include "host/mainwindow.h"
#include "host/screenshot.h"

#include "hostlib/core/serveraddress.h"
#include "hostlib/core/servertimeout.h"
#include "hostlib/core/tlssetting.h"
#include "runtime/core/answerheap.h"
#include "runtime/core/exceptions.h"
#include "runtime/core/hiddenfile.h"
#include "runtime/widgets/application.h"
#include "runtime/widgets/qttranslations.h"
#include "runtime/widgets/versioninfo.h"
#include "runtime/widgets/waylandexit.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>

namespace {

// The module beside the program (a build tree), else in the installed layout's library directory.
QString defaultModulePath()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/libqlx02600.so");
    const QString installed = QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/qlx02600/libqlx02600.so");
    return QFile::exists(beside) || !QFile::exists(installed) ? beside : QDir::cleanPath(installed);
}

// `qlxhost --module-info PATH`: prints the module's version record, without a display.
std::optional<int> printModuleInfo(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--module-info") != 0)
            continue;
        if (i + 1 >= argc) {
            std::fprintf(stderr, "--module-info requires the module's path\n");
            return 2;
        }
        try {
            std::printf("%s\n", qPrintable(ModuleFileVersionText(QString::fromLocal8Bit(argv[i + 1]))));
            return 0;
        } catch (const Exception &failure) {
            std::fprintf(stderr, "%s\n", qPrintable(failure.message()));
            return 1;
        }
    }
    return std::nullopt;
}

// The server address and the time-out given as options, taken for every connect;
// a malformed one, or a word that is neither an option nor an option's value, is
// the exit status 2, with its message.
std::optional<int> takeConnectionOptions(const QCommandLineParser &parser)
{
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "argumento inesperado: %s\n", qPrintable(parser.positionalArguments().constFirst()));
        return 2;
    }
    try {
        if (parser.isSet(QStringLiteral("server"))) {
            SetServerAddressOption(parser.value(QStringLiteral("server")));
            ConfiguredServerAddresses();
        }
        if (parser.isSet(QStringLiteral("timeout"))) {
            ParseTimeout(parser.value(QStringLiteral("timeout")), QStringLiteral("--timeout"));
            SetTimeoutOption(parser.value(QStringLiteral("timeout")));
        }
    } catch (const Exception &invalid) {
        std::fprintf(stderr, "%s\n", qPrintable(invalid.message()));
        return 2;
    }
    return std::nullopt;
}

// A bad option or option value, --help and --version are answered before the
// application opens its display, so they work without one. Qt's own options ("-platform", "-style", one dash
// and a word) are the application's to take first.
std::optional<int> answerWithoutDisplay(QCommandLineParser &parser, int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const bool qtOptions = std::any_of(arguments.cbegin() + qMin(1, int(arguments.size())), arguments.cend(), [](const QString &argument) {
        return argument.size() > 2 && argument.startsWith(QLatin1Char('-')) && argument.at(1) != QLatin1Char('-');
    });
    if (!parser.parse(arguments)) {
        if (qtOptions)
            return std::nullopt;
        std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
        return 2;
    }
    const QStringList given = parser.optionNames();
    const auto asked = [&given](std::initializer_list<const char *> names) {
        return std::any_of(names.begin(), names.end(), [&given](const char *name) { return given.contains(QLatin1String(name)); });
    };
    if (!asked({ "h", "?", "help", "help-all", "v", "version" }))
        return takeConnectionOptions(parser);
    QCoreApplication app(argc, argv);
    parser.process(app); // prints the help or the version and exits
    return 0;
}

// The host with its display open: the options Qt left, the module, the main window.
int runWithDisplay(QApplication &app, QCommandLineParser &parser)
{
    if (!parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
        return 2;
    }
    parser.process(app); // --help and --version given after Qt's own options
    if (!InstallQtTranslations())
        std::fprintf(stderr, "qlxhost: Qt's Portuguese translations are missing (package qt6-translations-l10n); "
                             "Qt's own dialogs stay in English\n");

    if (const std::optional<int> invalid = takeConnectionOptions(parser))
        return *invalid;
    SetTlsOptions(parser.value(QStringLiteral("tls-ca")), parser.value(QStringLiteral("tls-cert")), parser.value(QStringLiteral("tls-key")));
    try {
        ConfiguredTls();
    } catch (const Exception &failure) {
        std::fprintf(stderr, "%s\n", qPrintable(failure.message()));
        return 2;
    }
    const QString modulePath = parser.isSet(QStringLiteral("module")) ? parser.value(QStringLiteral("module")) : defaultModulePath();

    HMODULE module = nullptr;
    try {
        module = LoadPackage(modulePath);
    } catch (const Exception &failure) {
        std::fprintf(stderr, "%s\n", qPrintable(failure.message()));
        return 1;
    }

    int status = 0;
    {
        MainWindow window(module);
        Application().SetMainForm(&window);
        window.show();
        std::optional<ScreenshotOnSettle> screenshot;
        if (parser.isSet(QStringLiteral("screenshot")))
            screenshot.emplace(parser.value(QStringLiteral("screenshot")));
        if (parser.isSet(QStringLiteral("open")) || parser.isSet(QStringLiteral("screenshot")))
            QTimer::singleShot(0, &window, &MainWindow::openScreen);
        status = QApplication::exec();
        if (screenshot && !screenshot->succeeded())
            status = 1;
        Application().FreeOwnedForms();
    }
    UnloadPackage(module);
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    KeepAnswerBuffersInHeap();
    RemoveHiddenFilesOnSignals(); // an interrupted generation leaves nothing in the directory
    if (const std::optional<int> status = printModuleInfo(argc, argv))
        return *status;
    QCoreApplication::setApplicationName(QStringLiteral("qlxhost"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QLX_PACKAGE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Desktop client that loads screen modules."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption serverOption(QStringLiteral("server"),
        QStringLiteral("Application server address, or several separated by commas, tried in order (else QLX_SERVER, "
                       "else the settings file)."), QStringLiteral("HOST:PORT,..."));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
        QStringLiteral("Seconds the application server may stay silent in a connect or a call (else QLX_TIMEOUT, "
                       "else the settings file, else 120)."), QStringLiteral("SECONDS"));
    const QCommandLineOption openOption(QStringLiteral("open"), QStringLiteral("Open the screen at start."));
    const QCommandLineOption moduleOption(QStringLiteral("module"),
        QStringLiteral("The module to load (default: libqlx02600.so beside this program, else in ../lib/qlx02600)."),
        QStringLiteral("PATH"));
    const QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
        QStringLiteral("Open the screen, save a picture of it to FILE once it has settled, then quit "
                       "(the whole screen on X11, the screen's window on Wayland)."), QStringLiteral("FILE"));
    const QCommandLineOption moduleInfoOption(QStringLiteral("module-info"),
        QStringLiteral("Print the version record of the module at PATH and exit (no display needed)."), QStringLiteral("PATH"));
    const QCommandLineOption tlsCaOption(QStringLiteral("tls-ca"),
        QStringLiteral("Connect over TLS, trusting the server's certificate only if this PEM authority signed it "
                       "(else QLX_TLS_CA, else the settings file's tls-ca)."), QStringLiteral("PEM"));
    const QCommandLineOption tlsCertOption(QStringLiteral("tls-cert"),
        QStringLiteral("This client's PEM certificate, for a server that requires one (else QLX_TLS_CERT, "
                       "else tls-cert)."), QStringLiteral("PEM"));
    const QCommandLineOption tlsKeyOption(QStringLiteral("tls-key"),
        QStringLiteral("The unencrypted PEM key of --tls-cert (else QLX_TLS_KEY, else tls-key)."), QStringLiteral("PEM"));
    parser.addOptions({ serverOption, timeoutOption, openOption, moduleOption, screenshotOption, moduleInfoOption,
                        tlsCaOption, tlsCertOption, tlsKeyOption });
    if (const std::optional<int> status = answerWithoutDisplay(parser, argc, argv))
        return *status;

    // A write past the file-size limit then fails with EFBIG and is reported like any
    // other I/O error, instead of the signal ending the host.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    const int status = runWithDisplay(app, parser);
    EndNowOnWayland(status);
    return status;
}
