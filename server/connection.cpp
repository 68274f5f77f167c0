// The screen's connection to the application server and the language list.
#include "geraarquivo.h"
#include "remotemethods.h"

#include <answerlimit.h>
#include <application.h>
#include <busyanimation.h>
#include <servertimeout.h>
#include <serveraddress.h>
#include <tlssetting.h>

void TfrmGeraArquivo::netGeraArquivoBeforeConnect(QObject *)
{
    netGeraArquivo->Host = WebURL();
    netGeraArquivo->Port = WebPort();
    netGeraArquivo->Timeout = ServerTimeout();
    netGeraArquivo->AnswerLimit = AnswerMemoryLimit();
    netGeraArquivo->Tls = ConfiguredTls();
}

void TfrmGeraArquivo::FormCreate(QObject *)
{
    netGeraArquivo->SetConnected(true);
    try {
        ActiveShowAvi(Application().MainForm(), 6);
        GetIdioma(*netGeraArquivo, *cdsIdiomaOri);
        DeactiveShowAvi();
    } catch (...) {
        DeactiveShowAvi();
        throw;
    }
    cdsIdiomaOri->First();
    while (!cdsIdiomaOri->Eof()) {
        cbbIdioma->AddItem(cdsIdiomaOriDSIDIOMA->AsString());
        cdsIdiomaOri->Next();
    }
    cbbIdioma->setEnabled(true);
    depDataIni->SetText(AnsiString());
}

void TfrmGeraArquivo::FormClose(QObject *Sender, TCloseAction &Action)
{
    netGeraArquivo->SetConnected(false);
    TfrmRotiGeral::FormClose(Sender, Action);
}
