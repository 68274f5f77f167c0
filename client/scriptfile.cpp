#include "client/scriptfile.h"

#include "client/filereplacement.h"

#include "runtime/core/filesystem.h"
#include "runtime/core/textfile.h"

#include <cstring>

AnsiString ScriptFileName(TDateTime moment)
{
    quint16 year = 0;
    quint16 month = 0;
    quint16 day = 0;
    DecodeDate(moment, year, month, day);
    return QStringLiteral("TRD_%1%2%3.sql").arg(year).arg(month).arg(day).toStdString();
}

void WriteScriptLines(TClientDataSet &lines, const TField &line, const std::function<void(const char *, qsizetype)> &write)
{
    // Lines are gathered straight from the record set into one large buffer, so
    // that the file takes few large writes.
    constexpr qsizetype kWriteBuffer = TextStore::kLongestText;
    QByteArray chunk(kWriteBuffer, Qt::Uninitialized);
    qsizetype used = 0;
    const auto put = [&](const char *bytes, qsizetype size) {
        if (used + size > kWriteBuffer) {
            write(chunk.constData(), used);
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
    write(chunk.constData(), used);
}

void KeepScriptLinesIn(TClientDataSet &lines, const TField &line, const AnsiString &directory, const QString &shownAs)
{
    lines.KeepTextsInFile(line, NativePath(directory), QByteArrayLiteral("\r\n"), shownAs);
}

void DropScriptLinesFile(TClientDataSet &lines, const TField &line)
{
    if (TextFile *file = lines.TextFileOf(line))
        file->removeName();
}

void WriteScriptFile(const AnsiString &path, TClientDataSet &lines, const TField &line)
{
    TextFile *held = lines.TextFileOf(line);
    if (held && held->placeable()) {
        held->finish();
        const QString placed = TFileReplacement::replaceWith(NativePath(path), held->directory(), held->descriptor(),
                                                             [held] { return held->giveName(); });
        if (!placed.isEmpty()) {
            held->renamed(placed);
            return;
        }
        held->removeName(); // read from for the copy below, never to be put in place
    }
    TFileReplacement file(NativePath(path));
    WriteScriptLines(lines, line, [&file](const char *bytes, qsizetype size) { file.write(bytes, size); });
    file.commit();
}
