#include "client/remotecall.h"

#include "hostlib/core/checkresultserv.h"

void CallRemote(TNetConnection &connection, const QString &method, std::vector<TRemoteArg> arguments,
                TClientDataSet &target, const TRecordsProgress &progress)
{
    TDataSetLoad load(target, connection.AnswerLimit);
    load.OnProgress = progress;
    const OleVariant result = connection.Call(method, std::move(arguments), &load);
    load.OnProgress = nullptr;
    target.SetData(load, CheckResultServ(result, true, 0));
}
