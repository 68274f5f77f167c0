// The count of rows whole in a frame still on its way, at every cut of its bytes.
#include "protocol/arrivingrows.h"
#include "protocol/datapacket.h"
#include "protocol/message.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QTest>

#include <algorithm>
#include <limits>

using namespace protocol;

namespace {

// A message, and where each row that is to be counted ends in it.
struct Message
{
    QByteArray payload;
    QList<qsizetype> rowEnds;
};

using Row = QList<QCborValue>;

// A packet as the server writes it, a row at a time, and where its rows end.
Message writtenPacket(const QList<FieldDesc> &fields, const QList<Row> &rows)
{
    DataPacketWriter writer(fields);
    Message packet;
    for (const Row &row : rows) {
        for (const QCborValue &value : row) {
            if (value.isNull())
                writer.addNull();
            else if (value.isByteArray())
                writer.addString(value.toByteArray());
            else if (value.isDouble())
                writer.addDateTime(value.toDouble());
            else
                writer.addInteger(value.toInteger());
        }
        packet.rowEnds << writer.size();
    }
    packet.payload = writer.finish();
    return packet;
}

// The packet placed in a message whose other bytes are around it.
Message placed(const Message &packet, const QByteArray &message)
{
    const qsizetype at = message.indexOf(packet.payload);
    Q_ASSERT(at >= 0);
    Message placedPacket { message, {} };
    for (qsizetype end : packet.rowEnds)
        placedPacket.rowEnds << at + end;
    return placedPacket;
}

QByteArray text(const QString &value)
{
    return QCborValue(value).toCbor();
}

QByteArray lineFields()
{
    QCborMap field;
    field.insert(QLatin1String("name"), QLatin1String("LINHA"));
    field.insert(QLatin1String("type"), QLatin1String("string"));
    field.insert(QLatin1String("size"), 4000);
    return QCborValue(QCborArray { field }).toCbor();
}

// A part written by hand: `head` up to its rows array, the rows, then `tail`;
// the first `counted` rows are those the count is to reach.
Message handWritten(const QByteArray &head, const QByteArrayList &rows, qsizetype counted, const QByteArray &tail)
{
    Message message { head, {} };
    for (qsizetype i = 0; i < rows.size(); ++i) {
        message.payload += rows.at(i);
        if (i < counted)
            message.rowEnds << message.payload.size();
    }
    message.payload += tail;
    return message;
}

QByteArray partHead(const QByteArray &rowsHeader, char packetMap = '\xa2')
{
    return "\xa1" + text(QStringLiteral("part")) + packetMap + text(QStringLiteral("fields")) + lineFields()
        + text(QStringLiteral("rows")) + rowsHeader;
}

QByteArray line(const QByteArray &bytes)
{
    return QCborValue(QCborArray { bytes }).toCbor();
}

qsizetype expectedAt(const Message &message, qsizetype arrived)
{
    return std::count_if(message.rowEnds.cbegin(), message.rowEnds.cend(),
                         [arrived](qsizetype end) { return end <= arrived; });
}

const QList<FieldDesc> kLineField { { QStringLiteral("LINHA"), FieldKind::String, 4000 } };
const QList<FieldDesc> kThreeFields { { QStringLiteral("CDCHAVE"), FieldKind::String, 20 },
                                      { QStringLiteral("DTALTERACAO"), FieldKind::DateTime, 0 },
                                      { QStringLiteral("NRSEQ"), FieldKind::Integer, 0 } };

} // namespace

