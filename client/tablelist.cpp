#include "client/tablelist.h"

#include "client/remotemethods.h"
#include "protocol/contract.h"

AnsiString AllTablesList(TNetConnection &connection, TClientDataSet &tables, const TField &code)
{
    GetTabela(connection, TRemoteArg::byValue(AnsiString()), protocol::contract::kAllTablesScope, tables);
    AnsiString list;
    tables.First();
    while (!tables.Eof()) {
        list += code.AsString();
        tables.Next();
    }
    return list;
}
