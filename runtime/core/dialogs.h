#pragma once

#include "runtime/core/export.h"

#include <QString>

class QDialog;

enum class TMsgDlgType { Warning, Error, Information, Confirmation };

enum TMsgDlgBtn : int { mbYes = 0x1, mbNo = 0x2, mbOK = 0x4, mbCancel = 0x8 };
using TMsgDlgButtons = int;

enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// Options of the directory dialog.
enum TSelectDirOpt : int { sdAllowCreate = 0x1, sdPerformCreate = 0x2, sdPrompt = 0x4 };
using TSelectDirOpts = int;

// Every modal dialog the runtime and the host library show goes through this
// service, so that tests can answer them from a script.
class QLX_EXPORT TDialogService
{
public:
    virtual ~TDialogService();
    // Returns the modal result of the button pressed.
    virtual int messageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) = 0;
    // The application's error box for an exception that ended an action.
    virtual void showException(const QString &message) = 0;
    // True when the user confirmed; the chosen directory is then in `directory`.
    virtual bool selectDirectory(QString &directory, TSelectDirOpts options, int helpContext) = 0;
    // Runs a window of the host library (the list picker) modally; returns its result.
    virtual int execModal(QDialog &dialog) = 0;
};

// The service every dialog goes through: the installed one, else the default,
// each dialog inside the scope hooks.
QLX_EXPORT TDialogService &Dialogs();
// Installs a service and returns the one installed before; nullptr puts the
// default back. The caller keeps ownership.
QLX_EXPORT TDialogService *SetDialogService(TDialogService *service);
// The default: the Qt dialogs once the widgets runtime is loaded (it sets itself),
// else messages on standard error (TConsoleDialogService).
QLX_EXPORT void SetDefaultDialogService(TDialogService *service);

// What runs around every dialog, whichever service shows it: the widgets runtime
// shows the normal pointer for the time of the dialog.
struct TDialogScopeHooks
{
    void (*enter)() = nullptr;
    void (*leave)() = nullptr;
};
QLX_EXPORT void SetDialogScopeHooks(TDialogScopeHooks hooks);

QLX_EXPORT int MessageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext);
QLX_EXPORT bool SelectDirectory(QString &directory, TSelectDirOpts options, int helpContext);
