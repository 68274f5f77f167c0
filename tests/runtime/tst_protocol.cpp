// The wire format and the record set that a data packet is decoded into.
#include "protocol/datapacket.h"
#include "protocol/frame.h"
#include "protocol/message.h"
#include "protocol/protocolerror.h"
#include "runtime/core/clientdataset.h"
#include "runtime/core/exceptions.h"
#include "runtime/core/nullmarks.h"
#include "runtime/core/textarena.h"
#include "runtime/core/textfile.h"

#include <QCborMap>
#include <QCborValue>
#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace protocol;

namespace {

QByteArray languagesPacket(const QList<QByteArrayList> &rows, const QList<FieldDesc> &fields = {
                               { QStringLiteral("IDIDIOMA"), FieldKind::String, 3 },
                               { QStringLiteral("DSIDIOMA"), FieldKind::String, 30 } })
{
    DataPacketWriter writer(fields);
    for (const QByteArrayList &row : rows) {
        for (const QByteArray &value : row) {
            if (value.isNull())
                writer.addNull();
            else
                writer.addString(value);
        }
    }
    return writer.finish();
}

void declareLanguages(TClientDataSet &set)
{
    set.AddField(QStringLiteral("IDIDIOMA"), TFieldType::ftString, 3);
    set.AddField(QStringLiteral("DSIDIOMA"), TFieldType::ftString, 30);
}

// The bytes with one piece replaced by another.
QByteArray spliced(QByteArray bytes, const QByteArray &piece, const QByteArray &replacement)
{
    return bytes.replace(piece, replacement);
}

QByteArray text(const QByteArray &utf8)
{
    return char(0x60 + utf8.size()) + utf8; // a short definite-length text, bytes as given
}

QByteArrayList values(TClientDataSet &set, const QString &field)
{
    QByteArrayList result;
    for (set.First(); !set.Eof(); set.Next())
        result << QByteArray::fromStdString(set.FieldByName(field)->AsString());
    return result;
}

// A packet of a text, a day count and an integer field with the given rows array.
QByteArray packetWithRows(const QByteArray &rows)
{
    DataPacketWriter writer({ { QStringLiteral("S"), FieldKind::String, 10 },
                              { QStringLiteral("D"), FieldKind::DateTime, 0 },
                              { QStringLiteral("I"), FieldKind::Integer, 0 } });
    return writer.finish().chopped(2) + rows; // without its empty rows array
}

// The values a packet delivers, as text: a row's values, then "/".
class Trace : public DataPacketSink
{
public:
    QStringList seen;
    void fields(const QList<FieldDesc> &) override {}
    void stringValue(qsizetype, QByteArrayView bytes) override { seen << QString::fromLatin1(bytes); }
    void dateTimeValue(qsizetype, double dayCount) override { seen << QString::number(dayCount); }
    void integerValue(qsizetype, qint64 value) override { seen << QString::number(value); }
    void nullValue(qsizetype) override { seen << QStringLiteral("null"); }
    void endRow() override { seen << QStringLiteral("/"); }
};

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    // Frames cut byte by byte; meanwhile the frame on its way shows what of its
    // payload has arrived, nothing before its header is whole.
    void framesArriveInPieces()
    {
        const QByteArrayList sent { "first", "", "third" };
        QByteArray stream;
        for (const QByteArray &payload : sent)
            stream += frameOf(payload);
        FrameReader reader;
        QByteArrayList payloads;
        qsizetype frameStart = 0;
        for (qsizetype at = 0; at < stream.size(); ++at) {
            reader.append(stream.mid(at, 1));
            QByteArray payload;
            while (reader.next(payload)) {
                payloads << payload;
                frameStart += 4 + payload.size();
            }
            const qsizetype arrived = at + 1 - frameStart;
            const QByteArray expected = arrived < 4 ? QByteArray() : stream.mid(frameStart + 4, arrived - 4);
            QCOMPARE(reader.arrivingPayload().toByteArray(), expected);
        }
        QCOMPARE(payloads, sent);
    }

