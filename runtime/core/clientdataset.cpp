#include "runtime/core/clientdataset.h"

#include "runtime/core/exceptions.h"
#include "runtime/core/textarena.h"
#include "runtime/core/textfile.h"

#include "protocol/datapacket.h"
#include "protocol/protocolerror.h"

#include <QDir>
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

TDataSetLoad::TDataSetLoad(const TClientDataSet &dataSet, qint64 memoryLimit)
    : m_dataSet(dataSet)
    , m_memoryLimit(memoryLimit)
    , m_columns(dataSet.m_fields.size())
{
    for (const auto &field : dataSet.m_fields) {
        if (field->DataType() == TFieldType::ftString)
            m_columns[size_t(field->m_index)].texts = dataSet.newTextStore(field->m_index);
    }
}

void TDataSetLoad::fields(const QList<FieldDesc> &fields)
{
    QHash<QString, qsizetype> byName;
    for (qsizetype i = 0; i < fields.size(); ++i)
        byName.insert(fields.at(i).name, i);
    m_target.assign(size_t(fields.size()), -1);
    m_longest.assign(size_t(fields.size()), 0);
    for (const auto &declared : m_dataSet.m_fields) {
        const auto found = byName.constFind(declared->FieldName());
        if (found == byName.constEnd())
            throw EDatabaseError(QStringLiteral("Campo '%1' não encontrado no pacote de dados.").arg(declared->FieldName()));
        if (fields.at(*found).kind != kindOf(declared->DataType()))
            throw EDatabaseError(QStringLiteral("Campo '%1' chegou com o tipo %2.")
                                     .arg(declared->FieldName(), protocol::kindName(fields.at(*found).kind)));
        m_target[size_t(*found)] = declared->m_index;
        m_longest[size_t(*found)] = declared->Size() > 0 ? std::min<qsizetype>(declared->Size(), TextStore::kLongestText)
                                                         : TextStore::kLongestText;
    }
}

void TDataSetLoad::stringValue(qsizetype column, QByteArrayView bytes)
{
    TClientDataSet::Column *target = targetOf(column);
    if (!target)
        return;
    if (bytes.size() > m_longest[size_t(column)])
        throw EDatabaseError(QStringLiteral("Valor de %1 caracteres excede o tamanho %2 do campo '%3'.")
                                 .arg(bytes.size())
                                 .arg(m_longest[size_t(column)])
                                 .arg(m_dataSet.m_fields[size_t(m_target[size_t(column)])]->FieldName()));
    target->texts->append(bytes.data(), bytes.size());
    target->nulls.append(false);
}

void TDataSetLoad::dateTimeValue(qsizetype column, double dayCount)
{
    if (TClientDataSet::Column *target = targetOf(column)) {
        target->dateTimes.push_back(dayCount);
        target->nulls.append(false);
    }
}

void TDataSetLoad::integerValue(qsizetype column, qint64 value)
{
    if (TClientDataSet::Column *target = targetOf(column)) {
        target->integers.push_back(value);
        target->nulls.append(false);
    }
}

void TDataSetLoad::nullValue(qsizetype column)
{
    TClientDataSet::Column *target = targetOf(column);
    if (!target)
        return;
    switch (m_dataSet.m_fields[size_t(m_target[size_t(column)])]->DataType()) {
    case TFieldType::ftString: target->texts->append(nullptr, 0); break;
    case TFieldType::ftDateTime: target->dateTimes.push_back(0); break;
    case TFieldType::ftInteger: target->integers.push_back(0); break;
    }
    target->nulls.append(true);
}

void TDataSetLoad::endRow()
{
    ++m_records;
    checkMemory(); // as the records grow, not once a whole packet is in
}

void TDataSetLoad::endPacket()
{
    m_recordsShown = m_records;
    if (OnProgress)
        OnProgress(m_records);
}

void TDataSetLoad::rowsArriving(qsizetype rows)
{
    if (m_records + rows <= m_recordsShown)
        return;
    m_recordsShown = m_records + rows;
    if (OnProgress)
        OnProgress(m_recordsShown);
}

