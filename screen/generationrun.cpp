// The confirm action: checks, table list, script lines from the server, file.
#include "client/remotemethods.h"
#include "client/scriptfile.h"
#include "client/tablelist.h"
#include "screen/geraarquivo.h"

#include "hostlib/widgets/busyanimation.h"
#include "runtime/core/dialogs.h"
#include "runtime/core/exceptions.h"
#include "runtime/core/filesystem.h"

namespace {

// The moment from which changed items are wanted: the date plus the normalised
// hour and minute. Built from the values, not by formatting and parsing text,
// so that no regional setting can shift it; `asText` names it in the error.
TDateTime changedSince(TDateTime date, const AnsiString &time, const QString &asText)
{
    const bool digits = time.size() == 4
        && std::all_of(time.begin(), time.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits)
        throw EConvertError(QStringLiteral("'%1' não é uma data e hora válida").arg(asText));
    return date + EncodeTime(std::stoi(time.substr(0, 2)), std::stoi(time.substr(2, 2)));
}

} // namespace

void TfrmGeraArquivo::sbtConfirmaClick(QObject *)
{
    const TDateTime startMoment = Now();
    Vd_Idioma(true);
    Vd_DataHora(true);
    Vd_Tabela();
    medItems->SetText(Ajusta_Hora(medItems->Text(), medItems));
    Vd_Diretorio(true);

    const AnsiString time = medItems->Text();
    const QString dateTimeText = DateTimeToStr(depDataIni->GetDate()) + QLatin1Char(' ')
        + Ansi::toUnicode(time.substr(0, 2)) + QLatin1Char(':') + Ansi::toUnicode(time.size() > 2 ? time.substr(2, 2) : "");

    // Every wait from here on offers the cancel; a cancel leaves the screen as it was.
    const TCancellableWaits cancellable([this] { CancelaGeracao(); });
    const AnsiString listBefore = stListaTabelas;
    AnsiString allTables;
    AnsiString *tableList = nullptr;
    if (rbtTodos->Checked()) {
        allTables = AllTablesList(*netGeraArquivo, *cdsTabelas, *cdsTabelasCDPROGTRAD);
        tableList = &allTables;
    } else if (rbtLista->Checked()) {
        GetTabela(*netGeraArquivo, TRemoteArg::byReference(stListaTabelas), AnsiString(), *cdsTabelas);
        tableList = &stListaTabelas;
    }

    if (tableList) {
        try {
            if (cdsIdiomaOri->Locate(QStringLiteral("DSIDIOMA"), cbbIdioma->Text(), true)) {
                const TDateTime since = changedSince(depDataIni->GetDate(), time, dateTimeText);
                // The fetch counts its lines on the busy window, which offers to cancel it.
                TBusyProgress progress([this] { CancelaGeracao(); });
                KeepScriptLinesIn(*cdsLinha, *cdsLinhaLINHA, edtDiretorio->Text(),
                                  NativePath(edtDiretorio->Text() + ScriptFileName(startMoment)));
                GetPropriedCds(*netGeraArquivo, cdsIdiomaOriIDIDIOMA->AsString(), *tableList, since, *cdsLinha,
                               std::ref(progress));
            }
            DeactiveShowAvi();
        } catch (const EAbort &) {
            DeactiveShowAvi();
            stListaTabelas = listBefore; // cancelled: the list is the one picked before
            throw;
        } catch (...) {
            DeactiveShowAvi();
            throw;
        }
    }
    Grava_Arquivo(startMoment);
}

void TfrmGeraArquivo::CancelaGeracao()
{
    if (MessageDlg(QStringLiteral("Deseja cancelar a geração do arquivo?"), TMsgDlgType::Confirmation, mbYes | mbNo, 0)
        == mrYes)
        netGeraArquivo->Cancel();
}
