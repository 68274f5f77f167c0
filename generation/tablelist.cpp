#include "tablelist.h"

#include "remotemethods.h"

AnsiString AllTablesList(TNetConnection &connection, TClientDataSet &tables, const TField &code)
{
    GetTabela(connection, TRemoteArg::byValue(AnsiString()), "T", tables);
    AnsiString list;
    tables.First();
    while (!tables.Eof()) {
        list += code.AsString();
        tables.Next();
    }
    return list;
}
