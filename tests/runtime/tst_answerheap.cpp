#include "runtime/core/answerheap.h"

#include <QTest>
#include <cstdlib>
#include <malloc.h>

// The thresholds hold for the blocks an answer is read through: made and freed
// again and again, they stay in the heap, and the heap keeps its top for the next.
class TestAnswerHeap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
#if defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer serves every block itself, with no thresholds to set: what
        // holds there is that the call says so and changes nothing.
        QVERIFY(!KeepAnswerBuffersInHeap());
        QSKIP("AddressSanitizer's allocator has no heap thresholds; the blocks' checks are glibc's");
#else
        QVERIFY(KeepAnswerBuffersInHeap());
#endif
    }

    void blocks_data()
    {
        QTest::addColumn<std::size_t>("size");
        QTest::addColumn<bool>("fromKernel");
        QTest::newRow("TLS record buffer, 256 KiB") << (std::size_t(256) << 10) << false;
        QTest::newRow("read-ahead, 1 MiB") << (std::size_t(1) << 20) << false;
        QTest::newRow("just under the threshold") << kHeapBlockThreshold - 4096 << false;
        QTest::newRow("a whole large frame, 8 MiB") << (std::size_t(8) << 20) << true;
    }

    void blocks()
    {
        QFETCH(std::size_t, size);
        QFETCH(bool, fromKernel);
        for (int round = 0; round < 3; ++round) {
            const std::size_t mappedBefore = mallinfo2().hblkhd;
            void *block = std::malloc(size);
            QVERIFY(block);
            QCOMPARE(mallinfo2().hblkhd > mappedBefore, fromKernel);
            std::free(block);
            if (!fromKernel) // the freed block stays with the process, ready for the next
                QVERIFY(mallinfo2().fordblks >= size);
        }
    }
};

QTEST_APPLESS_MAIN(TestAnswerHeap)
#include "tst_answerheap.moc"
