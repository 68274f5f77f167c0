#include "runtime/widgets/scripteddialogs.h"

#include <QApplication>
#include <QDialog>

TScriptedDialogService::TScriptedDialogService()
    : m_previous(SetDialogService(this))
{
}

TScriptedDialogService::~TScriptedDialogService()
{
    SetDialogService(m_previous);
}

QStringList TScriptedDialogService::texts() const
{
    QStringList result;
    for (const Record &record : records)
        result << record.text;
    return result;
}

void TScriptedDialogService::clear()
{
    records.clear();
    answers.clear();
    directories.clear();
    modalScripts.clear();
}

int TScriptedDialogService::messageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, int)
{
    record(Record::Message, text, type, buttons);
    return answers.isEmpty() ? mrCancel : answers.takeFirst();
}

void TScriptedDialogService::showException(const QString &message)
{
    record(Record::Exception, message, TMsgDlgType::Error, mbOK);
}

bool TScriptedDialogService::selectDirectory(QString &directory, TSelectDirOpts options, int)
{
    record(Record::Directory, directory, TMsgDlgType::Information, options);
    const std::optional<QString> answer = directories.isEmpty() ? std::nullopt : directories.takeFirst();
    if (answer)
        directory = *answer;
    return answer.has_value();
}

int TScriptedDialogService::execModal(QDialog &dialog)
{
    record(Record::Modal, dialog.windowTitle(), TMsgDlgType::Information, 0);
    return modalScripts.isEmpty() ? int(mrCancel) : modalScripts.takeFirst()(dialog);
}

void TScriptedDialogService::record(Record::Kind kind, const QString &text, TMsgDlgType type, TMsgDlgButtons buttons)
{
    const QWidget *focus = QApplication::focusWidget();
    const QCursor *pointer = QApplication::overrideCursor();
    records.append({ kind, text, type, buttons, focus ? focus->objectName() : QString(),
                     pointer ? pointer->shape() : Qt::ArrowCursor });
}