    // Frames read from a device in reads of any size: frames longer than a read,
    // several in one read, and the buffer reused once all was consumed. Taken as
    // they come, no read goes past the frame on its way: nothing is left to move.
    void framesReadFromADevice_data()
    {
        QTest::addColumn<QList<qsizetype>>("sizes");
        QTest::addColumn<bool>("takenAsTheyCome");
        const qsizetype read = FrameReader::kReadSize;
        for (const bool taken : { false, true }) {
            const char *how = taken ? ", taken as they come" : ", taken at the end";
            QTest::addRow("small ones%s", how) << QList<qsizetype> { 3, 0, 10 } << taken;
            QTest::addRow("longer than a read%s", how) << QList<qsizetype> { read * 3 + 7, 5, read * 2 } << taken;
            QTest::addRow("each ending at a read's edge%s", how) << QList<qsizetype> { read - 4, read - 4, 1 } << taken;
        }
    }
    void framesReadFromADevice()
    {
        QFETCH(QList<qsizetype>, sizes);
        QFETCH(bool, takenAsTheyCome);
        QByteArray stream;
        QByteArrayList sent;
        for (qsizetype i = 0; i < sizes.size(); ++i) {
            sent << QByteArray(sizes.at(i), char('a' + i));
            stream += frameOf(sent.last());
        }
        for (const qsizetype piece : { qsizetype(1000), FrameReader::kReadSize, stream.size() }) {
            FrameReader reader;
            QByteArrayList received;
            for (qsizetype at = 0; at < stream.size(); at += piece) {
                QBuffer device;
                device.setData(stream.mid(at, piece));
                device.open(QIODevice::ReadOnly);
                QByteArrayView payload;
                while (!device.atEnd()) {
                    QVERIFY(reader.readFrom(device) > 0);
                    while (takenAsTheyCome && reader.next(payload)) {
                        received << payload.toByteArray();
                        QCOMPARE(reader.buffered(), 0);
                    }
                }
                while (reader.next(payload))
                    received << payload.toByteArray();
            }
            QCOMPARE(received, sent);
        }
    }

    void oversizedFrameRefusedBeforeItArrives()
    {
        FrameReader reader(1024);
        reader.append(QByteArray::fromHex("00000401"));
        QByteArray payload;
        QVERIFY_THROWS_EXCEPTION(ProtocolError, reader.next(payload));
    }

    void frameLengthsThatDoNotFitAreRefused_data()
    {
        QTest::addColumn<qint64>("length");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<QByteArray>("header"); // empty: refused
        QTest::newRow("empty") << qint64(0) << kFrameLengthLimit << QByteArray::fromHex("00000000");
        QTest::newRow("the longest the header states") << kFrameLengthLimit << kFrameLengthLimit << QByteArray::fromHex("ffffffff");
        QTest::newRow("one byte more") << kFrameLengthLimit + 1 << kFrameLengthLimit << QByteArray();
        QTest::newRow("a limit past the header's reach") << kFrameLengthLimit + 1 << (qint64(1) << 40) << QByteArray();
        QTest::newRow("at the sender's limit") << qint64(2000) << qint64(2000) << QByteArray::fromHex("000007d0");
        QTest::newRow("over the sender's limit") << qint64(2001) << qint64(2000) << QByteArray();
    }
    void frameLengthsThatDoNotFitAreRefused()
    {
        QFETCH(qint64, length);
        QFETCH(qint64, limit);
        QFETCH(QByteArray, header);
        if (header.isEmpty()) {
            try {
                frameHeader(length, limit);
                QFAIL("a frame header for a length that does not fit");
            } catch (const FrameTooLarge &tooLarge) {
                QCOMPARE(tooLarge.size(), length);
                QVERIFY(tooLarge.limit() <= kFrameLengthLimit);
            }
        } else {
            QCOMPARE(frameHeader(length, limit), header);
        }
    }

    void requestRoundTrip()
    {
        const Request sent { QStringLiteral("QLX02600.rdmGeraArquivo"), QStringLiteral("GetPropriedCds"),
                             { { ArgumentKind::Str, QStringLiteral("ENG"), 0 },
                               { ArgumentKind::StrRef, QStringLiteral("PRODUTO"), 0 },
                               { ArgumentKind::Date, QString(), 46357.395833333336 } } };
        const Request received = decodeRequest(encodeRequest(sent));
        QCOMPARE(received.method, sent.method);
        QCOMPARE(received.args.size(), 3);
        QCOMPARE(received.args.at(1).kind, ArgumentKind::StrRef);
        QCOMPARE(received.args.at(2).date, 46357.395833333336);
    }

