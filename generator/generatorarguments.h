#pragma once

#include "runtime/core/ansistring.h"
#include "runtime/core/datetime.h"
#include "runtime/core/exceptions.h"
#include "runtime/core/tlsclient.h"

#include <QStringList>

// A command line the generator cannot run, or something it names that the server
// does not have (a language, a table): its message says what is wrong, and is
// empty when it has been shown already.
class EBadArguments : public Exception
{
public:
    using Exception::Exception;
};

// What one generation asks for, read and checked from the command line; the
// servers (checked here, read at every connect, serveraddress.h), the time-out and the answer limit through the host's settings (option,
// environment, settings file), as the screen reads them.
struct GeneratorArguments
{
    int timeoutSeconds = 0;
    qint64 answerLimit = 0;    // bytes one answer may take in memory
    TTlsFiles tls;             // the TLS files, through the same settings
    AnsiString language;       // IDIDIOMA, as given
    TDateTime since = 0;       // from --since 'YYYY-MM-DD HH:MM'
    QString sinceText;
    bool allTables = false;
    AnsiString tableList;      // --tables: each code blank-padded to the code size, joined
    AnsiString directory;      // --dir: an existing directory ending in "/"; empty with --output
    AnsiString output;         // --output FILE; empty with --dir or for standard output
    bool toStandardOutput = false; // --output -
    bool overwrite = false;
    bool dryRun = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    QString helpText;

    // The file the run writes: --output's, else the dated name of `start`'s day in --dir.
    AnsiString filePath(TDateTime start) const;

    // Throws EBadArguments.
    static GeneratorArguments parse(const QStringList &commandLine);
};
