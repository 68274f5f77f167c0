#include "scriptfile.h"

#include <exceptions.h>
#include <filesystem.h>

#include <QSaveFile>
#include <cerrno>
#include <cstring>

AnsiString ScriptFileName(TDateTime moment)
{
    quint16 year = 0;
    quint16 month = 0;
    quint16 day = 0;
    DecodeDate(moment, year, month, day);
    return QStringLiteral("TRD_%1%2%3.sql").arg(year).arg(month).arg(day).toStdString();
}

namespace {

// Writes all of the bytes. Qt reports the part of a short write that went through
// and drops the system's error, so the rest is written again: the failing call then
// leaves that error in errno. False on a failure, with the error (0 when unknown).
bool writeAll(QSaveFile &file, QByteArrayView bytes, int &systemError)
{
    while (!bytes.isEmpty()) {
        errno = 0;
        const qint64 written = file.write(bytes.data(), bytes.size());
        if (written <= 0) {
            systemError = errno;
            return false;
        }
        bytes = bytes.sliced(written);
    }
    return true;
}

} // namespace

void WriteScriptFile(const AnsiString &path, TClientDataSet &lines, const TField &line)
{
    QSaveFile file(NativePath(path));
    // Where no file may be created beside it but the file itself may be written,
    // it is written in place: never a failure where a plain overwrite succeeds.
    file.setDirectWriteFallback(true);
    int systemError = 0;
    const auto fail = [&file, &path, &systemError] {
        // The system's own text (in the user's language where it has one), else Qt's.
        const QString reason = systemError != 0 ? QString::fromLocal8Bit(std::strerror(systemError)) : file.errorString();
        file.cancelWriting();
        throw EInOutError(QStringLiteral("Erro de E/S ao gravar %1: %2").arg(NativePath(path), reason),
                          systemError != 0 ? systemError : int(file.error()));
    };
    // Unbuffered, so that a short write (a full disk, a file size limit) shows in
    // write()'s count: a buffered flush may report it as success.
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        systemError = errno;
        fail();
    }
    // Lines are gathered straight from the record set into one large buffer, so
    // that the file takes few large writes.
    constexpr qsizetype kWriteBuffer = TextArena::kChunkSize;
    QByteArray chunk(kWriteBuffer, Qt::Uninitialized);
    qsizetype used = 0;
    const auto put = [&](const char *bytes, qsizetype size) {
        if (used + size > kWriteBuffer) {
            if (!writeAll(file, QByteArrayView(chunk.constData(), used), systemError))
                fail();
            used = 0;
        }
        if (size > 0) // a record-set text is never longer than the buffer
            std::memcpy(chunk.data() + used, bytes, size_t(size));
        used += size;
    };
    lines.First();
    while (!lines.Eof()) {
        const std::string_view value = line.AsBytes();
        put(value.data(), qsizetype(value.size()));
        put("\r\n", 2);
        lines.Next();
    }
    if (!writeAll(file, QByteArrayView(chunk.constData(), used), systemError))
        fail();
    errno = 0;
    if (!file.commit()) {
        systemError = errno;
        fail();
    }
}
