#include "client/remotemethods.h"

#include "protocol/contract.h"

using namespace protocol;

void GetIdioma(TNetConnection &connection, TClientDataSet &languages)
{
    CallRemote(connection, QLatin1String(contract::kGetIdioma), {}, languages);
}

void GetTabela(TNetConnection &connection, TRemoteArg tableList, const AnsiString &scope, TClientDataSet &tables)
{
    CallRemote(connection, QLatin1String(contract::kGetTabela), { std::move(tableList), TRemoteArg::byValue(scope) }, tables);
}

void GetPropriedCds(TNetConnection &connection, const AnsiString &language, AnsiString &tableList,
                    TDateTime since, TClientDataSet &lines, const TRecordsProgress &progress)
{
    CallRemote(connection, QLatin1String(contract::kGetPropriedCds),
               { TRemoteArg::byValue(language), TRemoteArg::byReference(tableList), TRemoteArg::dateTime(since) },
               lines, progress);
}
