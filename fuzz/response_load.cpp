// Any response payload, or part of an answer, through the client's decoding and the
// record-set load of its packet, as a GetIdioma answer is loaded: either refused with
// the protocol's or the record set's error, or loaded and readable. The same payload
// loads twice, its names once in memory and once in a file, as the script lines are
// kept: both must refuse it alike or read back the same values.
#include "protocol/message.h"
#include "protocol/protocolerror.h"
#include "runtime/core/clientdataset.h"
#include "runtime/core/exceptions.h"

#include <QCborMap>
#include <QDir>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

// The final packet of an answer whose rows all came in parts.
QByteArray noMoreLanguages()
{
    protocol::DataPacketWriter writer({ { QStringLiteral("IDIDIOMA"), protocol::FieldKind::String, 3 },
                                        { QStringLiteral("DSIDIOMA"), protocol::FieldKind::String, 30 },
                                        { QStringLiteral("IDIPROP"), protocol::FieldKind::String, 3 },
                                        { QStringLiteral("DTGERIDITRAD"), protocol::FieldKind::DateTime, 0 } });
    return writer.finish();
}

// The values read back, or nothing when the payload was refused or holds no packet.
std::optional<QByteArrayList> load(const QByteArray &payload, const QString &textDirectory)
{
    try {
        TClientDataSet languages;
        languages.AddField(QStringLiteral("IDIDIOMA"), TFieldType::ftString, 3);
        const TField *name = languages.AddField(QStringLiteral("DSIDIOMA"), TFieldType::ftString, 30);
        languages.AddField(QStringLiteral("IDIPROP"), TFieldType::ftString, 3);
        languages.AddField(QStringLiteral("DTGERIDITRAD"), TFieldType::ftDateTime, 0);
        if (!textDirectory.isEmpty())
            languages.KeepTextsInFile(*name, textDirectory, QByteArrayLiteral("\r\n"));
        TDataSetLoad load(languages);
        if (protocol::readPart(payload, load)) {
            languages.SetData(load, noMoreLanguages());
        } else {
            const protocol::Response response = protocol::decodeResponse(payload);
            const QCborValue packet = response.result.toMap().value(QLatin1String("packet"));
            if (!packet.isTag() || !packet.taggedValue().isByteArray())
                return std::nullopt;
            languages.SetData(load, packet.taggedValue().toByteArray());
        }
        QByteArrayList values;
        for (languages.First(); !languages.Eof(); languages.Next()) {
            values << QByteArray::fromStdString(languages.FieldByName(QStringLiteral("IDIDIOMA"))->AsString());
            values << QByteArray::fromStdString(name->AsString()) + (name->IsNull() ? "(null)" : "");
            values << QByteArray::number(languages.FieldByName(QStringLiteral("DTGERIDITRAD"))->AsDateTime(), 'g', 17);
        }
        values << QByteArray::number(languages.Locate(QStringLiteral("DSIDIOMA"), "English", true));
        return values;
    } catch (const protocol::ProtocolError &) {
    } catch (const EDatabaseError &) {
    }
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QTemporaryDir textDirectory;
    const QByteArray payload(reinterpret_cast<const char *>(data), qsizetype(size));
    if (load(payload, QString()) != load(payload, textDirectory.path()))
        std::abort();
    if (!QDir(textDirectory.path()).entryList(QDir::Files | QDir::Hidden).isEmpty())
        std::abort(); // a record set's file outlived it
    return 0;
}
