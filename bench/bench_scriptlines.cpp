// How fast and how compactly a large GetPropriedCds result is decoded into the
// line record set and written to the script file. Prints its figures.
#include <clientdataset.h>
#include <datapacket.h>
#include <scriptfile.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 1000000;

    QElapsedTimer clock;
    clock.start();
    protocol::DataPacketWriter writer({ { QStringLiteral("LINHA"), protocol::FieldKind::String, 4000 } });
    for (int i = 0; i < lines; ++i) {
        const QByteArray line = "INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO) VALUES ('PRODUTO', '"
            + QByteArray::number(i) + "', 'DSPRODUTO', 'ENG', 'Running shoes') ON CONFLICT DO NOTHING;";
        writer.addString(line);
    }
    const QByteArray packet = writer.finish();
    const qint64 encodeMs = clock.restart();

    const long before = residentKiB();
    TClientDataSet set;
    TField *field = set.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
    set.SetData(packet);
    const qint64 decodeMs = clock.restart();
    const long after = residentKiB();

    QTemporaryDir dir;
    const AnsiString path = dir.filePath(QStringLiteral("TRD_bench.sql")).toStdString();
    WriteScriptFile(path, set, *field);
    const qint64 writeMs = clock.elapsed();

    std::printf("lines: %d, packet: %.1f MiB\n", lines, packet.size() / 1048576.0);
    std::printf("encode packet: %lld ms\n", static_cast<long long>(encodeMs));
    std::printf("decode into record set: %lld ms (%.0f lines/s)\n", static_cast<long long>(decodeMs),
                decodeMs > 0 ? lines * 1000.0 / double(decodeMs) : 0.0);
    std::printf("record set memory: %.1f MiB (%.0f bytes a line)\n", (after - before) / 1024.0,
                (after - before) * 1024.0 / lines);
    std::printf("write script file: %lld ms, %.1f MiB\n", static_cast<long long>(writeMs),
                QFile(QString::fromStdString(path)).size() / 1048576.0);
    return 0;
}
