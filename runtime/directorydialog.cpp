#include "directorydialog.h"

#include "ansistring.h"

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
    const auto accepted = [this](const QString &path) {
        // The screens hold single-byte paths: one they cannot hold is refused here.
        if (Ansi::representable(path))
            return true;
        Dialogs().messageDlg(QStringLiteral("O nome do diretório tem caracteres que não podem ser usados: %1").arg(path),
                             TMsgDlgType::Warning, mbOK, 0);
        return false;
    };
    // Qt's directory mode refuses a name that does not exist: take it here.
    const auto *nameEdit = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    const QString typed = nameEdit ? nameEdit->text().trimmed() : QString();
    if (!typed.isEmpty() && (m_options & sdAllowCreate)) {
        const QString path = QDir(directory().absolutePath()).absoluteFilePath(typed);
        if (!QFileInfo::exists(path)) {
            if (accepted(path)) {
                m_chosen = QDir::cleanPath(path);
                QDialog::accept();
            }
            return;
        }
    }
    const QString selected = selectedFiles().value(0);
    if (!accepted(selected))
        return;
    QFileDialog::accept();
    m_chosen = selectedFiles().value(0);
}
