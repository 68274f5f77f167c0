// The file stage of the generation run.
#include "client/scriptfile.h"
#include "screen/geraarquivo.h"

#include "hostlib/core/errors.h"
#include "runtime/core/dialogs.h"
#include "runtime/core/filesystem.h"

#include <QScopeGuard>

void TfrmGeraArquivo::Grava_Arquivo(TDateTime startMoment)
{
    // Whatever the outcome, no file of the lines is left beside the script.
    const auto dropLinesFile = qScopeGuard([this] { DropScriptLinesFile(*cdsLinha, *cdsLinhaLINHA); });
    if (cdsLinha->IsEmpty())
        MensErro(msgPadrao.Msg("ARQ_S_TEXT"), true);
    const AnsiString path = edtDiretorio->Text() + ScriptFileName(startMoment);
    if (FileExists(path)
        && MessageDlg(QStringLiteral("Deseja sobrepor o arquivo já existente?"), TMsgDlgType::Confirmation,
                      mbYes | mbNo, 0) != mrYes)
        return;
    WriteScriptFile(path, *cdsLinha, *cdsLinhaLINHA);
    MessageDlg(Ansi::toUnicode(msgPadrao.Msg("Arq_Gerado")), TMsgDlgType::Information, mbOK, 0);
}
