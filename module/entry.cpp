// The library's entry: registration with the runtime at load and unload, and the
// package entries that run the units' start-ups and shut-downs.
#include "module/exports.h"
#include "module/screenunit.h"

namespace {

TLibModule libModule {};
HMODULE resourceModule = nullptr;

// The unit table: this module's own units (the screen unit last).
const TPackageUnitEntry unitEntries[] = {
    { &UGeraArquivo::Initialization, &UGeraArquivo::Finalization },
};
const TPackageInfoTable packageInfo { int(std::size(unitEntries)), unitEntries };

__attribute__((constructor)) void processAttach()
{
    libModule.Instance = ModuleInstance(&libModule);
    libModule.CodeInstance = nullptr;
    libModule.DataInstance = nullptr;
    resourceModule = LoadResourceModule(ModuleFileName(&libModule));
    libModule.ResInstance = resourceModule ? resourceModule : libModule.Instance;
    RegisterModule(&libModule);
}

__attribute__((destructor)) void processDetach()
{
    UnregisterModule(&libModule);
    if (resourceModule)
        FreeLibrary(resourceModule);
}

} // namespace

void Initialize()
{
    PackageLoad(&packageInfo);
}

void Finalize()
{
    PackageUnload(&packageInfo);
}

const TPackageInfoTable *GetPackageInfoTable()
{
    return &packageInfo;
}