void TDataSetLoad::checkMemory()
{
    qint64 held = 0;
    for (const TClientDataSet::Column &column : m_columns)
        held += (column.texts ? column.texts->memoryBytes() : 0) + qint64(column.dateTimes.size() + column.integers.size()) * 8
            + column.nulls.memoryBytes();
    if (held > m_memoryLimit)
        throw EDatabaseError(QStringLiteral("A resposta do servidor de aplicação passa do limite de memória de %1 MiB "
                                            "deste computador (%2 registros recebidos).")
                                 .arg(m_memoryLimit >> 20)
                                 .arg(m_records));
}

TClientDataSet::Column *TDataSetLoad::targetOf(qsizetype column)
{
    if (column >= qsizetype(m_target.size()))
        return nullptr;
    const int field = m_target[size_t(column)];
    return field < 0 ? nullptr : &m_columns[size_t(field)];
}

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
    return m_dataSet->m_columns[size_t(m_index)].nulls.at(m_dataSet->m_current);
}

AnsiString TField::AsString() const
{
    if (IsNull())
        return AnsiString();
    switch (m_type) {
    case TFieldType::ftString: return AnsiString(m_dataSet->textAt(m_index, m_dataSet->m_current));
    case TFieldType::ftDateTime: return Ansi::fromUnicode(DateTimeToStr(AsDateTime()));
    case TFieldType::ftInteger: return std::to_string(AsInteger());
    }
    return AnsiString();
}

std::string_view TField::AsBytes() const
{
    if (m_type != TFieldType::ftString)
        throw EDatabaseError(QStringLiteral("Campo '%1' não é texto.").arg(m_name));
    return IsNull() ? std::string_view() : m_dataSet->textAt(m_index, m_dataSet->m_current);
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
    m_textFilePlaces.emplace_back();
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
    TDataSetLoad load(*this);
    SetData(load, packet);
}

void TClientDataSet::SetData(TDataSetLoad &load, const QByteArray &finalPacket)
{
    Q_ASSERT(&load.m_dataSet == this);
    try {
        protocol::readDataPacket(finalPacket, load);
    } catch (const protocol::ProtocolError &failure) {
        throw EDatabaseError(QStringLiteral("Pacote de dados inválido: %1").arg(QString::fromUtf8(failure.what())));
    }
    take(load);
}

void TClientDataSet::KeepTextsInFile(const TField &field, const QString &directory, const QByteArray &terminator,
                                     const QString &shownAs)
{
    Q_ASSERT(field.m_dataSet == this && field.DataType() == TFieldType::ftString && !directory.isEmpty());
    m_textFilePlaces[size_t(field.m_index)] = { directory, terminator, shownAs };
}

TextFile *TClientDataSet::TextFileOf(const TField &field) const
{
    return dynamic_cast<TextFile *>(m_columns[size_t(field.m_index)].texts.get());
}

std::unique_ptr<TextStore> TClientDataSet::newTextStore(int field) const
{
    const TextFilePlace &place = m_textFilePlaces[size_t(field)];
    if (place.directory.isEmpty())
        return std::make_unique<TextArena>();
    try {
        return std::make_unique<TextFile>(place.directory, place.terminator, place.shownAs);
    } catch (const EInOutError &) {
    }
    try {
        auto file = std::make_unique<TextFile>(QDir::tempPath(), place.terminator, place.shownAs);
        file->removeName(); // storage only: it never becomes a file of its own
        return file;
    } catch (const EInOutError &) {
    }
    return std::make_unique<TextArena>();
}

void TClientDataSet::take(TDataSetLoad &load)
{
    for (Column &column : load.m_columns) {
        if (column.texts)
            column.texts->finish();
    }
    m_columns = std::move(load.m_columns);
    m_recordCount = load.m_records;
    load.m_columns.clear();
    load.m_records = 0;
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
        if (m_columns[size_t(field->m_index)].nulls.at(record))
            continue;
        const std::string_view candidate = textAt(field->m_index, record);
        const bool same = caseInsensitive ? Ansi::sameTextIgnoringCase(candidate, value) : candidate == value;
        if (same) {
            m_current = record;
            return true;
        }
    }
    return false;
}

std::string_view TClientDataSet::textAt(int field, qsizetype record) const
{
    return m_columns[size_t(field)].texts->at(record);
}
