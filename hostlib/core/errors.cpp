#include "hostlib/core/errors.h"

#include "runtime/core/dialogs.h"
#include "runtime/core/exceptions.h"

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
