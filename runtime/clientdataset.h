#pragma once

#include "ansistring.h"
#include "datetime.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

enum class TFieldType { ftString, ftDateTime, ftInteger };

class TClientDataSet;

// A declared field of a record set, read at the current record.
class QLX_EXPORT TField
{
public:
    const QString &FieldName() const { return m_name; }
    TFieldType DataType() const { return m_type; }
    int Size() const { return m_size; }
    QString DisplayLabel;

    bool IsNull() const;
    // The value as text: a null as the empty text, a date-time in the user's format.
    AnsiString AsString() const;
    TDateTime AsDateTime() const;
    qint64 AsInteger() const;

private:
    friend class TClientDataSet;
    friend class TDataSetLoader;
    TField(TClientDataSet *dataSet, int index, const QString &name, TFieldType type, int size);

    TClientDataSet *m_dataSet;
    int m_index;
    QString m_name;
    TFieldType m_type;
    int m_size;
};

// An in-memory record set loaded whole from a data packet. Values are stored a
// column at a time: texts back to back in one buffer, so a record costs what
// its values take, not its fields' declared sizes.
class QLX_EXPORT TClientDataSet
{
public:
    TClientDataSet();
    ~TClientDataSet();
    TClientDataSet(const TClientDataSet &) = delete;
    TClientDataSet &operator=(const TClientDataSet &) = delete;

    TField *AddField(const QString &name, TFieldType type, int size = 0);
    TField *FieldByName(const QString &name) const;

    // Replaces the whole content with the packet's records and stands on the first.
    // A packet that lacks a declared field, carries one with another type or holds
    // a text longer than its field's size is refused with EDatabaseError, and the
    // earlier content is kept.
    void SetData(const QByteArray &packet);

    qsizetype RecordCount() const { return m_recordCount; }
    // True when no record is held; a set never loaded counts as empty.
    bool IsEmpty() const { return m_recordCount == 0; }
    void First();
    void Next();
    bool Eof() const { return m_current >= m_recordCount; }
    // Moves to the first record whose field equals the value, as a whole value;
    // false, not moving, when none does.
    bool Locate(const QString &fieldName, const AnsiString &value, bool caseInsensitive);

private:
    friend class TField;
    friend class TDataSetLoader;

    struct Column
    {
        std::string texts;
        std::vector<quint64> textEnds;
        std::vector<double> dateTimes;
        std::vector<qint64> integers;
        std::vector<bool> nulls;
    };

    AnsiString textAt(int field, qsizetype record) const;

    std::vector<std::unique_ptr<TField>> m_fields;
    std::vector<Column> m_columns;
    qsizetype m_recordCount = 0;
    qsizetype m_current = 0;
};
