#include "appserver/remoteobject/queuedanswer.h"
#include "appserver/remoteobject/rdmgeraarquivo.h"

#include <QTest>
#include <stdexcept>

namespace {

// Messages "0", "1", ... up to `count`, then the end, or a failure in its place.
class CountedAnswer : public AnswerStream
{
public:
    CountedAnswer(int count, bool fails)
        : m_count(count)
        , m_fails(fails)
    {
    }
    bool next(QByteArray &payload) override
    {
        if (m_given == m_count) {
            if (m_fails)
                throw std::runtime_error("the rows stopped");
            m_outcome = QStringLiteral("ok");
            return false;
        }
        payload = QByteArray::number(m_given++);
        m_rows = m_given;
        return true;
    }

private:
    int m_count;
    bool m_fails;
    int m_given = 0;
};

} // namespace

class TestQueuedAnswer : public QObject
{
    Q_OBJECT

private slots:
    void messagesInOrderThenTheEnd_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<int>("taken"); // messages the session takes before it lets go
        QTest::newRow("none") << 0 << false << 0;
        QTest::newRow("fewer than made ahead") << 1 << false << 1;
        QTest::newRow("many") << 50 << false << 50;
        QTest::newRow("a failure after some") << 5 << true << 5;
        QTest::newRow("a failure at once") << 0 << true << 0;
        QTest::newRow("let go while more are made") << 100000 << false << 3;
    }
    void messagesInOrderThenTheEnd()
    {
        QFETCH(int, count);
        QFETCH(bool, fails);
        QFETCH(int, taken);
        QueuedAnswer answer(std::make_unique<CountedAnswer>(count, fails), {});
        QByteArray payload;
        for (int i = 0; i < taken; ++i) {
            QVERIFY(answer.next(payload));
            QCOMPARE(payload, QByteArray::number(i));
            QCOMPARE(answer.rows(), qint64(i + 1));
        }
        if (taken < count)
            return; // the answer goes with its maker still making
        if (fails) {
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, answer.next(payload));
            return;
        }
        QVERIFY(!answer.next(payload));
        QCOMPARE(answer.outcome(), QStringLiteral("ok"));
        QVERIFY(!answer.next(payload));
    }

    void aClientGoneTakesNoMore()
    {
        bool gone = false;
        QueuedAnswer answer(std::make_unique<CountedAnswer>(10, false), [&gone] { return gone; });
        QByteArray payload;
        QVERIFY(answer.next(payload));
        gone = true;
        QVERIFY_THROWS_EXCEPTION(RdmGeraArquivo::Abandoned, answer.next(payload));
    }
};

QTEST_GUILESS_MAIN(TestQueuedAnswer)
#include "tst_queuedanswer.moc"
