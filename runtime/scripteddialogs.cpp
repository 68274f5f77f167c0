#include "scripteddialogs.h"

#include <QDialog>

TScriptedDialogService::TScriptedDialogService()
    : m_previous(&Dialogs())
{
    SetDialogService(this);
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
    records.append({ Record::Message, text, type, buttons });
    return answers.isEmpty() ? mrCancel : answers.takeFirst();
}

void TScriptedDialogService::showException(const QString &message)
{
    records.append({ Record::Exception, message, TMsgDlgType::Error, mbOK });
}

bool TScriptedDialogService::selectDirectory(QString &directory, TSelectDirOpts options, int)
{
    records.append({ Record::Directory, directory, TMsgDlgType::Information, options });
    const std::optional<QString> answer = directories.isEmpty() ? std::nullopt : directories.takeFirst();
    if (answer)
        directory = *answer;
    return answer.has_value();
}

int TScriptedDialogService::execModal(QDialog &dialog)
{
    records.append({ Record::Modal, dialog.windowTitle(), TMsgDlgType::Information, 0 });
    return modalScripts.isEmpty() ? int(mrCancel) : modalScripts.takeFirst()(dialog);
}
