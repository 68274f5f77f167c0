// Any response payload, or part of an answer, through the client's decoding and the
// record-set load of its packet, as a GetIdioma answer is loaded: either refused with
// the protocol's or the record set's error, or loaded and readable.
#include <clientdataset.h>
#include <exceptions.h>
#include <message.h>
#include <protocolerror.h>

#include <QCborMap>
#include <cstdint>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        TClientDataSet languages;
        languages.AddField(QStringLiteral("IDIDIOMA"), TFieldType::ftString, 3);
        languages.AddField(QStringLiteral("DSIDIOMA"), TFieldType::ftString, 30);
        languages.AddField(QStringLiteral("IDIPROP"), TFieldType::ftString, 3);
        languages.AddField(QStringLiteral("DTGERIDITRAD"), TFieldType::ftDateTime, 0);
        TDataSetLoad load(languages);
        const QByteArray payload(reinterpret_cast<const char *>(data), qsizetype(size));
        if (protocol::readPart(payload, load)) {
            languages.SetData(load, noMoreLanguages());
        } else {
            const protocol::Response response = protocol::decodeResponse(payload);
            const QCborValue packet = response.result.toMap().value(QLatin1String("packet"));
            if (!packet.isTag() || !packet.taggedValue().isByteArray())
                return 0;
            languages.SetData(load, packet.taggedValue().toByteArray());
        }
        for (languages.First(); !languages.Eof(); languages.Next()) {
            languages.FieldByName(QStringLiteral("DSIDIOMA"))->AsString();
            languages.FieldByName(QStringLiteral("DTGERIDITRAD"))->AsDateTime();
        }
        languages.Locate(QStringLiteral("IDIDIOMA"), "ENG", true);
    } catch (const protocol::ProtocolError &) {
    } catch (const EDatabaseError &) {
    }
    return 0;
}
