#include "runtime/widgets/package.h"

#include "runtime/core/exceptions.h"

#include <QFileInfo>
#include <dlfcn.h>

namespace {

TLibModule *moduleList = nullptr;

void *requireSymbol(HMODULE module, const char *name)
{
    void *symbol = dlsym(module, name);
    if (!symbol)
        throw Exception(QStringLiteral("O pacote não exporta %1.").arg(QLatin1String(name)));
    return symbol;
}

} // namespace

void RegisterModule(TLibModule *module)
{
    module->Next = moduleList;
    moduleList = module;
}

void UnregisterModule(TLibModule *module)
{
    for (TLibModule **link = &moduleList; *link; link = &(*link)->Next) {
        if (*link == module) {
            *link = module->Next;
            return;
        }
    }
}

TLibModule *LibModuleList()
{
    return moduleList;
}

void PackageLoad(const TPackageInfoTable *table)
{
    for (int i = 0; i < table->UnitCount; ++i) {
        if (table->UnitInfo[i].Init)
            table->UnitInfo[i].Init();
    }
}

void PackageUnload(const TPackageInfoTable *table)
{
    for (int i = table->UnitCount - 1; i >= 0; --i) {
        if (table->UnitInfo[i].FInit)
            table->UnitInfo[i].FInit();
    }
}

HMODULE LoadPackage(const QString &fileName)
{
    HMODULE module = dlopen(QFile::encodeName(fileName).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        throw Exception(QStringLiteral("Não foi possível carregar o pacote %1: %2")
                            .arg(fileName, QString::fromLocal8Bit(dlerror())));
    try {
        reinterpret_cast<void (*)()>(requireSymbol(module, "Initialize"))();
    } catch (...) {
        dlclose(module);
        throw;
    }
    return module;
}

void UnloadPackage(HMODULE module)
{
    if (void *finalize = dlsym(module, "Finalize"))
        reinterpret_cast<void (*)()>(finalize)();
    dlclose(module);
}

HMODULE ModuleInstance(const void *address)
{
    Dl_info info {};
    return dladdr(address, &info) == 0 ? nullptr : info.dli_fbase;
}

QString ModuleFileName(const void *address)
{
    Dl_info info {};
    if (dladdr(address, &info) == 0 || !info.dli_fname)
        return QString();
    return QFile::decodeName(info.dli_fname);
}

HMODULE LoadResourceModule(const QString &moduleFileName)
{
    const QString resourceFile = moduleFileName + QStringLiteral(".res");
    if (!QFileInfo::exists(resourceFile))
        return nullptr;
    return dlopen(QFile::encodeName(resourceFile).constData(), RTLD_NOW | RTLD_LOCAL);
}

void FreeLibrary(HMODULE module)
{
    if (module)
        dlclose(module);
}
