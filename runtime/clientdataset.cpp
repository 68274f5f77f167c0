#include "clientdataset.h"

#include "exceptions.h"

#include <datapacket.h>
#include <protocolerror.h>

#include <QHash>

using protocol::FieldDesc;
using protocol::FieldKind;

namespace {

FieldKind kindOf(TFieldType type)
{
    switch (type) {
    case TFieldType::ftString: return FieldKind::String;
    case TFieldType::ftDateTime: return FieldKind::DateTime;
    case TFieldType::ftInteger: return FieldKind::Integer;
    }
    return FieldKind::String;
}

} // namespace

// Decodes a packet into fresh columns for the declared fields.
class TDataSetLoader : public protocol::DataPacketSink
{
public:
    explicit TDataSetLoader(const TClientDataSet &dataSet)
        : m_dataSet(dataSet)
        , m_columns(dataSet.m_fields.size())
    {
    }

    void fields(const QList<FieldDesc> &fields) override
    {
        QHash<QString, qsizetype> byName;
        for (qsizetype i = 0; i < fields.size(); ++i)
            byName.insert(fields.at(i).name, i);
        m_target.assign(size_t(fields.size()), -1);
        for (const auto &declared : m_dataSet.m_fields) {
            const auto found = byName.constFind(declared->FieldName());
            if (found == byName.constEnd())
                throw EDatabaseError(QStringLiteral("Campo '%1' não encontrado no pacote de dados.").arg(declared->FieldName()));
            if (fields.at(*found).kind != kindOf(declared->DataType()))
                throw EDatabaseError(QStringLiteral("Campo '%1' chegou com o tipo %2.")
                                         .arg(declared->FieldName(), protocol::kindName(fields.at(*found).kind)));
            m_target[size_t(*found)] = declared->m_index;
        }
    }

    void stringValue(qsizetype column, const QByteArray &bytes) override
    {
        TClientDataSet::Column *target = targetOf(column);
        if (!target)
            return;
        const TField &declared = *m_dataSet.m_fields[size_t(m_target[size_t(column)])];
        if (declared.Size() > 0 && bytes.size() > declared.Size())
            throw EDatabaseError(QStringLiteral("Valor de %1 caracteres excede o tamanho %2 do campo '%3'.")
                                     .arg(bytes.size()).arg(declared.Size()).arg(declared.FieldName()));
        target->texts.append(bytes.constData(), size_t(bytes.size()));
        target->textEnds.push_back(target->texts.size());
        target->nulls.push_back(false);
    }

    void dateTimeValue(qsizetype column, double dayCount) override
    {
        if (TClientDataSet::Column *target = targetOf(column)) {
            target->dateTimes.push_back(dayCount);
            target->nulls.push_back(false);
        }
    }

    void integerValue(qsizetype column, qint64 value) override
    {
        if (TClientDataSet::Column *target = targetOf(column)) {
            target->integers.push_back(value);
            target->nulls.push_back(false);
        }
    }

    void nullValue(qsizetype column) override
    {
        TClientDataSet::Column *target = targetOf(column);
        if (!target)
            return;
        switch (m_dataSet.m_fields[size_t(m_target[size_t(column)])]->DataType()) {
        case TFieldType::ftString: target->textEnds.push_back(target->texts.size()); break;
        case TFieldType::ftDateTime: target->dateTimes.push_back(0); break;
        case TFieldType::ftInteger: target->integers.push_back(0); break;
        }
        target->nulls.push_back(true);
    }

    void endRow() override { ++m_records; }

    std::vector<TClientDataSet::Column> takeColumns() { return std::move(m_columns); }
    qsizetype records() const { return m_records; }

private:
    // The storage of a packet column's declared field; nullptr for a field not declared.
    TClientDataSet::Column *targetOf(qsizetype column)
    {
        const int field = m_target[size_t(column)];
        return field < 0 ? nullptr : &m_columns[size_t(field)];
    }

    const TClientDataSet &m_dataSet;
    std::vector<TClientDataSet::Column> m_columns;
    std::vector<int> m_target;
    qsizetype m_records = 0;
};

