#include "runtime/core/consoledialogs.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

void say(const QString &text)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(text));
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