class TestArrivingRows : public QObject
{
    Q_OBJECT

private slots:
    void countsTheRowsWholeAtEveryCut_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QList<qsizetype>>("rowEnds");
        const auto add = [](const char *name, const Message &message) {
            QTest::newRow(name) << message.payload << message.rowEnds;
        };
        QList<Row> lines;
        for (int i = 0; i < 40; ++i)
            lines << Row { QCborValue(QByteArray(i % 7 * 30, char('a' + i % 26))) }; // empty ones too
        const Message linePart = writtenPacket(kLineField, lines);
        add("part of lines", placed(linePart, encodePart(linePart.payload)));
        const Message mixed = writtenPacket(kThreeFields, {
            { QByteArray("K1"), 46000.25, 7 },
            { QCborValue(nullptr), QCborValue(nullptr), QCborValue(nullptr) },
            { QByteArray("K\xe7"), -693593.0, -1 },
            { QByteArray(), 2958465.999, std::numeric_limits<qint64>::max() },
            { QByteArray(300, 'x'), 0.5, std::numeric_limits<qint64>::min() },
        });
        add("part of texts, dates, nulls and integers", placed(mixed, encodePart(mixed.payload)));
        const Message empty = writtenPacket(kLineField, {});
        add("part without rows", placed(empty, encodePart(empty.payload)));
        const Message longLine = writtenPacket(kLineField, { { QByteArray("y") }, { QByteArray(3000, 'L') }, { QByteArray("z") } });
        add("a long line over many cuts", placed(longLine, encodePart(longLine.payload)));
        add("final response", placed(mixed, encodeOkResponse(mixed.payload, { QStringLiteral("TAB1"), QStringLiteral("TAB2") })));
        add("final response without rows", placed(empty, encodeOkResponse(empty.payload, {})));
        add("failure response", { encodeFailureResponse(QStringLiteral("falhou"), { QStringLiteral("TAB") }), {} });
        add("exception", { encodeExceptionResponse(QStringLiteral("EDatabaseError"), QStringLiteral("falhou")), {} });
        // Followed by what would be a row, were the length not kept to.
        add("rows in an array of stated length",
            handWritten(partHead("\x83", '\xa3'), { line("a"), line(QByteArray(40, 'b')), line(""), line("key") }, 3,
                        text(QStringLiteral("value"))));
        // A value tagged, or nested, is still one row: the decoder refuses it later.
        add("rows with tags and nesting",
            handWritten(partHead("\x9f"), { QByteArray::fromHex("81c11a00010000"), QByteArray::fromHex("8181814178"), line("c") },
                        3, "\xff"));
    }
    void countsTheRowsWholeAtEveryCut()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QList<qsizetype>, rowEnds);
        const Message message { payload, rowEnds };
        ArrivingRows resumed;
        for (qsizetype arrived = 0; arrived <= payload.size(); ++arrived) {
            const QByteArrayView prefix = QByteArrayView(payload).first(arrived);
            ArrivingRows inOneGo;
            QCOMPARE(inOneGo.count(prefix), expectedAt(message, arrived));
            QCOMPARE(resumed.count(prefix), expectedAt(message, arrived));
        }
    }

    // Fed in steps of any size, the count at each step is that of the bytes so far.
    void countsInGrowingSteps()
    {
        QList<Row> lines;
        for (int i = 0; i < 500; ++i)
            lines << Row { QCborValue(QByteArray(i % 13 * 11, 'q')) };
        const Message part = writtenPacket(kLineField, lines);
        const Message message = placed(part, encodePart(part.payload));
        for (const qsizetype step : { 2, 7, 64, 999, 4096 }) {
            ArrivingRows counter;
            for (qsizetype arrived = step;; arrived += step) {
                arrived = std::min(arrived, message.payload.size());
                QCOMPARE(counter.count(QByteArrayView(message.payload).first(arrived)), expectedAt(message, arrived));
                if (arrived == message.payload.size())
                    break;
            }
            QCOMPARE(counter.count(message.payload), qsizetype(lines.size()));
        }
    }

    // Malformed bytes stop the count where they begin; later rows are not counted.
    void stopsAtWhatIsNoPacket_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QList<qsizetype>>("rowEnds");
        const auto add = [](const char *name, const Message &message) {
            QTest::newRow(name) << message.payload << message.rowEnds;
        };
        const QByteArrayList rows { line("a"), line("b") };
        add("a row that is no array", handWritten(partHead("\x9f"), { line("a"), QByteArray::fromHex("05"), line("c") }, 1, "\xff"));
        add("a reserved byte in a row", handWritten(partHead("\x9f"), { line("a"), QByteArray::fromHex("81fc"), line("c") }, 1, "\xff"));
        add("a break inside a row of stated length", handWritten(partHead("\x9f"), { line("a"), QByteArray::fromHex("824178ff"), line("c") }, 1, "\xff"));
        add("a row nested too deep",
            handWritten(partHead("\x9f"), { line("a"), QByteArray(ArrivingRows::kNestingLimit + 2, '\x81') + "\x01", line("c") }, 1, "\xff"));
        add("a message that is no map", handWritten("\x82" + text(QStringLiteral("part")) + "\x9f", rows, 0, "\xff"));
        add("a key that is no text", handWritten("\xa1\x01\xa2" + text(QStringLiteral("fields")) + lineFields()
                                                     + text(QStringLiteral("rows")) + "\x9f", rows, 0, "\xff"));
        add("a part after another key", handWritten("\xa2" + text(QStringLiteral("x")) + "\x01" + partHead("\x9f").mid(1), rows, 0, "\xff"));
        add("a part that is no map", handWritten("\xa1" + text(QStringLiteral("part")) + "\x9f", rows, 0, "\xff"));
        add("rows that are no array", handWritten("\xa1" + text(QStringLiteral("part")) + "\xa1" + text(QStringLiteral("rows"))
                                                      + "\xbf", rows, 0, "\xff"));
        add("a packet without rows", handWritten("\xa1" + text(QStringLiteral("part")) + "\xa1" + text(QStringLiteral("fields")),
                                                 { lineFields() }, 0, ""));
        const QByteArray longStart = "\xa2" + text(QStringLiteral("padding"))
            + QCborValue(QByteArray(ArrivingRows::kHeadLimit, 'p')).toCbor() + partHead("\x9f").mid(1);
        add("a start longer than the limit", handWritten(longStart, rows, 0, "\xff"));
    }
    void stopsAtWhatIsNoPacket()
    {
        countsTheRowsWholeAtEveryCut();
    }
};

QTEST_GUILESS_MAIN(TestArrivingRows)
#include "tst_arrivingrows.moc"
