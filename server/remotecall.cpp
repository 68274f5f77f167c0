#include "remotecall.h"

#include <checkresultserv.h>

void CallRemote(TNetConnection &connection, const QString &method, std::vector<TRemoteArg> arguments,
                TClientDataSet &target)
{
    const OleVariant result = connection.Call(method, std::move(arguments));
    target.SetData(CheckResultServ(result, true, 0));
}
