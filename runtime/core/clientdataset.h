#pragma once

#include "runtime/core/ansistring.h"
#include "runtime/core/datetime.h"
#include "runtime/core/nullmarks.h"
#include "runtime/core/textstore.h"

#include "protocol/datapacket.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

enum class TFieldType { ftString, ftDateTime, ftInteger };

class TClientDataSet;
class TextFile;

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
    // A text field's bytes where the record set holds them, valid until the
    // next read of a text or the next load; empty for a null.
    std::string_view AsBytes() const;
    TDateTime AsDateTime() const;
    qint64 AsInteger() const;

private:
    friend class TClientDataSet;
    friend class TDataSetLoad;
    TField(TClientDataSet *dataSet, int index, const QString &name, TFieldType type, int size);

    TClientDataSet *m_dataSet;
    int m_index;
    QString m_name;
    TFieldType m_type;
    int m_size;
};

class TDataSetLoad;

// A record set loaded whole from a data packet. Values are stored a column at a
// time: texts back to back in fixed-size chunks, or in a file, so a record costs
// what its values take, not its fields' declared sizes.
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
    // The same for an answer that came in parts: the load holds the parts' records
    // and the final packet's come after them.
    void SetData(TDataSetLoad &load, const QByteArray &finalPacket);

    // From the next load on, the field's texts go to a new file in `directory`,
    // each followed by `terminator` (see TextFile); where no file may be created
    // there, to an unnamed one in the system's temporary directory; where not
    // even that, to memory. A failure names `shownAs` (see TextFile).
    void KeepTextsInFile(const TField &field, const QString &directory, const QByteArray &terminator,
                         const QString &shownAs = {});
    // The file holding the field's texts since the last load; nullptr while they are in memory.
    TextFile *TextFileOf(const TField &field) const;

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
    friend class TDataSetLoad;

    struct Column
    {
        std::unique_ptr<TextStore> texts; // a text field's only

        std::vector<double> dateTimes;
        std::vector<qint64> integers;
        NullMarks nulls;
    };

    struct TextFilePlace
    {
        QString directory; // empty: the texts stay in memory
        QByteArray terminator;
        QString shownAs;
    };

    std::string_view textAt(int field, qsizetype record) const;
    std::unique_ptr<TextStore> newTextStore(int field) const;
    void take(TDataSetLoad &load);

    std::vector<std::unique_ptr<TField>> m_fields;
    std::vector<Column> m_columns;
    std::vector<TextFilePlace> m_textFilePlaces;
    qsizetype m_recordCount = 0;
    qsizetype m_current = 0;
};

// Records decoded for a record set, held apart from it until the whole answer has
// arrived, so that a failure leaves the set as it was. Binds the packet's fields
// to the declared ones by name at every packet.
class QLX_EXPORT TDataSetLoad : public protocol::DataPacketSink
{
public:
    // No limit on the memory the records may take.
    static constexpr qint64 kUnlimited = std::numeric_limits<qint64>::max();

    // Records past `memoryLimit` bytes of memory are refused with EDatabaseError;
    // texts kept in a file count only by their index.
    explicit TDataSetLoad(const TClientDataSet &dataSet, qint64 memoryLimit = kUnlimited);

    // Called with the number of records so far after every packet, and in between
    // as rows of the packet on its way arrive whole, those counted too; the number
    // never goes down.
    std::function<void(qsizetype records)> OnProgress;

    qsizetype records() const { return m_records; }

    void fields(const QList<protocol::FieldDesc> &fields) override;
    void stringValue(qsizetype column, QByteArrayView bytes) override;
    void dateTimeValue(qsizetype column, double dayCount) override;
    void integerValue(qsizetype column, qint64 value) override;
    void nullValue(qsizetype column) override;
    void endRow() override;
    void endPacket() override;
    void rowsArriving(qsizetype rows) override;

private:
    friend class TClientDataSet;

    // The storage of a packet column's declared field; nullptr for a field not declared.
    TClientDataSet::Column *targetOf(qsizetype column);
    void checkMemory();

    const TClientDataSet &m_dataSet;
    qint64 m_memoryLimit;
    std::vector<TClientDataSet::Column> m_columns;
    std::vector<int> m_target;
    std::vector<qsizetype> m_longest; // the longest text a packet column's field takes
    qsizetype m_records = 0;
    qsizetype m_recordsShown = 0; // the last number given to OnProgress
};
