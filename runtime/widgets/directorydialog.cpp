#include "runtime/widgets/directorydialog.h"

#include "runtime/core/ansistring.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QLineEdit>
#include <QPushButton>

namespace {

// The dialog's entries with their dates as the screen's language writes them: Qt's
// file model writes them in the system's locale.
class PortugueseDates : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (role != Qt::DisplayRole || index.column() != kDateColumn || !files)
            return QIdentityProxyModel::data(index, role);
        return QLocale(QLocale::Portuguese, QLocale::Brazil)
            .toString(files->lastModified(mapToSource(index)), QStringLiteral("dd/MM/yyyy HH:mm"));
    }

private:
    static constexpr int kDateColumn = 3; // QFileSystemModel's "Date Modified"
};

} // namespace

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
    setProxyModel(new PortugueseDates(this));
    // Qt's directory mode disables its button for a name that does not exist,
    // whenever it looks at the name again: a name that may be created enables it.
    if (auto *buttons = findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))) {
        for (QAbstractButton *button : buttons->buttons()) {
            if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole)
                m_acceptButton = qobject_cast<QPushButton *>(button);
        }
    }
    if (m_acceptButton)
        m_acceptButton->installEventFilter(this);
    if (auto *name = nameEdit())
        connect(name, &QLineEdit::textChanged, this, &TDirectoryDialog::enableForNewName);
}

QLineEdit *TDirectoryDialog::nameEdit() const
{
    return findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
}

QString TDirectoryDialog::typedNewDirectory() const
{
    const QLineEdit *name = nameEdit();
    const QString typed = name ? name->text().trimmed() : QString();
    if (typed.isEmpty() || !(m_options & sdAllowCreate))
        return QString();
    const QString path = QDir(directory().absolutePath()).absoluteFilePath(typed);
    return QFileInfo::exists(path) ? QString() : QDir::cleanPath(path);
}

void TDirectoryDialog::enableForNewName()
{
    if (m_acceptButton && !m_acceptButton->isEnabled() && !typedNewDirectory().isEmpty())
        m_acceptButton->setEnabled(true);
}

bool TDirectoryDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_acceptButton && event->type() == QEvent::EnabledChange)
        enableForNewName();
    return QFileDialog::eventFilter(watched, event);
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
    const QString created = typedNewDirectory();
    if (!created.isEmpty()) {
        if (accepted(created)) {
            m_chosen = created;
            QDialog::accept();
        }
        return;
    }
    const QString selected = selectedFiles().value(0);
    if (!accepted(selected))
        return;
    QFileDialog::accept();
    m_chosen = selectedFiles().value(0);
}
