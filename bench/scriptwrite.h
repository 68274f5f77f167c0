#pragma once

#include "bench/threadcpu.h"
#include "runtime/core/textfile.h"

#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <cstring>
#include <memory>
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
    // Creates `file` and writes the bytes as the clients write theirs: from a buffer
    // of kScriptWriteChunk bytes, the disk asked to start on them every
    // TextFile::kWritebackStep bytes, then fdatasync. The buffer is filled from the
    // mapped script untimed: a client's lines are in its cache when it writes them,
    // where a copy straight from the mapping would read the script from memory too.
    Written writeTo(const QString &file) const
    {
        QElapsedTimer clock;
        double elapsed = 0;
        double cpu = 0;
        const auto timed = [&](auto step) {
            clock.start();
            const double cpuBefore = threadCpuSeconds();
            const bool ok = step();
            elapsed += double(clock.nsecsElapsed()) / 1e9;
            cpu += threadCpuSeconds() - cpuBefore;
            return ok;
        };
        int out = -1;
        if (!timed([&] { return (out = open(file.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)) >= 0; }))
            return {};
        const auto buffer = std::make_unique_for_overwrite<char[]>(kScriptWriteChunk);
        bool ok = true;
        size_t writebackFrom = 0;
        for (size_t done = 0; ok && done < m_size;) {
            const size_t size = std::min(kScriptWriteChunk, m_size - done);
            std::memcpy(buffer.get(), m_bytes + done, size);
            ok = timed([&] {
                for (size_t put = 0; put < size;) {
                    const ssize_t written = write(out, buffer.get() + put, size - put);
                    if (written <= 0)
                        return false;
                    put += size_t(written);
                }
                return true;
            });
            done += size;
            if (ok && done - writebackFrom >= TextFile::kWritebackStep) {
                timed([&] {
                    return sync_file_range(out, off_t(writebackFrom), off_t(done - writebackFrom), SYNC_FILE_RANGE_WRITE) == 0;
                });
                writebackFrom = done;
            }
        }
        ok = ok && timed([&] { return fdatasync(out) == 0; });
        ok = timed([&] { return close(out) == 0; }) && ok;
        if (!ok)
            return {};
        return { elapsed, cpu };
    }

private:
    const char *m_bytes = nullptr;
    size_t m_size = 0;
};
