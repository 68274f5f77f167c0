#pragma once

#include "generator/generatorarguments.h"

#include <functional>

// One generation without a display, through the screen's own layers: the
// connection, the remote methods, the record sets, the table list, the script
// file's name and its safe replace.
struct GenerationResult
{
    enum Outcome {
        Written,          // to the file, or to standard output
        WouldWrite,       // --dry-run: lines to write, nothing written
        NothingToWrite,
        ExistingFileKept, // found before calling the server, or once the lines came
    } outcome = NothingToWrite;
    QString path;         // the file written or kept; empty for standard output
    qsizetype lines = 0;
};

// Failures leave as the runtime's exceptions: EBadArguments for a language or a
// table the server does not have, EInOutError for the file or standard output,
// any other for the server. `progress` hears each step, `notice` what the user
// should know even without a terminal (a call repeated on another server), and
// `lineCount` how many script lines have arrived as they do.
GenerationResult GenerateScript(const GeneratorArguments &arguments, const std::function<void(const QString &)> &progress,
                                const std::function<void(const QString &)> &notice,
                                const std::function<void(qsizetype lines)> &lineCount = {});
