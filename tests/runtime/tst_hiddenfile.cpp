// A file being made leaves nothing behind: no name until it is given one where the file
// system allows, else a hidden name that goes on a signal or at the next run.
#include "runtime/core/hiddenfile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kPrefix = QStringLiteral(".qlx-test-");

QStringList hiddenFiles(const QString &directory)
{
    return QDir(directory).entryList({ kPrefix + QLatin1Char('*') }, QDir::Files | QDir::Hidden);
}

// Runs `body` in a child process and returns how it ended: its exit status, or the
// signal that ended it as a negative number.
template <typename Body>
int inChild(Body body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace

class TestHiddenFile : public QObject
{
    Q_OBJECT

private slots:
    void nothingLeftOnceClosed_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("namesWhileOpen");
        QTest::newRow("unnamed") << int(HiddenFile::Start::Unnamed) << 0;
        QTest::newRow("named") << int(HiddenFile::Start::Named) << 1;
    }
    void nothingLeftOnceClosed()
    {
        QFETCH(int, start);
        QFETCH(int, namesWhileOpen);
        QTemporaryDir directory;
        {
            HiddenFile file(directory.path(), kPrefix, 0600, HiddenFile::Start(start));
            QVERIFY(file.descriptor() >= 0);
            QCOMPARE(::write(file.descriptor(), "x", 1), ssize_t(1));
            QCOMPARE(hiddenFiles(directory.path()).size(), namesWhileOpen);
            QCOMPARE(file.giveName(), 0);
            QCOMPARE(hiddenFiles(directory.path()).size(), 1);
        }
        QCOMPARE(hiddenFiles(directory.path()), QStringList {});
        {
            HiddenFile kept(directory.path(), kPrefix, 0600, HiddenFile::Start(start));
            QCOMPARE(kept.giveName(), 0);
            const QString target = directory.filePath(QStringLiteral("TRD_2026127.sql"));
            QVERIFY(::rename(QFile::encodeName(kept.path()).constData(), QFile::encodeName(target).constData()) == 0);
            kept.renamed(target);
        }
        QCOMPARE(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("TRD_2026127.sql") });
    }

    // A program ended by a signal while its hidden file has a name takes the name with it.
    void signalRemovesTheName_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void signalRemovesTheName()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir directory;
        const int ended = inChild([&] {
            RemoveHiddenFilesOnSignals();
            HiddenFile file(directory.path(), kPrefix, 0600, HiddenFile::Start::Named);
            if (file.descriptor() < 0 || hiddenFiles(directory.path()).size() != 1)
                ::_exit(3);
            ::raise(signalNumber);
            ::_exit(4);
        });
        QCOMPARE(ended, -signalNumber);
        QCOMPARE(hiddenFiles(directory.path()), QStringList {});
    }

    // A name left by a killed program goes at the next file made with that prefix there;
    // one whose file is still open stays.
    void nextFileRemovesWhatAKillLeft()
    {
        QTemporaryDir directory;
        const int ended = inChild([&] {
            HiddenFile file(directory.path(), kPrefix, 0600, HiddenFile::Start::Named);
            ::raise(SIGKILL);
        });
        QCOMPARE(ended, -SIGKILL);
        QCOMPARE(hiddenFiles(directory.path()).size(), 1);
        HiddenFile open(directory.path(), kPrefix, 0600, HiddenFile::Start::Named);
        QCOMPARE(hiddenFiles(directory.path()).size(), 2);
        QTest::qWait(int(HiddenFile::kYoungestStaleSeconds + 1) * 1000); // older than a file being made
        HiddenFile next(directory.path(), kPrefix, 0600, HiddenFile::Start::Named);
        const QStringList left = hiddenFiles(directory.path());
        QCOMPARE(left.size(), 2);
        QVERIFY(left.contains(QFileInfo(open.path()).fileName()));
        QVERIFY(left.contains(QFileInfo(next.path()).fileName()));
    }
};

QTEST_GUILESS_MAIN(TestHiddenFile)
#include "tst_hiddenfile.moc"
