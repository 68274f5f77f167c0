#pragma once

#include "dialogs.h"

#include <QFileDialog>

// The directory dialog: picks an existing directory or takes the typed name of
// one that does not exist yet (without creating it or asking about it).
class QLX_EXPORT TDirectoryDialog : public QFileDialog
{
public:
    TDirectoryDialog(QWidget *parent, const QString &start, TSelectDirOpts options);
    QString chosenDirectory() const { return m_chosen; }

    void accept() override;

private:
    TSelectDirOpts m_options;
    QString m_chosen;
};
