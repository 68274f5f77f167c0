#include "runtime/widgets/qtdialogs.h"

#include "runtime/widgets/directorydialog.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <vector>

namespace {

QString titleOf(TMsgDlgType type)
{
    switch (type) {
    case TMsgDlgType::Warning: return QStringLiteral("Aviso");
    case TMsgDlgType::Error: return QStringLiteral("Erro");
    case TMsgDlgType::Information: return QStringLiteral("Informação");
    case TMsgDlgType::Confirmation: return QStringLiteral("Confirmação");
    }
    return QString();
}

QMessageBox::Icon iconOf(TMsgDlgType type)
{
    switch (type) {
    case TMsgDlgType::Warning: return QMessageBox::Warning;
    case TMsgDlgType::Error: return QMessageBox::Critical;
    case TMsgDlgType::Information: return QMessageBox::Information;
    case TMsgDlgType::Confirmation: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

} // namespace

int TQtDialogService::messageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, int)
{
    QMessageBox box(iconOf(type), titleOf(type), text, QMessageBox::NoButton, QApplication::activeWindow());
    struct Choice { TMsgDlgBtn button; const char *caption; QMessageBox::ButtonRole role; TModalResult result; };
    static const Choice choices[] = {
        { mbYes, "&Sim", QMessageBox::YesRole, mrYes },
        { mbNo, "&Não", QMessageBox::NoRole, mrNo },
        { mbOK, "OK", QMessageBox::AcceptRole, mrOk },
        { mbCancel, "Cancelar", QMessageBox::RejectRole, mrCancel },
    };
    QList<QPair<QAbstractButton *, TModalResult>> added;
    for (const Choice &choice : choices) {
        if (!(buttons & choice.button))
            continue;
        QPushButton *button = box.addButton(QString::fromUtf8(choice.caption), choice.role);
        added.append({ button, choice.result });
        if (added.size() == 1)
            box.setDefaultButton(button);
    }
    // Escape answers the last button: "Não" for a question, "OK" for a notice.
    if (!added.isEmpty())
        box.setEscapeButton(added.last().first);
    box.exec();
    for (const auto &[button, result] : added) {
        if (box.clickedButton() == button)
            return result;
    }
    return mrCancel;
}

void TQtDialogService::showException(const QString &message)
{
    messageDlg(message, TMsgDlgType::Error, mbOK, 0);
}

bool TQtDialogService::selectDirectory(QString &directory, TSelectDirOpts options, int)
{
    TDirectoryDialog dialog(QApplication::activeWindow(), directory, options);
    if (dialog.exec() != QDialog::Accepted || dialog.chosenDirectory().isEmpty())
        return false;
    directory = dialog.chosenDirectory();
    return true;
}

int TQtDialogService::execModal(QDialog &dialog)
{
    return dialog.exec();
}

namespace {

// While a dialog is up the pointer is the ordinary one, whatever busy cursor the
// application shows; the cursor comes back when the dialog goes.
std::vector<bool> pointerOverridden; // one entry per dialog up, nested ones included

void normalPointerOn()
{
    const bool busy = QGuiApplication::overrideCursor() != nullptr;
    if (busy)
        QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
    pointerOverridden.push_back(busy);
}

void normalPointerOff()
{
    if (pointerOverridden.empty())
        return;
    const bool busy = pointerOverridden.back();
    pointerOverridden.pop_back();
    if (busy && QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}

// Loading the widgets runtime makes the Qt dialogs the default, every dialog
// (the scripted ones of the tests too) under the normal pointer.
struct QtDialogsByDefault
{
    TQtDialogService service;
    QtDialogsByDefault()
    {
        SetDefaultDialogService(&service);
        SetDialogScopeHooks({ &normalPointerOn, &normalPointerOff });
    }
    ~QtDialogsByDefault()
    {
        SetDialogScopeHooks({});
        SetDefaultDialogService(nullptr);
    }
} qtDialogsByDefault;

} // namespace
