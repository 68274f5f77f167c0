#include "hostlib/core/answerlimit.h"

#include "hostlib/core/hostsetting.h"

#include "runtime/core/exceptions.h"
#include "runtime/core/socketconnection.h"

qint64 AnswerMemoryLimit()
{
    const THostSetting setting
        = ReadHostSetting(QString(), QString(), "QLX_ANSWER_LIMIT_MIB", QStringLiteral("answer-limit-mib"));
    if (setting.text.isEmpty())
        return TSocketConnection::kDefaultAnswerLimit;
    bool ok = false;
    const qint64 mebibytes = setting.text.trimmed().toLongLong(&ok);
    if (!ok || mebibytes < 1 || mebibytes > kLargestAnswerLimitMiB)
        throw EConvertError(QStringLiteral("Limite de memória inválido em %1: '%2' (MiB, de 1 a %3).")
                                .arg(setting.origin, setting.text, QString::number(kLargestAnswerLimitMiB)));
    return mebibytes << 20;
}
