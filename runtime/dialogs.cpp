#include "dialogs.h"

#include "consoledialogs.h"

namespace {
TDialogService *installedService = nullptr;
TDialogService *defaultService = nullptr;
}

TDialogService::~TDialogService() = default;

TDialogService &Dialogs()
{
    static TConsoleDialogService console;
    if (installedService)
        return *installedService;
    return defaultService ? *defaultService : console;
}

void SetDefaultDialogService(TDialogService *service)
{
    defaultService = service;
}

void SetDialogService(TDialogService *service)
{
    installedService = service;
}

int MessageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext)
{
    return Dialogs().messageDlg(text, type, buttons, helpContext);
}

bool SelectDirectory(QString &directory, TSelectDirOpts options, int helpContext)
{
    return Dialogs().selectDirectory(directory, options, helpContext);
}
