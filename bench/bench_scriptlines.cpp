// How fast, and with how much memory, a large GetPropriedCds answer goes from
// the frame the socket delivers to the line record set, and from there to the
// script file. Prints its figures.
#include <checkresultserv.h>
#include <clientdataset.h>
#include <datapacket.h>
#include <frame.h>
#include <message.h>
#include <scriptfile.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <malloc.h>

namespace {

// Heap bytes in use now.
double liveMiB()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / 1048576.0;
}

QByteArray responseFrame(int lines)
{
    protocol::DataPacketWriter writer({ { QStringLiteral("LINHA"), protocol::FieldKind::String, 4000 } });
    for (int i = 0; i < lines; ++i) {
        writer.addString("INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO) VALUES ('PRODUTO', '"
                         + QByteArray::number(i) + "', 'DSPRODUTO', 'ENG', 'Running shoes') ON CONFLICT DO NOTHING;");
    }
    return protocol::frameOf(protocol::encodeOkResponse(writer.finish(), { QStringLiteral("PRODUTO") }));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 1000000;

    QElapsedTimer clock;
    clock.start();
    QByteArray frame = responseFrame(lines);
    const double frameMiB = frame.size() / 1048576.0;
    const qint64 encodeMs = clock.restart();

    TClientDataSet set;
    TField *field = set.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
    const double withFrame = liveMiB();
    double mostHeld = 0;
    {
        protocol::FrameReader reader;
        reader.append(std::exchange(frame, QByteArray()));
        QByteArray payload;
        reader.next(payload);
        const protocol::Response response = protocol::decodeResponse(payload);
        payload.clear();
        const QByteArray packet = CheckResultServ(response.result, true, 0);
        mostHeld = liveMiB();
        set.SetData(packet);
        mostHeld = std::max(mostHeld, liveMiB());
    }
    const qint64 decodeMs = clock.restart();
    const double withSet = liveMiB();

    QTemporaryDir dir;
    const AnsiString path = dir.filePath(QStringLiteral("TRD_bench.sql")).toStdString();
    WriteScriptFile(path, set, *field);
    const qint64 writeMs = clock.elapsed();

    std::printf("lines: %d, response frame: %.1f MiB (encoded in %lld ms)\n", lines, frameMiB,
                static_cast<long long>(encodeMs));
    std::printf("frame to record set: %lld ms (%.0f lines/s)\n", static_cast<long long>(decodeMs),
                decodeMs > 0 ? lines * 1000.0 / double(decodeMs) : 0.0);
    std::printf("heap: %.1f MiB with the frame, %.1f MiB at most while decoding, %.1f MiB with the record set "
                "(%.0f bytes a line)\n",
                withFrame, mostHeld, withSet, withSet * 1048576.0 / lines);
    std::printf("write script file: %lld ms, %.1f MiB\n", static_cast<long long>(writeMs),
                QFile(QString::fromStdString(path)).size() / 1048576.0);
    return 0;
}
