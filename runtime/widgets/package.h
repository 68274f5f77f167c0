#pragma once

#include "runtime/core/export.h"

#include <QString>

using HMODULE = void *;

// A loaded module as the runtime's module list holds it.
struct TLibModule
{
    TLibModule *Next;
    HMODULE Instance;
    HMODULE CodeInstance;
    HMODULE DataInstance;
    HMODULE ResInstance;
    void *Reserved;
};

QLX_EXPORT void RegisterModule(TLibModule *module);
QLX_EXPORT void UnregisterModule(TLibModule *module);
QLX_EXPORT TLibModule *LibModuleList();

// A unit's start-up and shut-down routines, and the table a package hands its loader.
struct TPackageUnitEntry
{
    void (*Init)();
    void (*FInit)();
};

struct TPackageInfoTable
{
    int UnitCount;
    const TPackageUnitEntry *UnitInfo;
};

using TGetPackageInfoTable = const TPackageInfoTable *(*)();

// Every unit's start-up in table order; every shut-down in reverse order.
QLX_EXPORT void PackageLoad(const TPackageInfoTable *table);
QLX_EXPORT void PackageUnload(const TPackageInfoTable *table);

// Counts a unit's start-ups: its body runs on the first start-up only, its
// shut-down body when the count is back at zero.
class QLX_EXPORT TUnitCounter
{
public:
    bool StartUp() { return m_count++ == 0; }
    bool ShutDown() { return m_count > 0 && --m_count == 0; }

private:
    int m_count = 0;
};

// Maps a package and runs its Initialize; a failure is raised as the runtime's
// exception and leaves nothing loaded.
QLX_EXPORT HMODULE LoadPackage(const QString &fileName);
// Runs the package's Finalize, then unmaps it.
QLX_EXPORT void UnloadPackage(HMODULE module);

// The instance handle (load address) of the module that holds `address`.
QLX_EXPORT HMODULE ModuleInstance(const void *address);
// The file name of the module that holds `address`.
QLX_EXPORT QString ModuleFileName(const void *address);
// The resource module that belongs to a module file: a library named like it with
// ".res" appended, beside it. None is normal: returns nullptr.
QLX_EXPORT HMODULE LoadResourceModule(const QString &moduleFileName);
QLX_EXPORT void FreeLibrary(HMODULE module);
