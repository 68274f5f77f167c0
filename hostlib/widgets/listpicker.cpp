#include "hostlib/widgets/listpicker.h"

#include "runtime/core/clientdataset.h"
#include "runtime/core/dialogs.h"
#include "runtime/widgets/clearbutton.h"
#include "runtime/widgets/datasource.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The picker's size when it first opens; the user may resize it.
constexpr QSize kFirstSize(320, 380);

// The values a held list names: pieces of the field's size, blanks trimmed.
QSet<QByteArray> heldValues(const AnsiString &held, int size)
{
    QSet<QByteArray> values;
    const qsizetype step = size > 0 ? size : qsizetype(held.size());
    for (size_t at = 0; step > 0 && at < held.size(); at += size_t(step))
        values.insert(QByteArray::fromStdString(held.substr(at, size_t(step))).trimmed());
    return values;
}

} // namespace

TListPicker::TListPicker(TClientDataSet &records, const TField &field, const QString &title, const AnsiString &held,
                         QWidget *parent)
    : QDialog(parent)
    , m_filter(new QLineEdit(this))
    , m_rows(new QListWidget(this))
{
    setWindowTitle(title);
    m_filter->setPlaceholderText(QStringLiteral("Filtrar"));
    ShowClearButton(*m_filter, QStringLiteral("Limpar filtro"));
    auto *filterLabel = new QLabel(QStringLiteral("&Filtrar:"), this);
    filterLabel->setBuddy(m_filter);

    auto *header = new QLabel(field.DisplayLabel, this);
    header->setBuddy(m_rows);
    m_rows->setAccessibleName(header->text()); // a list takes no name from its label
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);

    const QSet<QByteArray> checked = heldValues(held, field.Size());
    records.First();
    while (!records.Eof()) {
        const AnsiString value = field.AsString();
        auto *item = new QListWidgetItem(Ansi::toUnicode(value).trimmed(), m_rows);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(checked.contains(QByteArray::fromStdString(value).trimmed()) ? Qt::Checked : Qt::Unchecked);
        m_values.push_back(value);
        records.Next();
    }
    if (m_rows->count() > 0)
        m_rows->setCurrentRow(0);

    auto *markAll = new QPushButton(QStringLiteral("&Marcar todos"), this);
    auto *clearAll = new QPushButton(QStringLiteral("&Desmarcar todos"), this);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    connect(markAll, &QPushButton::clicked, this, [this] { setAllChecked(true); });
    connect(clearAll, &QPushButton::clicked, this, [this] { setAllChecked(false); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_filter, &QLineEdit::textChanged, this, &TListPicker::applyFilter);

    auto *filterRow = new QHBoxLayout;
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(m_filter);
    auto *markRow = new QHBoxLayout;
    markRow->addWidget(markAll);
    markRow->addWidget(clearAll);
    markRow->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filterRow);
    layout->addWidget(header);
    layout->addWidget(m_rows);
    layout->addLayout(markRow);
    layout->addWidget(buttons);
    resize(kFirstSize);
    m_rows->setFocus();
}

void TListPicker::applyFilter(const QString &text)
{
    for (int row = 0; row < m_rows->count(); ++row) {
        QListWidgetItem *item = m_rows->item(row);
        item->setHidden(!item->text().contains(text.trimmed(), Qt::CaseInsensitive));
    }
}

void TListPicker::setAllChecked(bool checked)
{
    for (int row = 0; row < m_rows->count(); ++row) {
        if (!m_rows->item(row)->isHidden())
            m_rows->item(row)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
}

void TListPicker::setSingleChoice(bool single)
{
    disconnect(m_rows, &QListWidget::itemChanged, this, nullptr);
    if (!single)
        return;
    connect(m_rows, &QListWidget::itemChanged, this, [this](QListWidgetItem *changed) {
        if (changed->checkState() != Qt::Checked)
            return;
        const QSignalBlocker blocker(m_rows);
        for (int row = 0; row < m_rows->count(); ++row) {
            if (m_rows->item(row) != changed)
                m_rows->item(row)->setCheckState(Qt::Unchecked);
        }
    });
}

AnsiString TListPicker::pickedList() const
{
    AnsiString list;
    for (int row = 0; row < m_rows->count(); ++row) {
        if (m_rows->item(row)->checkState() == Qt::Checked)
            list += m_values[size_t(row)];
    }
    return list;
}

bool PesquisaLista(TDataSource *source, const QString &fieldName, const QString &title, bool singleChoice,
                   AnsiString &list)
{
    TClientDataSet &records = *source->DataSet;
    TListPicker picker(records, *records.FieldByName(fieldName), title, list, QApplication::activeWindow());
    picker.setSingleChoice(singleChoice);
    if (Dialogs().execModal(picker) != QDialog::Accepted)
        return false;
    list = picker.pickedList();
    return true;
}
