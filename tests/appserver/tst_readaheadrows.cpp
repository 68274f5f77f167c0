#include "appserver/rows/readaheadrows.h"

#include <QTest>
#include <atomic>
#include <stdexcept>
#include <string>

namespace {

// Rows whose texts name their number, each in a buffer that the next row
// overwrites, as a client library's are; a text of `wide` bytes every 1000th row;
// after the last row an error when `error` is set, thrown when `throws` is.
class NumberedRows : public ScriptRows
{
public:
    NumberedRows(int count, size_t wide, QString error, bool throws, std::atomic<int> &given)
        : m_given(given)
        , m_count(count)
        , m_wide(wide)
        , m_failure(std::move(error))
        , m_throws(throws)
    {
    }
    bool next(Translation &row) override
    {
        if (m_given == m_count) {
            if (m_throws)
                throw std::runtime_error(m_failure.toStdString());
            m_error = m_failure;
            return false;
        }
        m_buffer = textOf(m_given, m_wide);
        row = { std::string_view(m_buffer).substr(0, 3), m_buffer, {}, "ENG", m_buffer, double(m_given) };
        ++m_given;
        return true;
    }
    QString error() const override { return m_error; }

    static std::string textOf(int number, size_t wide)
    {
        std::string text = "row " + std::to_string(number);
        if (number % 1000 == 999)
            text.resize(wide, 'x');
        return text;
    }

private:
    std::atomic<int> &m_given; // rows read so far
    int m_count;
    size_t m_wide;
    QString m_failure;
    bool m_throws;
    std::string m_buffer;
    QString m_error;
};

} // namespace

class TestReadAheadRows : public QObject
{
    Q_OBJECT

private slots:
    void rowsInOrderThenTheEnd_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<qulonglong>("wide");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("throws");
        QTest::addColumn<int>("taken"); // rows taken before the reader is let go
        const qulonglong batch = ReadAheadRows::kBatchBytes;
        QTest::newRow("none") << 0 << 0ull << QString() << false << 0;
        QTest::newRow("one") << 1 << 0ull << QString() << false << 1;
        QTest::newRow("many batches") << 300000 << 0ull << QString() << false << 300000;
        QTest::newRow("rows wider than a batch") << 5000 << batch + 7 << QString() << false << 5000;
        QTest::newRow("a failure after many") << 100000 << 0ull << QStringLiteral("step: disk I/O error") << false << 100000;
        QTest::newRow("a failure at once") << 0 << 0ull << QStringLiteral("step: no such table") << false << 0;
        QTest::newRow("thrown after many") << 100000 << 0ull << QStringLiteral("out of memory") << true << 100000;
        QTest::newRow("let go while more are read") << 1000000 << 0ull << QString() << false << 10;
    }
    void rowsInOrderThenTheEnd()
    {
        QFETCH(int, count);
        QFETCH(qulonglong, wide);
        QFETCH(QString, error);
        QFETCH(bool, throws);
        QFETCH(int, taken);
        std::atomic<int> given = 0;
        ReadAheadRows rows(std::make_unique<NumberedRows>(count, size_t(wide), error, throws, given));
        Translation row;
        for (int i = 0; i < taken; ++i) {
            QVERIFY(rows.next(row));
            const std::string text = NumberedRows::textOf(i, size_t(wide));
            if (row.text != text || row.key != text || row.table != text.substr(0, 3) || !row.column.empty()
                || row.language != "ENG" || row.changedAt != i)
                QFAIL(qPrintable(QStringLiteral("row %1 differs").arg(i)));
        }
        if (taken < count) {
            // The reader stops a few batches ahead: the one taken from, those ahead and one it fills.
            QTest::qSleep(200);
            QVERIFY2(size_t(given) <= (ReadAheadRows::kBatchesAhead + 2) * ReadAheadRows::kBatchRows + 1,
                     qPrintable(QString::number(given)));
            return; // the reader goes while it still reads
        }
        QVERIFY(!rows.next(row));
        QCOMPARE(rows.error(), error);
        QVERIFY(!rows.next(row));
    }
};

QTEST_GUILESS_MAIN(TestReadAheadRows)
#include "tst_readaheadrows.moc"
