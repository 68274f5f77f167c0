#pragma once

#include "runtime/core/dialogs.h"

// The dialogs of a program without widgets: every message goes to standard error
// after the program's name, no question is answered yes, and no window is opened.
class QLX_EXPORT TConsoleDialogService : public TDialogService
{
public:
    int messageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) override;
    void showException(const QString &message) override;
    bool selectDirectory(QString &directory, TSelectDirOpts options, int helpContext) override;
    int execModal(QDialog &dialog) override;
};
