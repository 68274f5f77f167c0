#pragma once

#include "protocol/datapacket.h"

#include <QLatin1String>

// The remote object both sides speak of: its registered name, its methods, the
// scope argument's one value, and the fields of the packets its methods answer with
// (a text field's size is its largest value in bytes).
namespace protocol::contract {

inline constexpr char kObjectName[] = "QLX02600.rdmGeraArquivo";

inline constexpr char kGetIdioma[] = "GetIdioma";
inline constexpr char kGetTabela[] = "GetTabela";
inline constexpr char kGetPropriedCds[] = "GetPropriedCds";

// GetTabela's scope for every translatable table; an empty scope means the list's tables.
inline constexpr char kAllTablesScope[] = "T";

struct Field
{
    const char *name;
    FieldKind kind;
    int size;

    FieldDesc desc() const { return { QLatin1String(name), kind, size }; }
};

// GetIdioma: the languages.
inline constexpr Field kLanguageId { "IDIDIOMA", FieldKind::String, 3 };
inline constexpr Field kLanguageName { "DSIDIOMA", FieldKind::String, 30 };
inline constexpr Field kLanguageProperty { "IDIPROP", FieldKind::String, 3 };
inline constexpr Field kLanguageGenerated { "DTGERIDITRAD", FieldKind::DateTime, 0 };

// GetTabela: the translatable tables. A code travels blank-padded to its size, so a
// list of codes is the padded codes joined with nothing between them.
inline constexpr Field kTableMark { "IDMARCADO", FieldKind::String, 1 };
inline constexpr Field kTableCode { "CDPROGTRAD", FieldKind::String, 20 };

// GetPropriedCds: the script lines, one complete statement each.
inline constexpr Field kScriptLine { "LINHA", FieldKind::String, 4000 };

} // namespace protocol::contract
