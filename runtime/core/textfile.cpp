#include "runtime/core/textfile.h"

#include "runtime/core/exceptions.h"
#include "runtime/core/systemerror.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <utility>
#include <unistd.h>

TextFile::TextFile(const QString &directory, const QByteArray &terminator, const QString &shownAs)
    : m_directory(directory)
    , m_shownAs(shownAs)
    , m_terminator(terminator)
    , m_file(QDir::cleanPath(directory), QStringLiteral(".qlx-texts-"), S_IRUSR | S_IWUSR)
    , m_indexFile(QDir::cleanPath(directory), QStringLiteral(".qlx-index-"), S_IRUSR | S_IWUSR)
{
    Q_ASSERT(terminator.size() < kBufferSize);
    if (m_file.descriptor() < 0 || m_indexFile.descriptor() < 0)
        fail(m_shownAs.isEmpty() ? QStringLiteral("criar um arquivo em") : QStringLiteral("gravar"), errno);
    m_indexFile.removeName(); // read only through its descriptor
}

TextFile::~TextFile() = default;

[[noreturn]] void TextFile::fail(const QString &action, int systemError) const
{
    const QString named = !m_shownAs.isEmpty() ? m_shownAs : !m_file.path().isEmpty() ? m_file.path() : m_directory;
    throw EInOutError(QStringLiteral("Erro de E/S ao %1 %2: %3").arg(action, named, SystemErrorText(systemError)), systemError);
}

