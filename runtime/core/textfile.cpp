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
{
    Q_ASSERT(terminator.size() < kBufferSize);
    if (m_file.descriptor() < 0)
        fail(m_shownAs.isEmpty() ? QStringLiteral("criar um arquivo em") : QStringLiteral("gravar"), errno);
}

TextFile::~TextFile() = default;

[[noreturn]] void TextFile::fail(const QString &action, int systemError) const
{
    const QString named = !m_shownAs.isEmpty() ? m_shownAs : !m_file.path().isEmpty() ? m_file.path() : m_directory;
    throw EInOutError(QStringLiteral("Erro de E/S ao %1 %2: %3").arg(action, named, SystemErrorText(systemError)), systemError);
}

void TextFile::writeAll(const char *bytes, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(m_file.descriptor(), bytes, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            fail(QStringLiteral("gravar"), written < 0 ? errno : ENOSPC);
        bytes += written;
        size -= written;
    }
}

void TextFile::flush()
{
    const qsizetype size = std::exchange(m_buffered, 0);
    writeAll(m_writeBuffer.get(), size);
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
        writeAll(bytes, size);
        writeAll(m_terminator.constData(), m_terminator.size());
    } else {
        if (size > 0)
            std::memcpy(m_writeBuffer.get() + m_buffered, bytes, size_t(size));
        std::memcpy(m_writeBuffer.get() + m_buffered + size, m_terminator.constData(), size_t(m_terminator.size()));
        m_buffered += terminated;
    }

    if (m_count % kIndexBlock == 0) {
        m_ends.push_back(std::make_unique_for_overwrite<quint32[]>(size_t(kIndexBlock)));
        m_blockStarts.push_back(m_end);
    }
    m_end += quint64(terminated);
    m_ends.back()[size_t(m_count % kIndexBlock)] = quint32(m_end - m_blockStarts.back());
    ++m_count;
    m_windowSize = 0;
}

void TextFile::finish()
{
    if (m_buffered > 0)
        flush();
    m_writeBuffer.reset();
}

qint64 TextFile::memoryBytes() const
{
    return qint64(m_ends.size()) * (kIndexBlock * qint64(sizeof(quint32)) + qint64(sizeof(quint64)))
        + (m_writeBuffer ? kBufferSize : 0) + (m_window ? kBufferSize : 0);
}

quint64 TextFile::endAt(qsizetype index) const
{
    return m_blockStarts[size_t(index / kIndexBlock)] + m_ends[size_t(index / kIndexBlock)][size_t(index % kIndexBlock)];
}

std::string_view TextFile::at(qsizetype index) const
{
    Q_ASSERT(m_buffered == 0);
    const quint64 start = index == 0 ? 0 : endAt(index - 1);
    const qsizetype size = qsizetype(endAt(index) - start) - m_terminator.size();
    if (size == 0)
        return {};
    const bool inWindow = start >= m_windowStart && start + quint64(size) <= m_windowStart + quint64(m_windowSize);
    if (!inWindow) {
        // The window starts at the text and reaches as far as a buffer does:
        // reading in record order takes one read for many texts.
        if (!m_window)
            m_window = std::make_unique_for_overwrite<char[]>(size_t(kBufferSize));
        const qsizetype wanted = qsizetype(std::min<quint64>(quint64(kBufferSize), m_end - start));
        qsizetype got = 0;
        m_windowSize = 0;
        while (got < size) {
            const ssize_t read = ::pread(m_file.descriptor(), m_window.get() + got, size_t(wanted - got), off_t(start) + got);
            if (read < 0 && errno == EINTR)
                continue;
            if (read <= 0)
                fail(QStringLiteral("ler"), read < 0 ? errno : EIO);
            got += read;
        }
        m_windowStart = start;
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
