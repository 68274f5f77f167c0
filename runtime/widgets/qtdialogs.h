#pragma once

#include "runtime/core/dialogs.h"

// The production dialogs: Qt windows with Portuguese buttons.
class QLX_EXPORT TQtDialogService : public TDialogService
{
public:
    int messageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) override;
    void showException(const QString &message) override;
    bool selectDirectory(QString &directory, TSelectDirOpts options, int helpContext) override;
    int execModal(QDialog &dialog) override;
};
