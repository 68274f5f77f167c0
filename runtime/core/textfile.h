#pragma once

#include "runtime/core/hiddenfile.h"
#include "runtime/core/textstore.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

// A record-set column's texts in a file instead of the heap: written back to
// back as they arrive, each followed by a terminator, so that the file holds
// them as a text file would. Where each text ends goes to an index file beside it,
// a block at a time: memory holds where each block starts (8 bytes a block), the
// block being filled, a few blocks read back, one write buffer while loading and
// one read window afterwards, however many the texts.
//
// The file is made in its directory as a HiddenFile (no name where the file system
// allows, else a hidden one) and goes with the store, unless it was kept under a name
// of its own first. The index file loses any name it has as soon as it is made.
class QLX_EXPORT TextFile : public TextStore
{
public:
    // Bytes gathered before a write, and read at once around a text reached in
    // record order, forwards or backwards.
    static constexpr qsizetype kBufferSize = kLongestText;
    // Bytes read at once from a text reached out of order.
    static constexpr qsizetype kJumpWindow = qsizetype(64) << 10;
    // Bytes written before the disk is asked to start writing them out: the final
    // sync then has only the last of them to wait for.
    static constexpr quint64 kWritebackStep = quint64(8) << 20;
    // Texts per index block: a block's ends are 32-bit offsets from where it starts.
    static constexpr qsizetype kIndexBlock = 2048;
    // Index blocks read back from the index file and kept for the next reads.
    static constexpr int kCachedIndexBlocks = 4;

    // A new empty file in the directory; EInOutError with the system's text
    // where none may be created. A failure names `shownAs`, the file the texts are
    // written for (the hidden file's own name means nothing to a user), else the
    // hidden file.
    TextFile(const QString &directory, const QByteArray &terminator, const QString &shownAs = {});
    ~TextFile() override;
    TextFile(const TextFile &) = delete;
    TextFile &operator=(const TextFile &) = delete;

    // A failed write raises EInOutError with the system's text.
    void append(const char *bytes, qsizetype size) override;
    qsizetype count() const override { return m_count; }
    // Only after finish(); a failed read raises EInOutError.
    std::string_view at(qsizetype index) const override;
    qint64 memoryBytes() const override;
    // Writes what is still buffered.
    void finish() override;

    const QString &directory() const { return m_directory; }
    // Whether the file may still become a file of its directory: neither kept nor given up.
    bool placeable() const { return !m_file.kept() && !m_givenUp; }
    // A hidden name for the file, to rename it over another: EInOutError where it cannot have one.
    QString giveName();
    // Open for reading and writing, for whoever gives the file a name of its own.
    int descriptor() const { return m_file.descriptor(); }
    // The file was renamed to `path`: it stays when the store goes.
    void renamed(const QString &path) { m_file.renamed(path); }
    // Gives the file up as a file of its directory: its name, if it has one, goes at
    // once; the texts stay readable while the store lives.
    void removeName();

private:
    struct CachedIndexBlock
    {
        qsizetype block = -1; // none yet
        std::unique_ptr<quint32[]> ends;
    };

    void startIndexBlock();
    // The ends of the block's texts, as offsets from where the block starts.
    const quint32 *endsOf(qsizetype block) const;
    void writeAll(int descriptor, const char *bytes, qsizetype size, quint64 offset);
    void flush();
    // Starts writing the texts out once kWritebackStep bytes wait; no waiting for it.
    void startWriteback();
    [[noreturn]] void fail(const QString &action, int systemError) const;

    QString m_directory;
    QString m_shownAs;
    QByteArray m_terminator;
    HiddenFile m_file;
    bool m_givenUp = false;

    HiddenFile m_indexFile;
    std::vector<quint64> m_blockStarts;
    std::unique_ptr<quint32[]> m_lastBlock; // the ends of the block being filled
    mutable CachedIndexBlock m_cached[kCachedIndexBlocks];
    mutable int m_nextCached = 0; // the cached block replaced next
    qsizetype m_count = 0;
    quint64 m_end = 0; // bytes appended, terminators included
    quint64 m_written = 0; // bytes in the file
    quint64 m_writebackFrom = 0; // the first byte not yet handed to the disk

    std::unique_ptr<char[]> m_writeBuffer;
    qsizetype m_buffered = 0;

    mutable std::unique_ptr<char[]> m_window;
    mutable quint64 m_windowStart = 0;
    mutable qsizetype m_windowSize = 0;
    mutable qsizetype m_lastRead = -1; // the text at() gave last
};
