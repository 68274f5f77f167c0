#include "errors.h"

#include <dialogs.h>
#include <exceptions.h>

void MensErro(const QString &text, bool abort)
{
    MessageDlg(text, TMsgDlgType::Error, mbOK, 0);
    if (abort)
        throw EAbort();
}

void MensErro(const AnsiString &text, bool abort)
{
    MensErro(Ansi::toUnicode(text), abort);
}
