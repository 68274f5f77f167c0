#include "protocol/arrivingrows.h"

#include <QCborStreamReader>
#include <QString>
#include <algorithm>

namespace protocol {

namespace {

// What ends a reading short: the bytes have not arrived yet, or they are no packet.
struct NotArrived {};
struct NotCounted {};

void check(QCborStreamReader &reader)
{
    const QCborError error = reader.lastError();
    if (error == QCborError::EndOfFile)
        throw NotArrived {};
    if (error != QCborError::NoError)
        throw NotCounted {};
}

QCborStreamReader readerOver(QByteArrayView bytes)
{
    return QCborStreamReader(QByteArray::fromRawData(bytes.data(), bytes.size()));
}

// Steps over the current item without copying its strings.
void skipItem(QCborStreamReader &reader, int depth)
{
    check(reader);
    if (depth > ArrivingRows::kNestingLimit)
        throw NotCounted {};
    if (reader.isString() || reader.isByteArray()) {
        char none;
        auto chunk = reader.readStringChunk(&none, 0);
        while (chunk.status == QCborStreamReader::Ok)
            chunk = reader.readStringChunk(&none, 0);
        check(reader);
    } else if (reader.isContainer()) {
        reader.enterContainer();
        check(reader);
        while (reader.hasNext())
            skipItem(reader, depth + 1);
        check(reader);
        reader.leaveContainer();
        check(reader);
    } else if (reader.isTag()) {
        reader.next(); // onto the tagged item
        skipItem(reader, depth + 1);
    } else if (reader.isValid()) {
        reader.next();
        check(reader);
    } else {
        throw NotCounted {};
    }
}

QString readKey(QCborStreamReader &reader)
{
    check(reader);
    if (!reader.isString())
        throw NotCounted {};
    QString key;
    auto chunk = reader.readString();
    while (chunk.status == QCborStreamReader::Ok) {
        key += chunk.data;
        chunk = reader.readString();
    }
    check(reader);
    return key;
}

void enterMap(QCborStreamReader &reader)
{
    check(reader);
    if (!reader.isMap())
        throw NotCounted {};
    reader.enterContainer();
    check(reader);
}

// Reads the map's entries up to the value of `wanted`; false when the map has none.
bool findKey(QCborStreamReader &reader, QLatin1String wanted)
{
    enterMap(reader);
    while (reader.hasNext()) {
        if (readKey(reader) == wanted)
            return true;
        skipItem(reader, 0);
    }
    check(reader);
    return false;
}

} // namespace

qsizetype ArrivingRows::count(QByteArrayView arrived)
{
    if (m_stage == Stage::Head)
        findRows(arrived);
    if (m_stage == Stage::Rows)
        countRows(arrived);
    return m_rows;
}

void ArrivingRows::findRows(QByteArrayView arrived)
{
    QCborStreamReader reader = readerOver(arrived.first(std::min(arrived.size(), kHeadLimit)));
    try {
        // A part's packet (a part's first key), or the final response's.
        enterMap(reader);
        bool found = false;
        for (bool first = true; !found && reader.hasNext(); first = false) {
            const QString key = readKey(reader);
            if (first && key == QLatin1String("part"))
                found = true;
            else if (key == QLatin1String("result"))
                found = findKey(reader, QLatin1String("packet"));
            else
                skipItem(reader, 0);
        }
        check(reader);
        if (!found || !findKey(reader, QLatin1String("rows")))
            throw NotCounted {};
        check(reader);
        if (!reader.isArray())
            throw NotCounted {};
        m_lengthKnown = reader.isLengthKnown();
        m_rowsLeft = m_lengthKnown ? reader.length() : 0;
        reader.enterContainer();
        check(reader);
    } catch (const NotArrived &) {
        if (arrived.size() > kHeadLimit)
            m_stage = Stage::Done;
        return;
    } catch (const NotCounted &) {
        m_stage = Stage::Done;
        return;
    }
    m_nextRow = qsizetype(reader.currentOffset());
    m_stage = Stage::Rows;
}

void ArrivingRows::countRows(QByteArrayView arrived)
{
    constexpr char kBreak = char(0xFF); // ends an array of unstated length
    while (m_nextRow < arrived.size()) {
        if (m_lengthKnown ? m_rowsLeft == 0 : arrived.at(m_nextRow) == kBreak) {
            m_stage = Stage::Done;
            return;
        }
        // Each row is a whole item of its own, read from where it begins.
        QCborStreamReader row = readerOver(arrived.sliced(m_nextRow));
        try {
            check(row);
            if (!row.isArray())
                throw NotCounted {};
            skipItem(row, 0);
        } catch (const NotArrived &) {
            return;
        } catch (const NotCounted &) {
            m_stage = Stage::Done;
            return;
        }
        m_nextRow += qsizetype(row.currentOffset());
        ++m_rows;
        if (m_lengthKnown)
            --m_rowsLeft;
    }
}

} // namespace protocol
