// The screen's connection to the application server and the language list.
#include "client/remotemethods.h"
#include "screen/geraarquivo.h"

#include "hostlib/core/answerlimit.h"
#include "hostlib/core/serveraddress.h"
#include "hostlib/core/servertimeout.h"
#include "hostlib/core/tlssetting.h"
#include "hostlib/widgets/busyanimation.h"
#include "runtime/widgets/application.h"

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
    // A cancel leaves the screen without languages, as a failed connect does, but silent.
    const TCancellableWaits cancellable([this] { CancelaGeracao(); });
    netGeraArquivo->SetConnected(true);
    try {
        ActiveShowAvi(Application().MainForm(), kAviServerQuery);
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
