#pragma once

#include <QByteArray>
#include <QByteArrayView>
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
    // that it is not moved as it grows. `headRoom`: bytes kept free ahead of the
    // packet for the message around it (finishWithin). `buffer`: memory of a packet
    // spent, written over.
    explicit DataPacketWriter(const QList<FieldDesc> &fields, qsizetype capacity = 0, qsizetype headRoom = 0,
                              QByteArray buffer = {});
    void addString(QByteArrayView bytes);
    // A string value composed in place: up to `room` bytes written from the pointer
    // returned, then endString() with the end of what was written. Nothing else is
    // added in between.
    char *beginString(qsizetype room);
    void endString(const char *end);
    void addDateTime(double dayCount);
    void addInteger(qint64 value);
    void addNull();
    // The bytes written so far.
    qsizetype size() const { return m_bytes.size() - m_headRoom; }
    // The encoded packet; the last row must be complete.
    QByteArray finish();
    // The same with `head` written just before it and `tail` appended, in one buffer
    // that starts `lead` bytes before the head, left for the caller to fill; the
    // packet moves when the head room cannot hold the lead and the head.
    QByteArray finishWithin(qsizetype lead, QByteArrayView head, QByteArrayView tail);

private:
    void beforeValue();
    void afterValue();

    QByteArray m_bytes;
    qsizetype m_headRoom;
    qsizetype m_columns;
    qsizetype m_column = 0;
    qsizetype m_stringAt = -1; // where the head of the string being composed goes
    qsizetype m_stringHead = 0; // the bytes kept for it
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

// Decodes the packet the bytes start with, streaming into the sink; the bytes it
// takes. A text of one piece reaches the sink where it lies in the bytes. Throws
// ProtocolError on a malformed packet, a value of another type than its field's,
// or a row of the wrong length.
qsizetype readDataPacketFrom(QByteArrayView bytes, DataPacketSink &sink);
// The same for a packet that is the whole of `packet`: anything after it is refused.
void readDataPacket(const QByteArray &packet, DataPacketSink &sink);

} // namespace protocol
