// Directory picking and the choice of tables.
#include "screen/geraarquivo.h"

#include "client/remotemethods.h"

#include "hostlib/core/errors.h"
#include "hostlib/widgets/busyanimation.h"
#include "hostlib/widgets/listpicker.h"
#include "protocol/contract.h"
#include "runtime/core/dialogs.h"

void TfrmGeraArquivo::sbtDiretorioClick(QObject *)
{
    QString directory;
    if (SelectDirectory(directory, sdAllowCreate, 0))
        edtDiretorio->SetText(Ansi::fromUnicode(directory));
}

void TfrmGeraArquivo::edtDiretorioKeyDown(QObject *, quint16 &Key, Qt::KeyboardModifiers)
{
    if (Key == VK_F9)
        sbtDiretorioClick(sbtDiretorio);
}

void TfrmGeraArquivo::rbtTodosClick(QObject *)
{
    BtnTabelas->setEnabled(!rbtTodos->Checked());
}

void TfrmGeraArquivo::rbtListaClick(QObject *)
{
    BtnTabelas->setEnabled(!rbtTodos->Checked());
}

void TfrmGeraArquivo::rbtListaKeyDown(QObject *, quint16 &Key, Qt::KeyboardModifiers)
{
    if (Key == VK_F9)
        BtnTabelasClick(BtnTabelas);
}

void TfrmGeraArquivo::BtnTabelasClick(QObject *)
{
    {
        const TCancellableWaits cancellable([this] { CancelaGeracao(); });
        GetTabela(*netGeraArquivo, TRemoteArg::byValue(AnsiString()), protocol::contract::kAllTablesScope, *cdsTabelas);
    }
    if (cdsTabelas->IsEmpty()) {
        try {
            MensErro(msgPadrao.Msg("TAB_N_CAD"), true);
        } catch (...) {
            rbtTodos->setFocus();
            throw;
        }
    }
    PesquisaLista(dtsTabelas.get(), QStringLiteral("CDPROGTRAD"), Ansi::toUnicode(msgPadrao.Msg("TABELA")), false,
                  stListaTabelas);
}
