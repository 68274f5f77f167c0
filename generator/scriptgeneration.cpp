#include "scriptgeneration.h"

#include "exitcodes.h"

#include <filesystem.h>
#include <recordsetfields.h>
#include <remotemethods.h>
#include <scriptfile.h>
#include <tablelist.h>

namespace {

// The languages' identifiers, for the message of one that is not there.
QString languageIds(TClientDataSet &languages, const TField &id)
{
    QStringList ids;
    languages.First();
    while (!languages.Eof()) {
        ids << Ansi::toUnicode(id.AsString());
        languages.Next();
    }
    return ids.join(QStringLiteral(", "));
}

} // namespace

GenerationResult GenerateScript(const GeneratorArguments &arguments, const std::function<void(const QString &)> &progress)
{
    const TDateTime startMoment = Now();
    TNetConnection connection;
    connection.ServerName = QLatin1String(kRemoteObjectName);
    connection.Host = arguments.host;
    connection.Port = arguments.port;
    connection.Timeout = arguments.timeoutSeconds;
    TClientDataSet languages;
    const LanguageFields language = DeclareLanguageFields(languages);
    TClientDataSet tables;
    const TableFields table = DeclareTableFields(tables);
    TClientDataSet lines;
    TField *line = DeclareLineField(lines);

    {
        progress(QStringLiteral("conectando a %1:%2").arg(arguments.host).arg(arguments.port));
        GetIdioma(connection, languages);
        if (!languages.Locate(QStringLiteral("IDIDIOMA"), arguments.language, true))
            throw EBadArguments(QStringLiteral("o servidor não tem o idioma %1 (tem: %2)")
                                    .arg(Ansi::toUnicode(arguments.language), languageIds(languages, *language.IDIDIOMA)));
        const AnsiString languageId = language.IDIDIOMA->AsString();

        AnsiString tableList = arguments.tableList;
        if (arguments.allTables)
            tableList = AllTablesList(connection, tables, *table.CDPROGTRAD);
        else
            GetTabela(connection, TRemoteArg::byReference(tableList), AnsiString(), tables);
        progress(QStringLiteral("%1 tabela(s); buscando as linhas do idioma %2 alteradas a partir de %3")
                     .arg(tables.RecordCount()).arg(Ansi::toUnicode(languageId), arguments.sinceText));
        GetPropriedCds(connection, languageId, tableList, arguments.since, lines);
        connection.SetConnected(false);
    }

    GenerationResult result;
    result.lines = lines.RecordCount();
    if (lines.IsEmpty())
        return result;
    const AnsiString path = arguments.directory + ScriptFileName(startMoment);
    result.path = NativePath(path);
    if (FileExists(path) && !arguments.overwrite) {
        result.outcome = GenerationResult::ExistingFileKept;
        return result;
    }
    progress(QStringLiteral("gravando %1 linha(s) em %2").arg(result.lines).arg(result.path));
    WriteScriptFile(path, lines, *line);
    result.outcome = GenerationResult::Written;
    return result;
}
