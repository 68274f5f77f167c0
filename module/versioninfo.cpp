// The module's version record.
#include "module/exports.h"

#include "runtime/widgets/versioninfo.h"

const TModuleVersionInfo ModuleVersionInfo {
    { QLX_VERSION_MAJOR, QLX_VERSION_MINOR, QLX_VERSION_PATCH, 0 },
    { QLX_VERSION_MAJOR, QLX_VERSION_MINOR, QLX_VERSION_PATCH, 0 },
    QLX_VERSION_TEXT,
    QLX_VERSION_TEXT,
    0x0416, // Portuguese (Brazil)
    1252,
    "Projeto QLX",
    "Geração do Arquivo de Tradução das Tabelas",
    "QLX02600",
    "Distribuído com o projeto QLX.",
};
