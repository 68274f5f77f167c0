// Handlers whose bodies come with the server access and the generation run.
#include "geraarquivo.h"

void TfrmGeraArquivo::BtnTabelasClick(QObject *) {}
void TfrmGeraArquivo::sbtConfirmaClick(QObject *) {}
void TfrmGeraArquivo::Grava_Arquivo(TDateTime) {}
