#include "generator/scriptgeneration.h"

#include "generator/standardoutput.h"

#include "client/filereplacement.h"
#include "client/recordsetfields.h"
#include "client/remotemethods.h"
#include "client/scriptfile.h"
#include "client/tablelist.h"
#include "hostlib/core/serveraddress.h"
#include "protocol/contract.h"
#include "runtime/core/filesystem.h"

#include <QDir>
#include <QFileInfo>

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

GenerationResult GenerateScript(const GeneratorArguments &arguments, const std::function<void(const QString &)> &progress,
                                const std::function<void(const QString &)> &notice,
                                const std::function<void(qsizetype lines)> &lineCount)
{
    const TDateTime startMoment = Now();
    GenerationResult result;
    const AnsiString path = arguments.toStandardOutput ? AnsiString() : arguments.filePath(startMoment);
    result.path = arguments.toStandardOutput ? QString() : NativePath(path);
    const auto kept = [&] { return !arguments.toStandardOutput && !arguments.overwrite && FileExists(path); };
    if (kept()) {
        result.outcome = GenerationResult::ExistingFileKept;
        return result;
    }

    if (!arguments.toStandardOutput) // before anything is fetched: the dry run fails as the run would
        TFileReplacement::checkWritable(result.path);

    TNetConnection connection;
    connection.ServerName = QLatin1String(protocol::contract::kObjectName);
    connection.BeforeConnect = [&connection](QObject *) {
        connection.Host = WebURL();
        connection.Port = WebPort();
    };
    connection.OnServerSwitch = [&connection, &notice](const QString &server) {
        notice(QStringLiteral("a conexão com o servidor de aplicação %1:%2 foi perdida; reconectando a %3 para repetir a chamada")
                   .arg(connection.Host).arg(connection.Port).arg(server));
    };
    connection.Timeout = arguments.timeoutSeconds;
    connection.AnswerLimit = arguments.answerLimit;
    connection.Tls = arguments.tls;
    TClientDataSet languages;
    const LanguageFields language = DeclareLanguageFields(languages);
    TClientDataSet tables;
    const TableFields table = DeclareTableFields(tables);
    TClientDataSet lines;
    TField *line = DeclareLineField(lines);

    {
        progress(QStringLiteral("conectando a %1:%2").arg(WebURL()).arg(WebPort()));
        GetIdioma(connection, languages);
        if (!languages.Locate(QStringLiteral("IDIDIOMA"), arguments.language, true))
            throw EBadArguments(QStringLiteral("o servidor não tem o idioma %1 (tem: %2)")
                                    .arg(Ansi::toUnicode(arguments.language), languageIds(languages, *language.IDIDIOMA)));
        const AnsiString languageId = language.IDIDIOMA->AsString();

        AnsiString tableList = arguments.tableList;
        if (arguments.allTables) {
            tableList = AllTablesList(connection, tables, *table.CDPROGTRAD);
        } else {
            try {
                GetTabela(connection, TRemoteArg::byReference(tableList), AnsiString(), tables);
            } catch (const EAbort &) {
                throw EBadArguments(QString()); // the server's refusal of the list has been shown
            }
        }
        progress(QStringLiteral("%1 tabela(s); buscando as linhas do idioma %2 alteradas a partir de %3")
                     .arg(tables.RecordCount()).arg(Ansi::toUnicode(languageId), arguments.sinceText));
        // The lines wait on disk where the script goes; for standard output or a
        // dry run, in the system's temporary directory, and nameless once fetched.
        const bool toFile = !arguments.toStandardOutput && !arguments.dryRun;
        const QString linesDirectory = toFile ? QFileInfo(NativePath(path)).absolutePath() : QDir::tempPath();
        KeepScriptLinesIn(lines, *line, Ansi::fromUnicode(linesDirectory + QLatin1Char('/')),
                          arguments.toStandardOutput ? QStringLiteral("a saída padrão") : result.path);
        GetPropriedCds(connection, languageId, tableList, arguments.since, lines, lineCount);
        if (!toFile)
            DropScriptLinesFile(lines, *line);
        connection.SetConnected(false);
    }

    result.lines = lines.RecordCount();
    if (lines.IsEmpty())
        return result;
    if (kept()) { // made while the lines came
        result.outcome = GenerationResult::ExistingFileKept;
        return result;
    }
    if (arguments.dryRun) {
        result.outcome = GenerationResult::WouldWrite;
        return result;
    }
    if (arguments.toStandardOutput) {
        progress(QStringLiteral("escrevendo %1 linha(s) na saída padrão").arg(result.lines));
        WriteScriptLines(lines, *line, [](const char *bytes, qsizetype size) { WriteStandardOutput({ bytes, size }); });
    } else {
        progress(QStringLiteral("gravando %1 linha(s) em %2").arg(result.lines).arg(result.path));
        WriteScriptFile(path, lines, *line);
    }
    result.outcome = GenerationResult::Written;
    return result;
}
