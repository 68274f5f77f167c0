#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QCborStreamReader>
#include <QCborStreamWriter>
#include <QList>
#include <QString>

namespace protocol {

// A data packet: {"fields": [{"name", "type", "size"}...], "rows": [[...]...]},
// values in field order; a "string" value is a byte string of Windows-1252 bytes.
enum class FieldKind { String, DateTime, Integer };

struct FieldDesc
{
    QString name;
    FieldKind kind = FieldKind::String;
    int size = 0;
};

QString kindName(FieldKind kind);

// Writes a packet row by row straight into its encoding.
class DataPacketWriter
{
public:
    // `capacity`: the bytes the packet is expected to take, allocated at once so
    // that it is not moved as it grows.
    explicit DataPacketWriter(const QList<FieldDesc> &fields, qsizetype capacity = 0);
    void addString(QByteArrayView bytes);
    void addDateTime(double dayCount);
    void addInteger(qint64 value);
    void addNull();
    // The bytes written so far.
    qsizetype size() const { return m_bytes.size(); }
    // The encoded packet; the last row must be complete.
    QByteArray finish();

private:
    void beforeValue();
    void afterValue();

    QByteArray m_bytes;
    QCborStreamWriter m_writer;
    qsizetype m_columns;
    qsizetype m_column = 0;
};

// Receives a packet as it is decoded.
class DataPacketSink
{
public:
    virtual ~DataPacketSink() = default;
    virtual void fields(const QList<FieldDesc> &fields) = 0;
    // The bytes are the decoder's or the packet's, valid only during the call.
    virtual void stringValue(qsizetype column, QByteArrayView bytes) = 0;
    virtual void dateTimeValue(qsizetype column, double dayCount) = 0;
    virtual void integerValue(qsizetype column, qint64 value) = 0;
    virtual void nullValue(qsizetype column) = 0;
    virtual void endRow() = 0;
    // The packet's last row has been delivered.
    virtual void endPacket() {}
    // Rows of the packet still on its way that have arrived whole, not yet
    // delivered: for a count of progress only.
    virtual void rowsArriving(qsizetype rows) { Q_UNUSED(rows); }
};

// Takes every value and keeps none: a packet read only to check it, or a base for
// a sink that looks at one part of it.
class DataPacketDiscard : public DataPacketSink
{
public:
    void fields(const QList<FieldDesc> &) override {}
    void stringValue(qsizetype, QByteArrayView) override {}
    void dateTimeValue(qsizetype, double) override {}
    void integerValue(qsizetype, qint64) override {}
    void nullValue(qsizetype) override {}
    void endRow() override {}
};

// Decodes a packet streaming into the sink; throws ProtocolError on a malformed
// packet, a value of another type than its field's, or a row of the wrong length.
void readDataPacket(const QByteArray &packet, DataPacketSink &sink);
// The same for the packet at the reader's position in `message`, the bytes the
// reader reads; the reader is left after the packet. A text of one piece reaches
// the sink where it lies in the message.
void readDataPacket(QCborStreamReader &reader, QByteArrayView message, DataPacketSink &sink);

} // namespace protocol
