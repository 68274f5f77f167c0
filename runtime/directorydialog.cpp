#include "directorydialog.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

TDirectoryDialog::TDirectoryDialog(QWidget *parent, const QString &start, TSelectDirOpts options)
    : QFileDialog(parent, QStringLiteral("Selecionar diretório"), start)
    , m_options(options)
{
    setFileMode(QFileDialog::Directory);
    setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    setLabelText(QFileDialog::Accept, QStringLiteral("Selecionar"));
    setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
    setLabelText(QFileDialog::FileName, QStringLiteral("Diretório:"));
    setLabelText(QFileDialog::LookIn, QStringLiteral("Examinar:"));
}

void TDirectoryDialog::accept()
{
    // Qt's directory mode refuses a name that does not exist: take it here.
    const auto *nameEdit = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    const QString typed = nameEdit ? nameEdit->text().trimmed() : QString();
    if (!typed.isEmpty() && (m_options & sdAllowCreate)) {
        const QString path = QDir(directory().absolutePath()).absoluteFilePath(typed);
        if (!QFileInfo::exists(path)) {
            m_chosen = QDir::cleanPath(path);
            QDialog::accept();
            return;
        }
    }
    QFileDialog::accept();
    m_chosen = selectedFiles().value(0);
}
