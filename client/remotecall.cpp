#include "client/remotecall.h"

#include "hostlib/core/checkresultserv.h"
#include "runtime/core/exceptions.h"

void CallRemote(TNetConnection &connection, const QString &method, std::vector<TRemoteArg> arguments,
                TClientDataSet &target, const TRecordsProgress &progress)
{
    for (int repeats = 0;; ++repeats) {
        // A load of its own for each attempt: the rows and file of a lost one go with it.
        TDataSetLoad load(target, connection.AnswerLimit);
        load.OnProgress = progress;
        OleVariant result;
        try {
            result = connection.Call(method, arguments, &load);
        } catch (const EConnectionLost &) {
            if (repeats == kLostCallRepeats || !connection.SwitchServer())
                throw;
            continue;
        }
        load.OnProgress = nullptr;
        target.SetData(load, CheckResultServ(result, true, 0));
        return;
    }
}
