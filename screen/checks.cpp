// Checks of the screen's inputs and the normalisation of the time.
#include "screen/geraarquivo.h"

#include "hostlib/core/errors.h"
#include "hostlib/core/stringroutines.h"
#include "runtime/core/dialogs.h"
#include "runtime/core/filesystem.h"
#include "runtime/core/format.h"

namespace {

// Reports through MensErro and puts the focus on the field on the way out.
[[noreturn]] void reportThenFocus(const AnsiString &text, QWidget *field)
{
    try {
        MensErro(text, true);
    } catch (...) {
        field->setFocus();
        throw;
    }
    throw std::logic_error("MensErro returned");
}

} // namespace

void TfrmGeraArquivo::Vd_Idioma(bool reportEmpty)
{
    if (EmptyString(cbbIdioma->Text()) && reportEmpty)
        reportThenFocus(msgPadrao.Msg("IdiNInformado"), cbbIdioma);
}

void TfrmGeraArquivo::Vd_DataHora(bool reportEmpty)
{
    const bool noDate = EmptyString(depDataIni->Text());
    if (reportEmpty && noDate) {
        depDataIni->setFocus();
        MensErro(msgPadrao.Msg("DATA_HORA"), true);
    }
    if (!noDate && !depDataIni->IsDateValid()) {
        depDataIni->setFocus();
        AnsiString text = "'";
        text += depDataIni->EditText();
        text += "' ";
        text += msgPadrao.Msg("DT_INV");
        MensErro(text, true);
    }
    const AnsiString time = medItems->Text();
    if ((time.empty() || time == "  :  ") && reportEmpty) {
        medItems->setFocus();
        MensErro(msgPadrao.Msg("HORA_INFO"), true);
    }
}

void TfrmGeraArquivo::Vd_Tabela()
{
    if (EmptyString(stListaTabelas) && rbtLista->Checked())
        MensErro(msgPadrao.Msg("TAB_INF"), true);
}

void TfrmGeraArquivo::Vd_Diretorio(bool reportEmpty)
{
    try {
        if (EmptyString(edtDiretorio->Text())) {
            if (reportEmpty)
                MensErro(msgPadrao.Msg("DirNInformado"), true);
            return;
        }
        if (edtDiretorio->Text().back() != PathDelim)
            edtDiretorio->SetText(edtDiretorio->Text() + PathDelim);
        if (DirectoryExists(edtDiretorio->Text()))
            return;
        const QString question = Ansi::toUnicode(msgPadrao.Msg("DirNExist"));
        if (MessageDlg(question, TMsgDlgType::Confirmation, mbYes | mbNo, 0) == mrYes) {
            if (!CreateDir(edtDiretorio->Text()))
                MensErro(msgPadrao.Msg("DirNCriado"), true);
            return;
        }
        MensErro(msgPadrao.Msg("ArqNDirInfo"), true);
    } catch (...) {
        edtDiretorio->setFocus();
        throw;
    }
}

AnsiString TfrmGeraArquivo::Ajusta_Hora(const AnsiString &time, TMaskEdit *edit)
{
    if (EmptyString(time))
        return AnsiString();
    AnsiString hour = "00";
    AnsiString minute = "00";
    AnsiString piece = Ajusta(time.substr(0, 2), 2);
    if (!EmptyString(piece))
        hour = piece;
    piece = Ajusta(time.size() > 2 ? time.substr(2, 2) : AnsiString(), 2);
    if (!EmptyString(piece))
        minute = piece;
    if (hour > "23" || minute > "59") {
        edit->setFocus();
        MensErro(Format(msgPadrao.Msg("HORA_INV"), { hour + ":" + minute }), true);
    }
    return hour + minute;
}

void TfrmGeraArquivo::medItemsExit(QObject *)
{
    medItems->SetText(Ajusta_Hora(medItems->Text(), medItems));
}

void TfrmGeraArquivo::medItemsChange(QObject *)
{
    Vd_Diretorio(false);
}

void TfrmGeraArquivo::edtDiretorioExit(QObject *)
{
    Vd_Diretorio(false);
}

void TfrmGeraArquivo::depDataIniExit(QObject *)
{
    depDataIni->CheckValidDate();
}
