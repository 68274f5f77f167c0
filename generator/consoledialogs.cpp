#include "consoledialogs.h"

#include <cstdio>

namespace {

void say(const QString &text)
{
    std::fprintf(stderr, "qlx02600-gen: %s\n", qPrintable(text));
}

} // namespace

int TConsoleDialogService::messageDlg(const QString &text, TMsgDlgType, TMsgDlgButtons buttons, int)
{
    say(text);
    if (buttons & mbNo)
        return mrNo;
    return (buttons & mbCancel) ? mrCancel : mrOk;
}

void TConsoleDialogService::showException(const QString &message)
{
    say(message);
}

bool TConsoleDialogService::selectDirectory(QString &, TSelectDirOpts, int)
{
    return false;
}

int TConsoleDialogService::execModal(QDialog &)
{
    return mrCancel;
}
