#include "hostlib/core/checkresultserv.h"

#include "hostlib/core/errors.h"

#include "runtime/core/exceptions.h"

#include <QCborMap>

QByteArray CheckResultServ(const OleVariant &result, bool showError, int)
{
    const QCborMap map = result.toMap();
    if (!result.isMap() || !map.value(QLatin1String("ok")).isBool())
        throw Exception(QStringLiteral("Resultado do servidor de aplicação em formato desconhecido."));
    if (!map.value(QLatin1String("ok")).toBool()) {
        const QString message = map.value(QLatin1String("message")).toString();
        if (showError)
            MensErro(message, true);
        throw Exception(message);
    }
    const QCborValue packet = map.value(QLatin1String("packet"));
    if (!packet.isTag() || packet.tag() != QCborTag(QCborKnownTags::EncodedCbor) || !packet.taggedValue().isByteArray())
        throw Exception(QStringLiteral("O servidor de aplicação não devolveu um pacote de dados."));
    return packet.taggedValue().toByteArray();
}
