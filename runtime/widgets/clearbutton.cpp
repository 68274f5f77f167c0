#include "runtime/widgets/clearbutton.h"

#include <QAction>
#include <QLineEdit>

void ShowClearButton(QLineEdit &edit, const QString &name)
{
    edit.setClearButtonEnabled(true);
    // The button shows the action Qt adds for it and takes the action's text as its name.
    if (auto *clear = edit.findChild<QAction *>(QStringLiteral("_q_qlineeditclearaction")))
        clear->setText(name);
}
