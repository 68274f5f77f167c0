#include "remotemethods.h"

void GetIdioma(TNetConnection &connection, TClientDataSet &languages)
{
    CallRemote(connection, QStringLiteral("GetIdioma"), {}, languages);
}

void GetTabela(TNetConnection &connection, TRemoteArg tableList, const AnsiString &scope, TClientDataSet &tables)
{
    CallRemote(connection, QStringLiteral("GetTabela"), { std::move(tableList), TRemoteArg::byValue(scope) }, tables);
}

void GetPropriedCds(TNetConnection &connection, const AnsiString &language, AnsiString &tableList,
                    TDateTime since, TClientDataSet &lines, const TRecordsProgress &progress)
{
    CallRemote(connection, QStringLiteral("GetPropriedCds"),
               { TRemoteArg::byValue(language), TRemoteArg::byReference(tableList), TRemoteArg::dateTime(since) },
               lines, progress);
}
