#include "runtime/core/dialogs.h"

#include "runtime/core/consoledialogs.h"

#include <utility>

namespace {

TDialogService *installedService = nullptr;
TDialogService *defaultService = nullptr;
TDialogScopeHooks scopeHooks {};

// The hooks' enter and leave around one dialog.
class DialogScope
{
public:
    DialogScope()
    {
        if (scopeHooks.enter)
            scopeHooks.enter();
    }
    ~DialogScope()
    {
        if (scopeHooks.leave)
            scopeHooks.leave();
    }
    DialogScope(const DialogScope &) = delete;
    DialogScope &operator=(const DialogScope &) = delete;
};

// What every caller reaches: the installed service, else the default, each
// dialog inside the scope hooks.
class DialogFront : public TDialogService
{
public:
    int messageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) override
    {
        DialogScope scope;
        return target().messageDlg(text, type, buttons, helpContext);
    }
    void showException(const QString &message) override
    {
        DialogScope scope;
        target().showException(message);
    }
    bool selectDirectory(QString &directory, TSelectDirOpts options, int helpContext) override
    {
        DialogScope scope;
        return target().selectDirectory(directory, options, helpContext);
    }
    int execModal(QDialog &dialog) override
    {
        DialogScope scope;
        return target().execModal(dialog);
    }

private:
    static TDialogService &target()
    {
        static TConsoleDialogService console;
        if (installedService)
            return *installedService;
        return defaultService ? *defaultService : console;
    }
};

} // namespace

TDialogService::~TDialogService() = default;

TDialogService &Dialogs()
{
    static DialogFront front;
    return front;
}

TDialogService *SetDialogService(TDialogService *service)
{
    return std::exchange(installedService, service);
}

void SetDefaultDialogService(TDialogService *service)
{
    defaultService = service;
}

void SetDialogScopeHooks(TDialogScopeHooks hooks)
{
    scopeHooks = hooks;
}

int MessageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext)
{
    return Dialogs().messageDlg(text, type, buttons, helpContext);
}

bool SelectDirectory(QString &directory, TSelectDirOpts options, int helpContext)
{
    return Dialogs().selectDirectory(directory, options, helpContext);
}