TField::TField(TClientDataSet *dataSet, int index, const QString &name, TFieldType type, int size)
    : DisplayLabel(name)
    , m_dataSet(dataSet)
    , m_index(index)
    , m_name(name)
    , m_type(type)
    , m_size(size)
{
}

bool TField::IsNull() const
{
    if (m_dataSet->Eof())
        return true;
    return m_dataSet->m_columns[size_t(m_index)].nulls[size_t(m_dataSet->m_current)];
}

AnsiString TField::AsString() const
{
    if (IsNull())
        return AnsiString();
    switch (m_type) {
    case TFieldType::ftString: return m_dataSet->textAt(m_index, m_dataSet->m_current);
    case TFieldType::ftDateTime: return Ansi::fromUnicode(DateTimeToStr(AsDateTime()));
    case TFieldType::ftInteger: return std::to_string(AsInteger());
    }
    return AnsiString();
}

TDateTime TField::AsDateTime() const
{
    if (m_type != TFieldType::ftDateTime)
        throw EDatabaseError(QStringLiteral("Campo '%1' não é data e hora.").arg(m_name));
    return IsNull() ? 0 : m_dataSet->m_columns[size_t(m_index)].dateTimes[size_t(m_dataSet->m_current)];
}

qint64 TField::AsInteger() const
{
    if (m_type != TFieldType::ftInteger)
        throw EDatabaseError(QStringLiteral("Campo '%1' não é inteiro.").arg(m_name));
    return IsNull() ? 0 : m_dataSet->m_columns[size_t(m_index)].integers[size_t(m_dataSet->m_current)];
}

TClientDataSet::TClientDataSet() = default;
TClientDataSet::~TClientDataSet() = default;

TField *TClientDataSet::AddField(const QString &name, TFieldType type, int size)
{
    m_fields.push_back(std::unique_ptr<TField>(new TField(this, int(m_fields.size()), name, type, size)));
    m_columns.emplace_back();
    return m_fields.back().get();
}

TField *TClientDataSet::FieldByName(const QString &name) const
{
    for (const auto &field : m_fields) {
        if (field->FieldName().compare(name, Qt::CaseInsensitive) == 0)
            return field.get();
    }
    throw EDatabaseError(QStringLiteral("Campo '%1' não encontrado.").arg(name));
}

void TClientDataSet::SetData(const QByteArray &packet)
{
    TDataSetLoader loader(*this);
    try {
        protocol::readDataPacket(packet, loader);
    } catch (const protocol::ProtocolError &failure) {
        throw EDatabaseError(QStringLiteral("Pacote de dados inválido: %1").arg(QString::fromUtf8(failure.what())));
    }
    m_columns = loader.takeColumns();
    m_recordCount = loader.records();
    First();
}

void TClientDataSet::First()
{
    m_current = 0;
}

void TClientDataSet::Next()
{
    if (m_current < m_recordCount)
        ++m_current;
}

bool TClientDataSet::Locate(const QString &fieldName, const AnsiString &value, bool caseInsensitive)
{
    const TField *field = FieldByName(fieldName);
    if (field->DataType() != TFieldType::ftString)
        throw EDatabaseError(QStringLiteral("Localização só por campo de texto: '%1'.").arg(fieldName));
    for (qsizetype record = 0; record < m_recordCount; ++record) {
        if (m_columns[size_t(field->m_index)].nulls[size_t(record)])
            continue;
        const AnsiString candidate = textAt(field->m_index, record);
        const bool same = caseInsensitive ? Ansi::sameTextIgnoringCase(candidate, value) : candidate == value;
        if (same) {
            m_current = record;
            return true;
        }
    }
    return false;
}

AnsiString TClientDataSet::textAt(int field, qsizetype record) const
{
    const Column &column = m_columns[size_t(field)];
    const quint64 begin = record == 0 ? 0 : column.textEnds[size_t(record - 1)];
    return column.texts.substr(begin, column.textEnds[size_t(record)] - begin);
}
