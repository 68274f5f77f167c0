#pragma once

#include "runtime/core/export.h"
#include "runtime/widgets/package.h"
#include "runtime/widgets/versioninfo.h"

class TfrmGeraArquivo;

// What the host and other modules reach by name.
extern "C" {
QLX_EXPORT void IniProc();
QLX_EXPORT void CriaGeraArquivo();
QLX_EXPORT extern TfrmGeraArquivo *frmGeraArquivo;
QLX_EXPORT extern bool boStcriado;
// The version record (file and product version, language, code page).
QLX_EXPORT extern const TModuleVersionInfo ModuleVersionInfo;

// Package entries the runtime's loader calls.
QLX_EXPORT void Initialize();
QLX_EXPORT void Finalize();
QLX_EXPORT const TPackageInfoTable *GetPackageInfoTable();
}
