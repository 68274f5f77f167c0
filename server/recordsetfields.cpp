#include "recordsetfields.h"

LanguageFields DeclareLanguageFields(TClientDataSet &languages)
{
    return { languages.AddField(QStringLiteral("IDIDIOMA"), TFieldType::ftString, kLanguageIdSize),
             languages.AddField(QStringLiteral("DSIDIOMA"), TFieldType::ftString, kLanguageNameSize),
             languages.AddField(QStringLiteral("IDIPROP"), TFieldType::ftString, kLanguageIdSize),
             languages.AddField(QStringLiteral("DTGERIDITRAD"), TFieldType::ftDateTime) };
}

TableFields DeclareTableFields(TClientDataSet &tables)
{
    const TableFields fields { tables.AddField(QStringLiteral("IDMARCADO"), TFieldType::ftString, 1),
                               tables.AddField(QStringLiteral("CDPROGTRAD"), TFieldType::ftString, kTableCodeSize) };
    fields.CDPROGTRAD->DisplayLabel = QStringLiteral("Nome");
    return fields;
}

TField *DeclareLineField(TClientDataSet &lines)
{
    return lines.AddField(QStringLiteral("LINHA"), TFieldType::ftString, kLineSize);
}
