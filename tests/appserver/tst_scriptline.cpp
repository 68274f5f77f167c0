// One translation's script line: texts from the database's UTF-8 to Windows-1252,
// the moment as a day count that SQLite reads back exactly or as a timestamp
// literal, and the moments no line can carry.
#include "appserver/remoteobject/scriptline.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sqlite3.h>

namespace {

Translation translationAt(double changedAt, std::string_view text = "x")
{
    return { "UNIDADE", "K", "DS", "ENG", text, changedAt };
}

// What follows the text in the line: ", <moment>) ON CONFLICT".
QByteArray momentOf(const QByteArray &line)
{
    const qsizetype start = line.indexOf("', ", line.indexOf("'ENG', ") + 7) + 3;
    return line.mid(start, line.indexOf(") ON CONFLICT") - start);
}

QByteArray lineOf(double changedAt, ScriptDialect dialect)
{
    QByteArray line;
    if (writeScriptLine(line, translationAt(changedAt), dialect) != LineFault::None)
        return "(no line)";
    return line;
}

// The timestamp Qt's calendar gives for a day count rounded to the microsecond.
QByteArray qtTimestamp(double dayCount)
{
    const double whole = std::floor(dayCount);
    const qint64 micro = std::llround((dayCount - whole) * 86'400e6);
    const QDateTime moment = QDate(1899, 12, 30).addDays(qint64(whole)).startOfDay(Qt::UTC).addMSecs(micro / 1000);
    QByteArray text = "TIMESTAMP '" + moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1();
    if (micro % 1'000'000)
        text += '.' + QByteArray::number(micro % 1'000'000).rightJustified(6, '0');
    return text + '\'';
}

} // namespace

class TestScriptLine : public QObject
{
    Q_OBJECT

private slots:
    void dayCounts_data()
    {
        QTest::addColumn<double>("dayCount");
        QTest::addColumn<QByteArray>("sqlite");
        QTest::addColumn<QByteArray>("postgresql");
        QTest::newRow("whole day") << 100.0 << QByteArray("100") << QByteArray("TIMESTAMP '1900-04-09 00:00:00'");
        QTest::newRow("17 digits, not the shortest") << 46000.1 << QByteArray("46000.099999999999")
                                                     << QByteArray("TIMESTAMP '2025-12-09 02:24:00'");
        QTest::newRow("time of day") << 46000.0 + 13.0 / 24 << QByteArray("46000.541666666664")
                                     << QByteArray("TIMESTAMP '2025-12-09 13:00:00'");
        QTest::newRow("binary fraction, few digits") << 45000.0078125 << QByteArray("45000.0078125")
                                                     << QByteArray("TIMESTAMP '2023-03-15 00:11:15'");
        QTest::newRow("microseconds") << 46400.123456 << QByteArray("46400.123456000001")
                                      << QByteArray("TIMESTAMP '2027-01-13 02:57:46.598400'");
        QTest::newRow("leap day") << 36585.75 << QByteArray("36585.75") << QByteArray("TIMESTAMP '2000-02-29 18:00:00'");
        QTest::newRow("day 61 is 1 March 1900") << 61.0 << QByteArray("61") << QByteArray("TIMESTAMP '1900-03-01 00:00:00'");
        QTest::newRow("before the epoch") << -1.25 << QByteArray("-1.25") << QByteArray("TIMESTAMP '1899-12-28 18:00:00'");
        QTest::newRow("first writable day") << -693593.0 << QByteArray("-693593")
                                            << QByteArray("TIMESTAMP '0001-01-01 00:00:00'");
        QTest::newRow("last writable microsecond") << 2958466.0 - 1e-9 << QByteArray("2958465.9999999991")
                                                   << QByteArray("TIMESTAMP '9999-12-31 23:59:59.999920'");
        QTest::newRow("microsecond rounds into the next day") << std::nextafter(100.0, 0.0) << QByteArray("99.999999999999986")
                                                              << QByteArray("TIMESTAMP '1900-04-09 00:00:00'");
        QTest::newRow("seconds after day 0, with an exponent") << 1e-5 << QByteArray("1.0000000000000001e-05")
                                                                << QByteArray("TIMESTAMP '1899-12-30 00:00:00.864000'");
        QTest::newRow("binary fraction below a thousandth") << 0.000244140625 << QByteArray("0.000244140625")
                                                              << QByteArray("TIMESTAMP '1899-12-30 00:00:21.093750'");
        QTest::newRow("negative zero") << -0.0 << QByteArray("-0") << QByteArray("TIMESTAMP '1899-12-30 00:00:00'");
    }
    void dayCounts()
    {
        QFETCH(double, dayCount);
        QFETCH(QByteArray, sqlite);
        QFETCH(QByteArray, postgresql);
        QCOMPARE(momentOf(lineOf(dayCount, ScriptDialect::SQLite)), sqlite);
        QCOMPARE(momentOf(lineOf(dayCount, ScriptDialect::PostgreSQL)), postgresql);
    }

