// Handlers whose bodies come with the server access and the generation run.
#include "geraarquivo.h"

void TfrmGeraArquivo::FormCreate(QObject *) {}
void TfrmGeraArquivo::FormClose(QObject *Sender, TCloseAction &Action) { TfrmRotiGeral::FormClose(Sender, Action); }
void TfrmGeraArquivo::netGeraArquivoBeforeConnect(QObject *) {}
void TfrmGeraArquivo::BtnTabelasClick(QObject *) {}
void TfrmGeraArquivo::sbtConfirmaClick(QObject *) {}
void TfrmGeraArquivo::Grava_Arquivo(TDateTime) {}
