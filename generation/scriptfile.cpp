#include "scriptfile.h"

#include <exceptions.h>
#include <filesystem.h>

#include <QSaveFile>

AnsiString ScriptFileName(TDateTime moment)
{
    quint16 year = 0;
    quint16 month = 0;
    quint16 day = 0;
    DecodeDate(moment, year, month, day);
    return QStringLiteral("TRD_%1%2%3.sql").arg(year).arg(month).arg(day).toStdString();
}

void WriteScriptFile(const AnsiString &path, TClientDataSet &lines, const TField &line)
{
    QSaveFile file(NativePath(path));
    const auto fail = [&file, &path] {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw EInOutError(QStringLiteral("Erro de E/S ao gravar %1: %2").arg(NativePath(path), reason), int(file.error()));
    };
    // Unbuffered, so that a short write (a full disk, a file size limit) shows in
    // write()'s count: a buffered flush may report it as success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        fail();
    constexpr qsizetype kChunk = 1 << 16;
    QByteArray chunk;
    chunk.reserve(kChunk + 4096);
    lines.First();
    while (!lines.Eof()) {
        const AnsiString value = line.AsString();
        chunk.append(value.data(), qsizetype(value.size()));
        chunk.append("\r\n", 2);
        if (chunk.size() >= kChunk) {
            if (file.write(chunk) != chunk.size())
                fail();
            chunk.clear();
        }
        lines.Next();
    }
    if (file.write(chunk) != chunk.size() || !file.commit())
        fail();
}