    void malformedRequests_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("not CBOR") << QByteArray("\xff\xff\x00", 3);
        QTest::newRow("not a map") << QCborValue(42).toCbor();
        QTest::newRow("no method") << QCborValue(QCborMap { { QStringLiteral("object"), QStringLiteral("x") },
                                                            { QStringLiteral("args"), QCborArray() } }).toCbor();
        QTest::newRow("unknown kind") << QCborValue(QCborMap {
            { QStringLiteral("object"), QStringLiteral("x") }, { QStringLiteral("method"), QStringLiteral("m") },
            { QStringLiteral("args"), QCborArray { QCborMap { { QStringLiteral("kind"), QStringLiteral("blob") } } } } })
                                             .toCbor();
        const auto shaped = [](const QCborMap &changes) {
            QCborMap map { { QStringLiteral("object"), QStringLiteral("x") }, { QStringLiteral("method"), QStringLiteral("m") },
                           { QStringLiteral("args"), QCborArray() } };
            for (auto it = changes.begin(); it != changes.end(); ++it)
                map.insert(it.key(), it.value());
            return QCborValue(map).toCbor();
        };
        const auto argument = [&](const QString &kind, const QCborValue &value) {
            return shaped({ { QStringLiteral("args"), QCborArray { QCborMap { { QStringLiteral("kind"), kind },
                                                                             { QStringLiteral("value"), value } } } } });
        };
        QTest::newRow("args not an array") << shaped({ { QStringLiteral("args"), QStringLiteral("x") } });
        QTest::newRow("a date holding a text") << argument(QStringLiteral("date"), QStringLiteral("1"));
        QTest::newRow("a text holding a date") << argument(QStringLiteral("str"), 1.5);
        QTest::newRow("a text holding bytes") << argument(QStringLiteral("strref"), QByteArray("x"));
        QTest::newRow("too many arguments") << shaped({ { QStringLiteral("args"),
            QCborArray::fromVariantList(QVariantList(kRequestArgumentLimit + 1, QVariantMap {
                { QStringLiteral("kind"), QStringLiteral("str") }, { QStringLiteral("value"), QString() } })) } });
        QTest::newRow("a text over the bound") << argument(QStringLiteral("str"), QString(kRequestTextLimit + 1, QLatin1Char('t')));
        QTest::newRow("a text longer than the request") << shaped({}).replace(QByteArray::fromHex("616d"), QByteArray::fromHex("7a7fffffff6d"));
        QTest::newRow("invalid UTF-8 in a text") << shaped({}).replace(QByteArray::fromHex("616d"), QByteArray::fromHex("61ff"));
        // A day count the years 1 to 9999 do not hold: every backend would read it otherwise.
        const auto dateRow = [&](const char *name, double value) {
            QTest::newRow(name) << argument(QStringLiteral("date"), value);
        };
        dateRow("a NaN date", std::numeric_limits<double>::quiet_NaN());
        dateRow("an infinite date", std::numeric_limits<double>::infinity());
        dateRow("a minus infinite date", -std::numeric_limits<double>::infinity());
        dateRow("a date before year 1", kEarliestDayCount - 0.25);
        dateRow("the first moment of year 10000", kDayCountEnd);
        dateRow("the largest double", std::numeric_limits<double>::max());
        QTest::newRow("a NaN date in half precision")
            << shaped({}).replace(QByteArray::fromHex("80"),
                                  QByteArray::fromHex("81a2646b696e6464646174656576616c7565f97e00"));
        QTest::newRow("two methods") << shaped({}).replace(QByteArray::fromHex("a3"), QByteArray::fromHex("a4"))
                                        + QCborValue(QStringLiteral("method")).toCbor() + QCborValue(QStringLiteral("n")).toCbor();
        QTest::newRow("trailing bytes") << QCborValue(QCborMap { { QStringLiteral("object"), QStringLiteral("x") },
                                                                 { QStringLiteral("method"), QStringLiteral("m") },
                                                                 { QStringLiteral("args"), QCborArray() } }).toCbor() + "x";
    }
    void malformedRequests()
    {
        QFETCH(QByteArray, payload);
        QVERIFY_THROWS_EXCEPTION(ProtocolError, decodeRequest(payload));
    }

    void requestShapesAccepted_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("arguments");
        QTest::addColumn<double>("lastDate");
        const auto request = [](const QCborArray &args, const QCborMap &extra = {},
                                QCborValue::EncodingOptions options = QCborValue::NoTransformation) {
            QCborMap map = extra;
            map.insert(QStringLiteral("object"), QStringLiteral("x"));
            map.insert(QStringLiteral("method"), QStringLiteral("m"));
            map.insert(QStringLiteral("args"), args);
            return QCborValue(map).toCbor(options);
        };
        const QCborMap dateArgument { { QStringLiteral("kind"), QStringLiteral("date") },
                                      { QStringLiteral("value"), 45000.5 } };
        const QCborMap textArgument { { QStringLiteral("kind"), QStringLiteral("str") },
                                      { QStringLiteral("value"), QString(kRequestTextLimit, QLatin1Char('t')) } };
        QTest::newRow("unknown keys skipped")
            << request({ dateArgument }, { { QStringLiteral("trace"), QCborArray { QCborMap { { 1, QByteArray("b") } },
                                                                                   QCborValue(QCborTag(99), 5) } } })
            << 1 << 45000.5;
        QCborArray most;
        for (qsizetype i = 0; i + 1 < kRequestArgumentLimit; ++i)
            most.append(QCborMap { { QStringLiteral("kind"), QStringLiteral("strref") }, { QStringLiteral("value"), QString() } });
        most.append(dateArgument);
        QTest::newRow("as many arguments as allowed") << request(most) << int(kRequestArgumentLimit) << 45000.5;
        QTest::newRow("a text as long as allowed") << request({ textArgument }) << 1 << 0.0;
        QTest::newRow("a date in single precision") << request({ dateArgument }, {}, QCborValue::UseFloat) << 1 << 45000.5;
        const auto dated = [&](double value) {
            return request({ QCborMap { { QStringLiteral("kind"), QStringLiteral("date") }, { QStringLiteral("value"), value } } });
        };
        QTest::newRow("1 January of year 1") << dated(kEarliestDayCount) << 1 << kEarliestDayCount;
        QTest::newRow("the last moment of year 9999") << dated(kDayCountEnd - 1e-9) << 1 << kDayCountEnd - 1e-9;
        QTest::newRow("the day before day zero") << dated(-1.25) << 1 << -1.25;
    }
    void requestShapesAccepted()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, arguments);
        QFETCH(double, lastDate);
        const Request request = decodeRequest(payload);
        QCOMPARE(request.args.size(), arguments);
        QCOMPARE(request.args.constLast().date, lastDate);
    }

    void responseKeepsThePacketEncoded()
    {
        const QByteArray packet = languagesPacket({ { "ENG", "Ingl\xeas" } });
        const Response response = decodeResponse(encodeOkResponse(packet, { QStringLiteral("back") }));
        QVERIFY(!response.isException);
        QCOMPARE(response.refs, QStringList { QStringLiteral("back") });
        const QCborValue kept = response.result.toMap().value(QLatin1String("packet"));
        QCOMPARE(kept.tag(), QCborTag(QCborKnownTags::EncodedCbor));
        QCOMPARE(kept.taggedValue().toByteArray(), packet);
    }

    void malformedResponses_data()
    {
        QTest::addColumn<QByteArray>("payload");
        const QByteArray failure = encodeFailureResponse(QStringLiteral("Banco"), { QStringLiteral("ref") });
        const QByteArray exception = encodeExceptionResponse(QStringLiteral("EOleException"), QStringLiteral("Falhou"));
        QTest::newRow("text cut in the result") << failure.left(failure.indexOf("Banco") + 3);
        QTest::newRow("text cut in the exception") << exception.left(exception.indexOf("Falhou") + 3);
        QTest::newRow("invalid UTF-8 in the result") << spliced(failure, "Banco", "Ba\xff" "co");
        QTest::newRow("invalid UTF-8 in the exception") << spliced(exception, "Falhou", "Fa\xc3" "hou");
        QTest::newRow("invalid UTF-8 in a ref") << spliced(failure, "ref", "r\xe9" "f");
        QTest::newRow("invalid UTF-8 in a key") << spliced(failure, "refs", "r\xef" "s");
        QTest::newRow("invalid UTF-8 under an unknown key")
            << QByteArray("\xa2") + text("other") + text("\xff\xfe") + failure.mid(2, failure.indexOf("refs") - 3);
        QTest::newRow("byte chunk in a chunked text") << spliced(failure, "\x63" "ref", "\x7f\x43" "ref\xff");
        QTest::newRow("chunked text never ended") << spliced(failure, "\x63" "ref", "\x7f\x63" "ref");
        QTest::newRow("exception class not a text") << spliced(exception, "\x6d" "EOleException", "\x18\x2a");
        QTest::newRow("packet cut") << encodeOkResponse(languagesPacket({ { "ENG", "English" } }).chopped(4), {});
        QTest::newRow("nothing after the map key") << QByteArray("\xa1\x66" "result");
        QTest::newRow("bytes after the response") << failure + QByteArray::fromHex("00");
        QTest::newRow("a second response after it") << exception + failure;
    }
    void malformedResponses()
    {
        QFETCH(QByteArray, payload);
        QVERIFY_THROWS_EXCEPTION(ProtocolError, decodeResponse(payload));
    }

    void everyCutOfAResponseIsRefused_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("ok") << encodeOkResponse(languagesPacket({ { "ENG", "Ingl\xeas" } }), { QStringLiteral("é") });
        QTest::newRow("failure") << encodeFailureResponse(QStringLiteral("Tabela não cadastrada."), { QStringLiteral("x") });
        QTest::newRow("exception") << encodeExceptionResponse(QStringLiteral("EOleException"), QStringLiteral("Método"));
    }
    void everyCutOfAResponseIsRefused()
    {
        QFETCH(QByteArray, payload);
        decodeResponse(payload);
        for (qsizetype length = 0; length < payload.size(); ++length)
            QVERIFY_THROWS_EXCEPTION(ProtocolError, decodeResponse(payload.left(length)));
    }

    void recordSetLoadsAPacket()
    {
        TClientDataSet set;
        declareLanguages(set);
        QVERIFY(set.IsEmpty());
        // Fields in another order, and one the set does not declare.
        DataPacketWriter writer({ { QStringLiteral("EXTRA"), FieldKind::Integer, 0 },
                                  { QStringLiteral("DSIDIOMA"), FieldKind::String, 30 },
                                  { QStringLiteral("IDIDIOMA"), FieldKind::String, 3 } });
        writer.addInteger(7), writer.addString("Ingl\xeas"), writer.addString("ENG");
        writer.addInteger(8), writer.addNull(), writer.addString("ESP");
        writer.addInteger(9), writer.addString("INGL\xcaS"), writer.addString("eng");
        set.SetData(writer.finish());
        QCOMPARE(set.RecordCount(), 3);
        QCOMPARE(values(set, QStringLiteral("IDIDIOMA")), (QByteArrayList { "ENG", "ESP", "eng" }));
        set.First();
        set.Next();
        QVERIFY(set.FieldByName(QStringLiteral("DSIDIOMA"))->IsNull());
        // Whole value, case ignored, first match in record order.
        QVERIFY(set.Locate(QStringLiteral("DSIDIOMA"), "ingl\xeas", true));
        QCOMPARE(set.FieldByName(QStringLiteral("IDIDIOMA"))->AsString(), AnsiString("ENG"));
        QVERIFY(!set.Locate(QStringLiteral("DSIDIOMA"), "Ingl", true));
        QCOMPARE(set.FieldByName(QStringLiteral("IDIDIOMA"))->AsString(), AnsiString("ENG"));
    }

    void refusedPacketKeepsEarlierContent_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::newRow("declared field missing")
            << languagesPacket({ { "ENG" } }, { { QStringLiteral("IDIDIOMA"), FieldKind::String, 3 } });
        QTest::newRow("declared field of another type")
            << [] {
                   DataPacketWriter writer({ { QStringLiteral("IDIDIOMA"), FieldKind::String, 3 },
                                             { QStringLiteral("DSIDIOMA"), FieldKind::Integer, 0 } });
                   writer.addString("ENG"), writer.addInteger(1);
                   return writer.finish();
               }();
        QTest::newRow("text over the declared size") << languagesPacket({ { "ENGL", "English" } });
        QTest::newRow("truncated") << languagesPacket({ { "ENG", "English" } }).chopped(3);
        QTest::newRow("row too short") << [] {
            DataPacketWriter writer({ { QStringLiteral("IDIDIOMA"), FieldKind::String, 3 },
                                      { QStringLiteral("DSIDIOMA"), FieldKind::String, 30 } });
            writer.addString("ENG");
            return writer.finish();
        }();
    }
    void refusedPacketKeepsEarlierContent()
    {
        QFETCH(QByteArray, packet);
        TClientDataSet set;
        declareLanguages(set);
        set.SetData(languagesPacket({ { "POR", "Portugu\xeas" } }));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, set.SetData(packet));
        QCOMPARE(values(set, QStringLiteral("DSIDIOMA")), QByteArrayList { "Portugu\xeas" });
    }

    // Both stores of a column's texts: in memory, or in a file each followed by
    // a terminator (the file then holds exactly the texts as lines).
    void textStoresKeepEveryText_data()
    {
        QTest::addColumn<bool>("inFile");
        QTest::addColumn<QList<qsizetype>>("sizes");
        const qsizetype chunk = TextStore::kLongestText;
        for (const bool inFile : { false, true }) {
            const QByteArray where = inFile ? "file: " : "memory: ";
            QTest::newRow(where + "empty texts") << inFile << QList<qsizetype> { 0, 0, 5, 0 };
            QTest::newRow(where + "the longest text") << inFile << QList<qsizetype> { chunk, 1, chunk };
            QTest::newRow(where + "a text that does not fit moves on") << inFile << QList<qsizetype> { chunk - 3, 4, 0, 3 };
            QTest::newRow(where + "filled to the byte, then empty") << inFile << QList<qsizetype> { chunk - 1, 1, 0, 0, 2 };
            QTest::newRow(where + "past an index block")
                << inFile << QList<qsizetype>(std::max(TextArena::kIndexBlock, TextFile::kIndexBlock) * 2 + 3, 4000);
            QTest::newRow(where + "past the index blocks kept in memory")
                << inFile << QList<qsizetype>((TextFile::kCachedIndexBlocks + 2) * TextFile::kIndexBlock + 1, 3);
        }
    }
    void textStoresKeepEveryText()
    {
        QFETCH(bool, inFile);
        QFETCH(QList<qsizetype>, sizes);
        const auto textOf = [](qsizetype index, qsizetype size) {
            return std::string(size_t(size), char('a' + index % 26));
        };
        QTemporaryDir directory;
        std::unique_ptr<TextStore> store;
        if (inFile)
            store = std::make_unique<TextFile>(directory.path(), QByteArrayLiteral("\r\n"));
        else
            store = std::make_unique<TextArena>();
        qint64 total = 0;
        QByteArray lines;
        for (qsizetype i = 0; i < sizes.size(); ++i) {
            const std::string text = textOf(i, sizes.at(i));
            store->append(text.data(), qsizetype(text.size()));
            total += sizes.at(i);
            lines += QByteArray::fromStdString(text) + "\r\n";
        }
        store->finish();
        QCOMPARE(store->count(), sizes.size());
        for (qsizetype i = 0; i < sizes.size(); ++i)
            QVERIFY2(store->at(i) == textOf(i, sizes.at(i)), qPrintable(QString::number(i)));
        for (qsizetype i = sizes.size() - 1; i >= 0; --i) // backwards, past every read window
            QVERIFY2(store->at(i) == textOf(i, sizes.at(i)), qPrintable(QString::number(i)));
        for (qsizetype step = 0, i = 0; step < sizes.size(); ++step, i = (i + 7919) % sizes.size()) // scattered
            QVERIFY2(store->at(i) == textOf(i, sizes.at(i)), qPrintable(QString::number(i)));
        if (!inFile) {
            QVERIFY(store->memoryBytes() >= total);
            return;
        }
        QFile file(QStringLiteral("/proc/self/fd/%1").arg(static_cast<TextFile &>(*store).descriptor()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == lines);
        // Memory holds one window and a few index blocks, never the texts nor the whole index.
        const qsizetype blocks = sizes.size() / TextFile::kIndexBlock + 1;
        QVERIFY(store->memoryBytes()
                <= TextFile::kBufferSize + (TextFile::kCachedIndexBlocks + 1) * TextFile::kIndexBlock * 4 + 8 * blocks);
    }

    void nullMarksHoldEveryRecord_data()
    {
        QTest::addColumn<qsizetype>("records");
        QTest::addColumn<QList<qsizetype>>("nulls");
        const qsizetype stretch = NullMarks::kStretch;
        QTest::newRow("none") << 2 * stretch + 5 << QList<qsizetype> {};
        QTest::newRow("at the edges of stretches") << 2 * stretch + 5 << QList<qsizetype> { 0, stretch - 1, stretch, 2 * stretch + 4 };
        QTest::newRow("every record") << qsizetype(130) << [] {
            QList<qsizetype> all;
            for (qsizetype record = 0; record < 130; ++record)
                all << record;
            return all;
        }();
    }
    void nullMarksHoldEveryRecord()
    {
        QFETCH(qsizetype, records);
        QFETCH(QList<qsizetype>, nulls);
        NullMarks marks;
        for (qsizetype record = 0; record < records; ++record)
            marks.append(nulls.contains(record));
        QCOMPARE(marks.count(), records);
        for (qsizetype record = 0; record < records; ++record)
            QVERIFY2(marks.at(record) == nulls.contains(record), qPrintable(QString::number(record)));
        QVERIFY(!marks.at(records)); // past the last record, as for a stretch never marked
        if (nulls.isEmpty())
            QCOMPARE(marks.memoryBytes(), 0); // nothing held a record
    }

    // A text's length in its head or in the 1, 2, 4 or 8 bytes after it, or a text in
    // chunks: each loads the same, and every cut of it is refused.
    void textsLoadWhateverTheirHead_data()
    {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QByteArray>("value");
        const QByteArray long300(300, 'L');
        QTest::newRow("in the head") << QByteArray::fromHex("45") + "abcde" << QByteArray("abcde");
        QTest::newRow("empty") << QByteArray::fromHex("40") << QByteArray("");
        QTest::newRow("one byte") << QByteArray::fromHex("581e") + QByteArray(30, 'o') << QByteArray(30, 'o');
        QTest::newRow("two bytes") << QByteArray::fromHex("59012c") + long300 << long300;
        QTest::newRow("four bytes") << QByteArray::fromHex("5a00000003") + "xyz" << QByteArray("xyz");
        QTest::newRow("eight bytes") << QByteArray::fromHex("5b0000000000000002e9ea") << QByteArray::fromHex("e9ea");
        QTest::newRow("in chunks") << QByteArray::fromHex("5f42") + "ab" + QByteArray::fromHex("43") + "cde" + QByteArray::fromHex("ff")
                                   << QByteArray("abcde");
    }
    void textsLoadWhateverTheirHead()
    {
        QFETCH(QByteArray, encoded);
        QFETCH(QByteArray, value);
        const QList<FieldDesc> fields { { QStringLiteral("LINHA"), FieldKind::String, 4000 } };
        const QByteArray marker = QByteArray::fromHex("46") + "MARKER";
        const QByteArray part = encodePart(languagesPacket({ { "before" }, { "MARKER" }, { "after" } }, fields));
        const QByteArray payload = QByteArray(part).replace(marker, encoded);
        QTemporaryDir directory;
        for (const bool inFile : { false, true }) {
            TClientDataSet set;
            const TField *line = set.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
            if (inFile)
                set.KeepTextsInFile(*line, directory.path(), "\r\n");
            TDataSetLoad load(set);
            QVERIFY(readPart(payload, load));
            set.SetData(load, languagesPacket({}, fields));
            QCOMPARE(values(set, QStringLiteral("LINHA")), (QByteArrayList { "before", value, "after" }));
        }
        const qsizetype at = payload.indexOf(encoded);
        for (qsizetype length = at; length < at + encoded.size(); ++length) {
            TClientDataSet set;
            set.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
            TDataSetLoad load(set);
            QVERIFY_THROWS_EXCEPTION(ProtocolError, readPart(payload.left(length), load));
        }
    }

    void textFileGoesWithItsStoreUnlessKept()
    {
        QTemporaryDir directory;
        const QString target = directory.filePath(QStringLiteral("kept.txt"));
        {
            TextFile dropped(directory.path(), QByteArrayLiteral("\n"));
            dropped.append("x", 1);
            dropped.finish();
            QVERIFY(!dropped.giveName().isEmpty());
            QCOMPARE(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        }
        QCOMPARE(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden), QStringList {});
        {
            TextFile kept(directory.path(), QByteArrayLiteral("\n"));
            kept.append("y", 1);
            kept.finish();
            QVERIFY(QFile::rename(kept.giveName(), target));
            kept.renamed(target);
            QVERIFY(kept.at(0) == "y");
        }
        QCOMPARE(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("kept.txt") });
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("y\n"));
        QVERIFY_THROWS_EXCEPTION(EInOutError, TextFile(directory.filePath(QStringLiteral("missing")), "\n"));
    }

    void partsThenTheFinalPacketLoadAsOne()
    {
        TClientDataSet set;
        declareLanguages(set);
        set.SetData(languagesPacket({ { "OLD", "Old" } }));
        TDataSetLoad load(set);
        QList<qsizetype> progress;
        load.OnProgress = [&progress](qsizetype records) { progress << records; };
        QVERIFY(readPart(encodePart(languagesPacket({ { "POR", "Portugu\xeas" }, { "ENG", QByteArray() } })), load));
        QVERIFY(readPart(encodePart(languagesPacket({ { "SPA", "Espa\xf1ol" } })), load));
        QVERIFY(!readPart(encodeOkResponse(languagesPacket({}), {}), load));
        QCOMPARE(values(set, QStringLiteral("IDIDIOMA")), QByteArrayList { "OLD" }); // nothing taken yet
        set.SetData(load, languagesPacket({ { "FRA", "Fran\xe7" "ais" } }));
        QCOMPARE(values(set, QStringLiteral("IDIDIOMA")), (QByteArrayList { "POR", "ENG", "SPA", "FRA" }));
        QCOMPARE(values(set, QStringLiteral("DSIDIOMA")), (QByteArrayList { "Portugu\xeas", "", "Espa\xf1ol", "Fran\xe7" "ais" }));
        QCOMPARE(progress, (QList<qsizetype> { 2, 3, 4 }));
    }

    // A value composed in place takes the shortest head, whatever room it was given.
    void stringsComposedInPlace_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<qsizetype>("room");
        for (const qsizetype size : { 0, 23, 24, 255, 256, 4000 }) {
            QTest::addRow("%lld in its own room", qlonglong(size)) << size << size;
            QTest::addRow("%lld in a room of 70000", qlonglong(size)) << size << qsizetype(70'000);
        }
    }
    void stringsComposedInPlace()
    {
        QFETCH(qsizetype, size);
        QFETCH(qsizetype, room);
        const QList<FieldDesc> fields { { QStringLiteral("LINHA"), FieldKind::String, 4000 } };
        const QByteArray value(size, 'v');
        DataPacketWriter copied(fields);
        copied.addString("x");
        copied.addString(value);
        DataPacketWriter composed(fields);
        composed.addString("x");
        char *at = composed.beginString(room);
        composed.endString(std::copy(value.cbegin(), value.cend(), at));
        QCOMPARE(composed.finish(), copied.finish());
    }

    // A part and the final response composed around their packets, as the frames a
    // client reads.
    void framesComposedAroundThePacket()
    {
        const QList<FieldDesc> fields { { QStringLiteral("IDIDIOMA"), FieldKind::String, 3 },
                                        { QStringLiteral("DSIDIOMA"), FieldKind::String, 30 } };
        DataPacketWriter part(fields, 0, kMessageHeadRoom);
        part.addString("POR");
        part.addString("Portugu\xeas");
        DataPacketWriter last(fields, 0, kMessageHeadRoom);
        last.addString("ENG");
        last.addString("English");
        FrameReader reader;
        reader.append(partFrame(part));
        reader.append(okResponseFrame(last, { QStringLiteral("ref") }));
        QByteArray payload;
        QVERIFY(reader.next(payload));
        QCOMPARE(payload, encodePart(languagesPacket({ { "POR", "Portugu\xeas" } })));
        QVERIFY(reader.next(payload));
        QCOMPARE(payload, encodeOkResponse(languagesPacket({ { "ENG", "English" } }), { QStringLiteral("ref") }));
        QCOMPARE(reader.buffered(), qsizetype(0));
    }

    // Rows of the usual shape and others mixed in one packet, in a rows array of
    // known or open length: each delivers its values, and every cut is refused.
    void rowShapesDecode_data()
    {
        QTest::addColumn<QByteArray>("rows");
        QTest::addColumn<QString>("values");
        const QByteArray plain = QByteArray::fromHex("8343") + "abc" + QByteArray::fromHex("fb3ff8000000000000" "07");
        const QByteArray chunked = QByteArray::fromHex("835f4161426263fff6f6"); // "a", "bc"
        const QByteArray open = QByteArray::fromHex("9f4178f6f6ff"); // "x"
        QTest::newRow("counted") << QByteArray::fromHex("82") + plain + plain << "abc 1.5 7 / abc 1.5 7 /";
        QTest::newRow("open") << QByteArray::fromHex("9f") + plain + plain + QByteArray::fromHex("ff") << "abc 1.5 7 / abc 1.5 7 /";
        QTest::newRow("a text in pieces between plain rows")
            << QByteArray::fromHex("9f") + plain + chunked + plain + QByteArray::fromHex("ff") << "abc 1.5 7 / abc null null / abc 1.5 7 /";
        QTest::newRow("an open row between plain rows, counted")
            << QByteArray::fromHex("83") + plain + open + plain << "abc 1.5 7 / x null null / abc 1.5 7 /";
        QTest::newRow("single precision, negative, long-headed integers")
            << QByteArray::fromHex("82" "8340" "fa3fc00000" "3863" "8341") + "z" + QByteArray::fromHex("f6" "1b0000000000000007")
            << " 1.5 -100 / z null 7 /";
        QTest::newRow("the least and most integers")
            << QByteArray::fromHex("82" "83f6f6" "3b7fffffffffffffff" "83f6f6" "1b7fffffffffffffff")
            << "null null -9223372036854775808 / null null 9223372036854775807 /";
        QTest::newRow("no rows") << QByteArray::fromHex("80") << "";
    }
    void rowShapesDecode()
    {
        QFETCH(QByteArray, rows);
        QFETCH(QString, values);
        const QByteArray packet = packetWithRows(rows);
        Trace whole;
        readDataPacket(packet, whole);
        QCOMPARE(whole.seen.join(QLatin1Char(' ')), values);
        Trace part;
        QVERIFY(readPart(encodePart(packet), part));
        QCOMPARE(part.seen, whole.seen);
        for (qsizetype length = packet.size() - rows.size(); length < packet.size(); ++length) {
            Trace cut;
            QVERIFY_THROWS_EXCEPTION(ProtocolError, readDataPacket(packet.left(length), cut));
        }
    }

    void malformedParts_data()
    {
        QTest::addColumn<QByteArray>("payload");
        const QByteArray packet = languagesPacket({ { "POR", "Portugu\xeas" } });
        QTest::newRow("more after the packet") << QByteArray::fromHex("a2") + QCborValue(QStringLiteral("part")).toCbor() + packet
                + QCborValue(QStringLiteral("x")).toCbor() + QCborValue(1).toCbor();
        QTest::newRow("cut short") << encodePart(packet).chopped(3);
        QTest::newRow("byte string longer than the message")
            << QByteArray::fromHex("a1") + QCborValue(QStringLiteral("part")).toCbor() + packet.left(packet.size() - 12)
                + QByteArray::fromHex("5b7fffffffffffffff");
        QTest::newRow("byte string one byte longer than the message")
            << QByteArray(encodePart(packet)).replace(QByteArray("\x49" "Portugu\xea" "s"), QByteArray("\x4b" "Portugu\xea" "s"));
        QTest::newRow("not a packet") << QByteArray::fromHex("a1") + QCborValue(QStringLiteral("part")).toCbor() + QCborValue(7).toCbor();
        QTest::newRow("bytes after the part") << encodePart(packet) + QByteArray::fromHex("00");
        QTest::newRow("open part map never ended") << QByteArray::fromHex("bf") + encodePart(packet).sliced(1);
        QTest::newRow("rows before fields")
            << QByteArray::fromHex("a1") + QCborValue(QStringLiteral("part")).toCbor() + QByteArray::fromHex("a2")
                + QCborValue(QStringLiteral("rows")).toCbor() + QByteArray::fromHex("80")
                + QCborValue(QStringLiteral("fields")).toCbor() + QByteArray::fromHex("80");
        const auto rows = [](const char *hex) { return encodePart(packetWithRows(QByteArray::fromHex(hex))); };
        QTest::newRow("a row one value longer") << rows("81" "84" "40f6f6f6");
        QTest::newRow("a row one value shorter") << rows("81" "82" "40f6");
        QTest::newRow("an open row one value longer") << rows("81" "9f" "40f6f6f6" "ff");
        QTest::newRow("an integer for a text") << rows("81" "83" "07f6f6");
        QTest::newRow("a text string for a byte string") << rows("81" "83" "6161f6f6");
        QTest::newRow("a day count in half precision") << rows("81" "83" "f6f93e00f6");
        QTest::newRow("an integer of open length") << rows("81" "83" "f6f61f");
        QTest::newRow("a byte string past the packet") << rows("81" "83" "5a7fffffff" "f6f6");
        QTest::newRow("a chunk past the packet") << rows("81" "83" "5f5a7fffffffff" "f6f6");
        QTest::newRow("counted rows ended by a break") << rows("82" "8340f6f6" "ff");
        QTest::newRow("a row that is no array") << rows("81" "07");
        QTest::newRow("a reserved head for a row") << rows("81" "9c");
    }
    void malformedParts()
    {
        QFETCH(QByteArray, payload);
        DataPacketDiscard sink;
        QVERIFY_THROWS_EXCEPTION(ProtocolError, readPart(payload, sink));
    }

    void longestLineReadWhole()
    {
        TClientDataSet set;
        set.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
        const QByteArray line(4000, 'x');
        set.SetData(languagesPacket({ { line } }, { { QStringLiteral("LINHA"), FieldKind::String, 4000 } }));
        QCOMPARE(set.FieldByName(QStringLiteral("LINHA"))->AsString().size(), size_t(4000));
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
