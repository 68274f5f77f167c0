#include "remotecall.h"

#include <application.h>
#include <busyanimation.h>
#include <checkresultserv.h>

void CallRemote(TNetConnection &connection, const QString &method, std::vector<TRemoteArg> arguments,
                TClientDataSet &target)
{
    // A large answer comes in parts: the busy window, put up for it unless one is
    // up already, counts the records as they arrive.
    TDataSetLoad load(target, connection.AnswerLimit);
    bool ownBusyWindow = false;
    load.OnProgress = [&ownBusyWindow](qsizetype records) {
        if (!ShowAviVisible()) {
            ActiveShowAvi(Application().MainForm(), 6);
            ownBusyWindow = true;
        }
        ShowAviProgress(records);
    };
    try {
        const OleVariant result = connection.Call(method, std::move(arguments), &load);
        load.OnProgress = nullptr;
        target.SetData(load, CheckResultServ(result, true, 0));
    } catch (...) {
        if (ownBusyWindow)
            DeactiveShowAvi();
        throw;
    }
    if (ownBusyWindow)
        DeactiveShowAvi();
}
