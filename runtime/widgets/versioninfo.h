#pragma once

#include "runtime/core/export.h"
#include "runtime/widgets/package.h"

#include <QString>
#include <QtGlobal>

// A module's version record: the module exports one under the name
// kVersionInfoSymbol, plain data that a host reads without running anything.
struct TModuleVersionInfo
{
    quint16 FileVersion[4]; // major, minor, release, build
    quint16 ProductVersion[4];
    const char *FileVersionText; // UTF-8
    const char *ProductVersionText;
    quint16 LanguageId; // a Windows language identifier: 0x0416 Portuguese (Brazil)
    quint16 CodePage; // of the module's texts: 1252
    const char *CompanyName;
    const char *FileDescription;
    const char *ProductName;
    const char *LegalCopyright;
};

constexpr char kVersionInfoSymbol[] = "ModuleVersionInfo";

// The record of a loaded module in readable lines (Portuguese); empty when it has none.
QLX_EXPORT QString ModuleVersionText(HMODULE module);
// The same for a module file, mapped for the reading only (its package entries
// do not run). A file that cannot be mapped, or has no record, raises Exception.
QLX_EXPORT QString ModuleFileVersionText(const QString &fileName);
