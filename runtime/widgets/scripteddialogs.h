#pragma once

#include "runtime/core/dialogs.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <optional>

// A dialogs service for tests: records every dialog, with where the focus was
// and which pointer showed when it came up, and answers from queues. Installs
// itself on construction and puts the previous service back on destruction.
class QLX_EXPORT TScriptedDialogService : public TDialogService
{
public:
    struct Record
    {
        enum Kind { Message, Exception, Directory, Modal } kind;
        QString text;
        TMsgDlgType type = TMsgDlgType::Information;
        TMsgDlgButtons buttons = 0;
        QString focus; // the object name of the focus widget, empty when none has it
        Qt::CursorShape pointer = Qt::ArrowCursor;
    };

    TScriptedDialogService();
    ~TScriptedDialogService() override;

    QList<Record> records;
    QList<int> answers; // for messageDlg; an empty queue answers mrCancel
    QList<std::optional<QString>> directories; // for selectDirectory; nullopt cancels
    QList<std::function<int(QDialog &)>> modalScripts; // for execModal; empty: mrCancel

    // The texts shown, in order, of every kind.
    QStringList texts() const;
    void clear();

    int messageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) override;
    void showException(const QString &message) override;
    bool selectDirectory(QString &directory, TSelectDirOpts options, int helpContext) override;
    int execModal(QDialog &dialog) override;

private:
    void record(Record::Kind kind, const QString &text, TMsgDlgType type, TMsgDlgButtons buttons);

    TDialogService *m_previous;
};
