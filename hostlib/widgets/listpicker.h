#pragma once

#include "runtime/core/ansistring.h"

#include <QDialog>

class QLineEdit;
class QListWidget;
class TClientDataSet;
class TField;

// The list picker's window: a check per record of the field, a filter that
// narrows the rows, mark all and clear all, OK and Cancel.
class QLX_EXPORT TListPicker : public QDialog
{
    Q_OBJECT

public:
    // The rows whose values the held list contains start checked.
    TListPicker(TClientDataSet &records, const TField &field, const QString &title, const AnsiString &held,
                QWidget *parent = nullptr);

    // The checked values in record order, each as the record holds it, joined
    // with nothing between them.
    AnsiString pickedList() const;

    QLineEdit *filterEdit() const { return m_filter; }
    QListWidget *rows() const { return m_rows; }
    void setAllChecked(bool checked);
    // With a single choice, checking a row clears the others.
    void setSingleChoice(bool single);

private:
    void applyFilter(const QString &text);

    QLineEdit *m_filter;
    QListWidget *m_rows;
    std::vector<AnsiString> m_values;
};

// Shows the picker over the data source's records; on OK writes the picked values
// into `list`, on Cancel leaves it as it was. Returns whether the user confirmed.
class TDataSource;
QLX_EXPORT bool PesquisaLista(TDataSource *source, const QString &fieldName, const QString &title, bool singleChoice,
                              AnsiString &list);
