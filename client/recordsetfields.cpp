#include "client/recordsetfields.h"

#include "protocol/contract.h"

using namespace protocol;

namespace {

TField *addField(TClientDataSet &dataSet, const contract::Field &field)
{
    const TFieldType type = field.kind == FieldKind::DateTime ? TFieldType::ftDateTime
                            : field.kind == FieldKind::Integer ? TFieldType::ftInteger
                                                                : TFieldType::ftString;
    return dataSet.AddField(QLatin1String(field.name), type, field.size);
}

} // namespace

LanguageFields DeclareLanguageFields(TClientDataSet &languages)
{
    return { addField(languages, contract::kLanguageId), addField(languages, contract::kLanguageName),
             addField(languages, contract::kLanguageProperty), addField(languages, contract::kLanguageGenerated) };
}

TableFields DeclareTableFields(TClientDataSet &tables)
{
    const TableFields fields { addField(tables, contract::kTableMark), addField(tables, contract::kTableCode) };
    fields.CDPROGTRAD->DisplayLabel = QStringLiteral("Nome");
    return fields;
}

TField *DeclareLineField(TClientDataSet &lines)
{
    return addField(lines, contract::kScriptLine);
}
