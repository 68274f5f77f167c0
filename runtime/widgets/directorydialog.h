#pragma once

#include "runtime/core/dialogs.h"

#include <QFileDialog>
#include <QPointer>

class QLineEdit;
class QPushButton;

// The directory dialog: picks an existing directory or takes the typed name of
// one that does not exist yet (without creating it or asking about it), by its
// button as by Enter.
class QLX_EXPORT TDirectoryDialog : public QFileDialog
{
public:
    TDirectoryDialog(QWidget *parent, const QString &start, TSelectDirOpts options);
    QString chosenDirectory() const { return m_chosen; }

    void accept() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *nameEdit() const;
    // The clean path of the typed name when it names no existing entry and may be
    // created; else empty.
    QString typedNewDirectory() const;
    void enableForNewName();

    TSelectDirOpts m_options;
    QString m_chosen;
    QPointer<QPushButton> m_acceptButton;
};
