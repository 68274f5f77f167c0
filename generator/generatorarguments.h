#pragma once

#include <ansistring.h>
#include <datetime.h>
#include <exceptions.h>
#include <socketconnection.h>

#include <QStringList>

// A command line the generator cannot run: its message says what is wrong.
class EBadArguments : public Exception
{
public:
    using Exception::Exception;
};

// What one generation asks for, read and checked from the command line.
struct GeneratorArguments
{
    // How long a connect or a call may wait for the server's next byte: the
    // connection's default unless --timeout says otherwise.
    static constexpr int kDefaultTimeoutSeconds = ::kDefaultTimeoutSeconds;
    static constexpr int kMaxTimeoutSeconds = 86'400;

    QString host;
    quint16 port = 0;
    AnsiString language;       // IDIDIOMA, as given
    TDateTime since = 0;       // from --since 'YYYY-MM-DD HH:MM'
    QString sinceText;
    bool allTables = false;
    AnsiString tableList;      // --tables: each code blank-padded to the code size, joined
    AnsiString directory;      // an existing directory, ending in "/"
    bool overwrite = false;
    int timeoutSeconds = kDefaultTimeoutSeconds;
    bool help = false;
    QString helpText;

    // Throws EBadArguments.
    static GeneratorArguments parse(const QStringList &commandLine);
};
