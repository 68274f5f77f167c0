#pragma once

#include <dialogs.h>

// The dialogs service of a program without a display: every message goes to
// standard error, no question is answered yes, and no window is opened.
class TConsoleDialogService : public TDialogService
{
public:
    int messageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) override;
    void showException(const QString &message) override;
    bool selectDirectory(QString &directory, TSelectDirOpts options, int helpContext) override;
    int execModal(QDialog &dialog) override;
};
