// Directory picking and the choice of tables.
#include "geraarquivo.h"

#include <dialogs.h>

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
