#include "dialogs.h"

#include "qtdialogs.h"

namespace {
TDialogService *installedService = nullptr;
}

TDialogService::~TDialogService() = default;

TDialogService &Dialogs()
{
    static TQtDialogService qtService;
    return installedService ? *installedService : qtService;
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
