#pragma once

#include "bench/threadcpu.h"
#include "runtime/core/textfile.h"

#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// Bytes handed to the kernel by each write() of the script's copy: as the clients
// write theirs. Writes of 4 MiB and more cost this machine's kernel several times the CPU.
constexpr size_t kScriptWriteChunk = size_t(TextFile::kBufferSize);

// A script's bytes in memory, so that writing them costs only the write: the least
// any generator pays to put the script on disk. The bytes are the file's own pages
// in the page cache, mapped and read in beforehand: a copy on the heap would take
// as much fresh memory again as the write's page cache, which a client does not.
class ScriptInMemory
{
public:
    explicit ScriptInMemory(const QString &file)
    {
        const int in = open(file.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        struct stat status {};
        if (in >= 0 && fstat(in, &status) == 0 && status.st_size > 0) {
            void *mapped = mmap(nullptr, size_t(status.st_size), PROT_READ, MAP_SHARED | MAP_POPULATE, in, 0);
            if (mapped != MAP_FAILED) {
                m_bytes = static_cast<const char *>(mapped);
                m_size = size_t(status.st_size);
            }
        }
        if (in >= 0)
            close(in);
    }
    ~ScriptInMemory()
    {
        if (m_bytes)
            munmap(const_cast<char *>(m_bytes), m_size);
    }
    ScriptInMemory(const ScriptInMemory &) = delete;
    ScriptInMemory &operator=(const ScriptInMemory &) = delete;

    size_t size() const { return m_size; }

    struct Written
    {
        double seconds = -1; // -1 when it failed
        double cpu = 0; // the copy into the page cache, mostly the kernel's
    };
    // Creates `file`, writes the bytes kScriptWriteChunk at a time, asking the disk
    // to start on them every TextFile::kWritebackStep bytes as the clients do, and
    // fdatasyncs it.
    Written writeTo(const QString &file) const
    {
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = threadCpuSeconds();
        const int out = open(file.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (out < 0)
            return {};
        bool ok = true;
        size_t writebackFrom = 0;
        for (size_t done = 0; ok && done < m_size;) {
            const ssize_t put = write(out, m_bytes + done, std::min(kScriptWriteChunk, m_size - done));
            ok = put > 0;
            done += ok ? size_t(put) : 0;
            if (done - writebackFrom >= TextFile::kWritebackStep) {
                sync_file_range(out, off_t(writebackFrom), off_t(done - writebackFrom), SYNC_FILE_RANGE_WRITE);
                writebackFrom = done;
            }
        }
        ok = ok && fdatasync(out) == 0;
        ok = close(out) == 0 && ok;
        if (!ok)
            return {};
        return { double(clock.nsecsElapsed()) / 1e9, threadCpuSeconds() - cpuBefore };
    }

private:
    const char *m_bytes = nullptr;
    size_t m_size = 0;
};
