// The screen unit: the one screen instance, its created flag, and the launch.
#include "module/exports.h"
#include "module/screenunit.h"

#include "runtime/widgets/application.h"
#include "screen/geraarquivo.h"

TfrmGeraArquivo *frmGeraArquivo = nullptr;
bool boStcriado = false;

namespace UGeraArquivo {

namespace {
TUnitCounter unitCounter;
}

void Initialization()
{
    if (unitCounter.StartUp())
        boStcriado = false;
}

void Finalization()
{
    // Nothing of the module's own runs at unload: the screen instance is the host's affair.
    unitCounter.ShutDown();
}

} // namespace UGeraArquivo

void CriaGeraArquivo()
{
    struct DefaultCursorOnExit
    {
        ~DefaultCursorOnExit() { Application().SetCursor(crDefault); }
    } restoreCursor;

    Application().SetCursor(crHourGlass);
    if (!boStcriado) {
        Application().CreateForm(frmGeraArquivo);
        boStcriado = true;
    }
    frmGeraArquivo->ShowModal();
    frmGeraArquivo->SetWindowState(wsNormal);
}

void IniProc()
{
    CriaGeraArquivo();
}
