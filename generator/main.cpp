// qlx02600-gen: writes the translation script file from the command line, with
// the same remote calls and the same file as the screen, and no display.
#include "generator/exitcodes.h"
#include "generator/generatorarguments.h"
#include "generator/linecount.h"
#include "generator/scriptgeneration.h"
#include "generator/standardoutput.h"

#include "runtime/core/answerheap.h"
#include "runtime/core/hiddenfile.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

namespace {

void say(const QString &text)
{
    std::fprintf(stderr, "qlx02600-gen: %s\n", qPrintable(text));
}

// The program's result on standard output; a failed write is a file failure.
int print(const QString &text, int exitCode)
{
    try {
        WriteStandardOutput((text + QLatin1Char('\n')).toLocal8Bit());
    } catch (const EInOutError &failure) {
        say(failure.message());
        return kFileFailure;
    }
    return exitCode;
}

int run(const GeneratorArguments &arguments)
{
    const bool showProgress = !arguments.quiet && isatty(STDERR_FILENO);
    const auto notice = [&arguments](const QString &text) {
        if (!arguments.quiet)
            say(text);
    };
    try {
        TerminalLineCount lineCount(stderr);
        const GenerationResult result = GenerateScript(
            arguments,
            [&](const QString &step) {
                if (showProgress) {
                    lineCount.endLine();
                    say(step);
                }
            },
            [&](const QString &text) {
                lineCount.endLine();
                notice(text);
            },
            showProgress ? std::function<void(qsizetype)>(std::ref(lineCount)) : nullptr);
        lineCount.endLine();
        switch (result.outcome) {
        case GenerationResult::NothingToWrite:
            notice(QStringLiteral("nenhuma tradução alterada a partir de %1 nas tabelas pedidas; nenhum arquivo gravado")
                       .arg(arguments.sinceText));
            return arguments.dryRun ? print(QStringLiteral("0"), kNothingToWrite) : kNothingToWrite;
        case GenerationResult::ExistingFileKept:
            notice(QStringLiteral("o arquivo já existe e foi mantido (use --overwrite para substituí-lo): %1").arg(result.path));
            return kExistingFileKept;
        case GenerationResult::WouldWrite:
            notice(QStringLiteral("ensaio: %1 linha(s) a gravar em %2; nada gravado")
                       .arg(result.lines)
                       .arg(arguments.toStandardOutput ? QStringLiteral("a saída padrão") : result.path));
            return print(QString::number(result.lines), kWritten);
        case GenerationResult::Written:
            if (arguments.toStandardOutput)
                return kWritten;
            try {
                WriteStandardOutput((result.path + QLatin1Char('\n')).toLocal8Bit());
            } catch (const EInOutError &failure) {
                say(QStringLiteral("o arquivo %1 foi gravado, mas o seu nome não pôde ser escrito: %2").arg(result.path, failure.message()));
                return kFileFailure;
            }
            return kWritten;
        }
    } catch (const EBadArguments &bad) {
        if (!bad.message().isEmpty())
            say(bad.message());
        return kBadArguments;
    } catch (const EInOutError &failure) {
        say(failure.message());
        return kFileFailure;
    } catch (const EAbort &) {
        return kServerFailure; // the server's message has been shown
    } catch (const Exception &failure) {
        say(failure.message());
        return kServerFailure;
    }
    return kServerFailure;
}

} // namespace

int main(int argc, char *argv[])
{
    KeepAnswerBuffersInHeap();
    GuardStandardOutput();
    RemoveHiddenFilesOnSignals(); // an interrupted run leaves nothing in the directory
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qlx02600-gen"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QLX_VERSION));

    GeneratorArguments arguments;
    try {
        arguments = GeneratorArguments::parse(QCoreApplication::arguments());
    } catch (const EBadArguments &bad) {
        say(bad.message());
        say(QStringLiteral("veja qlx02600-gen --help"));
        return kBadArguments;
    }
    if (arguments.help)
        return print(arguments.helpText.chopped(1), kWritten);
    if (arguments.version)
        return print(QStringLiteral("qlx02600-gen %1").arg(QCoreApplication::applicationVersion()), kWritten);
    return run(arguments);
}