    void momentsNoLineCanCarry_data()
    {
        QTest::addColumn<double>("dayCount");
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("+Inf") << std::numeric_limits<double>::infinity();
        QTest::newRow("-Inf") << -std::numeric_limits<double>::infinity();
        QTest::newRow("huge") << 1e300;
        QTest::newRow("past a 64-bit day number") << 1e19;
        QTest::newRow("before year 1") << -693593.0 - 1e-6;
        QTest::newRow("year 10000") << 2958466.0;
    }
    void momentsNoLineCanCarry()
    {
        QFETCH(double, dayCount);
        for (ScriptDialect dialect : { ScriptDialect::SQLite, ScriptDialect::PostgreSQL }) {
            QByteArray line;
            QCOMPARE(writeScriptLine(line, translationAt(dayCount), dialect), LineFault::MomentNotWritable);
        }
    }

    void textsInWindows1252_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<QByteArray>("quoted"); // empty: no line
        QTest::newRow("accents and the euro") << QByteArray("Ação € Œ “x”") << QByteArray("'A\xe7\xe3o \x80 \x8c \x93x\x94'");
        QTest::newRow("quote doubled, breaks as calls") << QByteArray("a'b\r\nc")
                                                        << QByteArray("'a''b' || char(13) || '' || char(10) || 'c'");
        QTest::newRow("C1 control the code page has no byte for") << QByteArray("\xc2\x81") << QByteArray();
        QTest::newRow("outside the code page") << QByteArray("\xe2\x82\xbd") << QByteArray(); // ruble sign
        QTest::newRow("beyond the BMP") << QByteArray("\xf0\x9f\x98\x80") << QByteArray();
        QTest::newRow("lone continuation byte") << QByteArray("a\x80") << QByteArray();
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << QByteArray();
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80") << QByteArray();
        QTest::newRow("cut short at the end") << QByteArray("\xc3") << QByteArray();
        QTest::newRow("Latin-1 byte, not UTF-8") << QByteArray("\xe7") << QByteArray();
        QTest::newRow("quote, breaks and accents past eight plain bytes")
            << QByteArray("abcdefghij'klmnopq\nrstuvwxy\rz0123456789ção")
            << QByteArray("'abcdefghij''klmnopq' || char(10) || 'rstuvwxy' || char(13) || 'z0123456789\xe7\xe3o'");
        QTest::newRow("not UTF-8 after eight plain bytes") << QByteArray("abcdefghijklmnop\xff") << QByteArray();
    }
    void nulInATextIsReported_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("fault");
        const auto bytes = [](const char *text, qsizetype size) { return QByteArray(text, size); };
        QTest::newRow("alone") << bytes("\0", 1) << int(LineFault::HoldsNul);
        QTest::newRow("among eight plain bytes") << bytes("abcdefgh\0jklmnopq", 17) << int(LineFault::HoldsNul);
        QTest::newRow("after a quote, at the end") << bytes("abcdefgh'ij\0", 12) << int(LineFault::HoldsNul);
        QTest::newRow("before a character the code page has no byte for")
            << bytes("abcdefghij\0\xe2\x82\xbd", 14) << int(LineFault::NotWindows1252);
    }
    void nulInATextIsReported()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, fault);
        QByteArray line;
        QCOMPARE(int(writeScriptLine(line, translationAt(100, std::string_view(text.constData(), size_t(text.size()))),
                                     ScriptDialect::SQLite)),
                 fault);
    }

    void textsInWindows1252()
    {
        QFETCH(QByteArray, utf8);
        QFETCH(QByteArray, quoted);
        QByteArray line;
        const LineFault fault = writeScriptLine(line, translationAt(100, std::string_view(utf8.constData(), size_t(utf8.size()))),
                                                ScriptDialect::SQLite);
        if (quoted.isEmpty()) {
            QCOMPARE(fault, LineFault::NotWindows1252);
        } else {
            QCOMPARE(fault, LineFault::None);
            QVERIFY2(line.contains(", 'ENG', " + quoted + ", 100)"), line.constData());
        }
    }

    // Day counts agree with printf's "%.17g" digit for digit: any double of the
    // writable range, moments to the microsecond, and halfway cases that round to even.
    void dayCountsAsPrintfWritesThem()
    {
        QRandomGenerator64 random(23);
        const auto printed = [](double value) {
            char text[40];
            return QByteArray(text, std::snprintf(text, sizeof text, "%.17g", value));
        };
        for (int i = 0; i < 300000; ++i) {
            double dayCount = 0;
            switch (i % 4) {
            case 0: dayCount = -693593.0 + random.generateDouble() * 3652059.0; break;
            case 1: dayCount = 36526.0 + double(random.bounded(qint64(36525) * 86'400'000'000)) / 86'400e6; break;
            case 2: { // binary fractions, halfway cases among them
                const int bits = int(random.bounded(1, 46));
                const double magnitude = std::ldexp(random.generateDouble() * 2958465.0, -int(random.bounded(0, 24)));
                dayCount = std::ldexp(std::floor(std::ldexp(magnitude, bits)), -bits);
                break;
            }
            default: dayCount = std::pow(10.0, double(random.bounded(-6, 7))) * (1 + double(qint64(random.bounded(3)) - 1) * 1e-16);
            }
            const QByteArray expected = printed(dayCount);
            const QByteArray written = momentOf(lineOf(dayCount, ScriptDialect::SQLite));
            if (written != expected)
                QFAIL(qPrintable(QStringLiteral("%1 written as %2").arg(QLatin1String(expected), QLatin1String(written))));
        }
    }

    // Timestamps from integer arithmetic agree with Qt's calendar over the whole range.
    void timestampsAgreeWithQtsCalendar()
    {
        QRandomGenerator random(17);
        for (int i = 0; i < 20000; ++i) {
            const double dayCount = -693593.0 + random.generateDouble() * (2958465.0 + 693593.0);
            QCOMPARE(momentOf(lineOf(dayCount, ScriptDialect::PostgreSQL)), qtTimestamp(dayCount));
        }
    }

    // Realistic day counts (a moment in this century to the microsecond, or
    // anything) read back through SQLite's own parser as the same double.
    void dayCountsReadBackExactlyThroughSQLite()
    {
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(":memory:", &db), SQLITE_OK);
        QVERIFY(sqlite3_exec(db, "CREATE TABLE TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO, "
                                 "PRIMARY KEY (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA))", nullptr, nullptr, nullptr) == SQLITE_OK);
        sqlite3_stmt *read = nullptr;
        QCOMPARE(sqlite3_prepare_v2(db, "SELECT DTALTERACAO FROM TRADUCAO", -1, &read, nullptr), SQLITE_OK);
        QRandomGenerator random(15);
        int mismatches = 0;
        for (int i = 0; i < 100000; ++i) {
            const double dayCount = i % 2 ? 36526.0 + double(random.bounded(qint64(36525) * 86400) * qint64(1'000'000)
                                                             + random.bounded(1'000'000)) / 86'400e6
                                          : -693593.0 + random.generateDouble() * 3652059.0;
            const QByteArray line = lineOf(dayCount, ScriptDialect::SQLite);
            QVERIFY(sqlite3_exec(db, line.constData(), nullptr, nullptr, nullptr) == SQLITE_OK);
            QCOMPARE(sqlite3_step(read), SQLITE_ROW);
            const double back = sqlite3_column_double(read, 0);
            if (std::memcmp(&back, &dayCount, sizeof back) != 0 && ++mismatches <= 5)
                qWarning("%s read back as %.17g", momentOf(line).constData(), back);
            sqlite3_reset(read);
        }
        sqlite3_finalize(read);
        sqlite3_close(db);
        QCOMPARE(mismatches, 0);
    }
};

QTEST_GUILESS_MAIN(TestScriptLine)
#include "tst_scriptline.moc"
