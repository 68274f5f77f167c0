// qlx02600-gen: writes the translation script file from the command line, with
// the same remote calls and the same file as the screen, and no display.
#include "exitcodes.h"
#include "generatorarguments.h"
#include "scriptgeneration.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

namespace {

void say(const QString &text)
{
    std::fprintf(stderr, "qlx02600-gen: %s\n", qPrintable(text));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qlx02600-gen"));

    GeneratorArguments arguments;
    try {
        arguments = GeneratorArguments::parse(QCoreApplication::arguments());
    } catch (const EBadArguments &bad) {
        say(bad.message());
        say(QStringLiteral("veja qlx02600-gen --help"));
        return kBadArguments;
    }
    if (arguments.help) {
        std::fputs(qPrintable(arguments.helpText), stdout);
        return kWritten;
    }

    const bool showProgress = isatty(STDERR_FILENO);
    try {
        const GenerationResult result = GenerateScript(arguments, [showProgress](const QString &step) {
            if (showProgress)
                say(step);
        });
        switch (result.outcome) {
        case GenerationResult::NothingToWrite:
            say(QStringLiteral("nenhuma tradução alterada a partir de %1 nas tabelas pedidas; nenhum arquivo gravado")
                    .arg(arguments.sinceText));
            return kNothingToWrite;
        case GenerationResult::ExistingFileKept:
            say(QStringLiteral("o arquivo já existe e foi mantido (use --overwrite para substituí-lo): %1").arg(result.path));
            return kExistingFileKept;
        case GenerationResult::Written:
            std::printf("%s\n", qPrintable(result.path));
            return kWritten;
        }
    } catch (const EBadArguments &bad) {
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