void TextFile::writeAll(int descriptor, const char *bytes, qsizetype size, quint64 offset)
{
    while (size > 0) {
        const ssize_t written = ::pwrite(descriptor, bytes, size_t(size), off_t(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            fail(QStringLiteral("gravar"), written < 0 ? errno : ENOSPC);
        bytes += written;
        size -= written;
        offset += quint64(written);
    }
}

void TextFile::flush()
{
    const qsizetype size = std::exchange(m_buffered, 0);
    writeAll(m_file.descriptor(), m_writeBuffer.get(), size, m_written);
    m_written += quint64(size);
    startWriteback();
}

void TextFile::startWriteback()
{
    if (m_written - m_writebackFrom < kWritebackStep)
        return;
    // Advice only: a failure to write shows at the file's sync.
    ::sync_file_range(m_file.descriptor(), off_t(m_writebackFrom), off_t(m_written - m_writebackFrom), SYNC_FILE_RANGE_WRITE);
    m_writebackFrom = m_written;
}

void TextFile::append(const char *bytes, qsizetype size)
{
    Q_ASSERT(size >= 0 && size <= kLongestText);
    if (!m_writeBuffer)
        m_writeBuffer = std::make_unique_for_overwrite<char[]>(size_t(kBufferSize));
    const qsizetype terminated = size + m_terminator.size();
    if (m_buffered + terminated > kBufferSize)
        flush();
    if (terminated > kBufferSize) {
        writeAll(m_file.descriptor(), bytes, size, m_written);
        writeAll(m_file.descriptor(), m_terminator.constData(), m_terminator.size(), m_written + quint64(size));
        m_written += quint64(terminated);
        startWriteback();
    } else {
        if (size > 0)
            std::memcpy(m_writeBuffer.get() + m_buffered, bytes, size_t(size));
        std::memcpy(m_writeBuffer.get() + m_buffered + size, m_terminator.constData(), size_t(m_terminator.size()));
        m_buffered += terminated;
    }

    if (m_count % kIndexBlock == 0)
        startIndexBlock();
    m_end += quint64(terminated);
    m_lastBlock[size_t(m_count % kIndexBlock)] = quint32(m_end - m_blockStarts.back());
    ++m_count;
    m_windowSize = 0;
}

void TextFile::startIndexBlock()
{
    if (!m_lastBlock) {
        m_lastBlock = std::make_unique_for_overwrite<quint32[]>(size_t(kIndexBlock));
    } else {
        // The full block goes to the index file; the last block stays in memory.
        constexpr qsizetype blockBytes = kIndexBlock * qsizetype(sizeof(quint32));
        const quint64 blockAt = quint64(m_blockStarts.size() - 1) * quint64(blockBytes);
        writeAll(m_indexFile.descriptor(), reinterpret_cast<const char *>(m_lastBlock.get()), blockBytes, blockAt);
    }
    m_blockStarts.push_back(m_end);
}

void TextFile::finish()
{
    if (m_buffered > 0)
        flush();
    m_writeBuffer.reset();
}

qint64 TextFile::memoryBytes() const
{
    constexpr qint64 blockBytes = kIndexBlock * qint64(sizeof(quint32));
    qint64 cached = 0;
    for (const CachedIndexBlock &block : m_cached)
        cached += block.ends ? blockBytes : 0;
    return qint64(m_blockStarts.size()) * qint64(sizeof(quint64)) + (m_lastBlock ? blockBytes : 0) + cached
        + (m_writeBuffer ? kBufferSize : 0) + (m_window ? kBufferSize : 0);
}

const quint32 *TextFile::endsOf(qsizetype block) const
{
    if (block == qsizetype(m_blockStarts.size()) - 1)
        return m_lastBlock.get();
    for (const CachedIndexBlock &cached : m_cached) {
        if (cached.block == block)
            return cached.ends.get();
    }
    CachedIndexBlock &cached = m_cached[m_nextCached];
    m_nextCached = (m_nextCached + 1) % kCachedIndexBlocks;
    if (!cached.ends)
        cached.ends = std::make_unique_for_overwrite<quint32[]>(size_t(kIndexBlock));
    cached.block = -1; // until it is read whole
    constexpr qsizetype blockBytes = kIndexBlock * qsizetype(sizeof(quint32));
    char *into = reinterpret_cast<char *>(cached.ends.get());
    qsizetype got = 0;
    while (got < blockBytes) {
        const ssize_t read = ::pread(m_indexFile.descriptor(), into + got, size_t(blockBytes - got),
                                     off_t(block * blockBytes + got));
        if (read < 0 && errno == EINTR)
            continue;
        if (read <= 0)
            fail(QStringLiteral("ler"), read < 0 ? errno : EIO);
        got += read;
    }
    cached.block = block;
    return cached.ends.get();
}

std::string_view TextFile::at(qsizetype index) const
{
    Q_ASSERT(m_buffered == 0);
    const qsizetype block = index / kIndexBlock;
    const qsizetype inBlock = index % kIndexBlock;
    const quint32 *ends = endsOf(block);
    const quint64 start = m_blockStarts[size_t(block)] + (inBlock == 0 ? 0 : ends[inBlock - 1]);
    const qsizetype size = qsizetype(m_blockStarts[size_t(block)] + ends[inBlock] - start) - m_terminator.size();
    const bool backwards = index == m_lastRead - 1;
    const bool inOrder = backwards || index == m_lastRead + 1;
    m_lastRead = index;
    if (size == 0)
        return {};
    const bool inWindow = start >= m_windowStart && start + quint64(size) <= m_windowStart + quint64(m_windowSize);
    if (!inWindow) {
        // Read in record order, the window reaches as far as a buffer does from the
        // text on, or up to it backwards: one read for many texts. A text reached
        // out of order takes a small read.
        if (!m_window)
            m_window = std::make_unique_for_overwrite<char[]>(size_t(kBufferSize));
        const quint64 reach = quint64(inOrder ? kBufferSize : std::max(kJumpWindow, size));
        const quint64 textEnd = start + quint64(size);
        const quint64 from = backwards ? textEnd - std::min(reach, textEnd) : start;
        const qsizetype wanted = qsizetype(backwards ? textEnd - from : std::min(reach, m_end - start));
        const qsizetype needed = qsizetype(textEnd - from);
        qsizetype got = 0;
        m_windowSize = 0;
        while (got < needed) {
            const ssize_t read = ::pread(m_file.descriptor(), m_window.get() + got, size_t(wanted - got), off_t(from) + got);
            if (read < 0 && errno == EINTR)
                continue;
            if (read <= 0)
                fail(QStringLiteral("ler"), read < 0 ? errno : EIO);
            got += read;
        }
        m_windowStart = from;
        m_windowSize = got;
    }
    return std::string_view(m_window.get() + (start - m_windowStart), size_t(size));
}

QString TextFile::giveName()
{
    if (const int systemError = m_file.giveName())
        fail(QStringLiteral("gravar"), systemError);
    return m_file.path();
}

void TextFile::removeName()
{
    m_file.removeName();
    m_givenUp = true;
}
