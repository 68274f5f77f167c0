#pragma once

#include "bench/threadcpu.h"

#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

// Bytes handed to the kernel by each write() of the script's copy.
constexpr size_t kScriptWriteChunk = size_t(8) << 20;

// A script's bytes read into memory, so that writing them costs only the write:
// the least any generator pays to put the script on disk.
class ScriptInMemory
{
public:
    explicit ScriptInMemory(const QString &file)
    {
        const int in = open(file.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        struct stat status {};
        if (in < 0 || fstat(in, &status) != 0) {
            if (in >= 0)
                close(in);
            return;
        }
        m_bytes = std::make_unique<char[]>(size_t(status.st_size));
        size_t done = 0;
        while (done < size_t(status.st_size)) {
            const ssize_t got = read(in, m_bytes.get() + done, size_t(status.st_size) - done);
            if (got <= 0)
                break;
            done += size_t(got);
        }
        close(in);
        m_size = done == size_t(status.st_size) ? done : 0;
    }

    size_t size() const { return m_size; }

    struct Written
    {
        double seconds = -1; // -1 when it failed
        double cpu = 0; // the copy into the page cache, mostly the kernel's
    };
    // Creates `file`, writes the bytes in large writes and fdatasyncs it.
    Written writeTo(const QString &file) const
    {
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = threadCpuSeconds();
        const int out = open(file.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (out < 0)
            return {};
        bool ok = true;
        for (size_t done = 0; ok && done < m_size;) {
            const ssize_t put = write(out, m_bytes.get() + done, std::min(kScriptWriteChunk, m_size - done));
            ok = put > 0;
            done += ok ? size_t(put) : 0;
        }
        ok = ok && fdatasync(out) == 0;
        ok = close(out) == 0 && ok;
        if (!ok)
            return {};
        return { double(clock.nsecsElapsed()) / 1e9, threadCpuSeconds() - cpuBefore };
    }

private:
    std::unique_ptr<char[]> m_bytes;
    size_t m_size = 0;
};
