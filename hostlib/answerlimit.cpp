#include "answerlimit.h"

#include "serveraddress.h"

#include <socketconnection.h>

#include <QSettings>

namespace {

qint64 mebibytes(const QString &text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    return ok && value > 0 && value < (qint64(1) << 40) ? value << 20 : 0;
}

} // namespace

qint64 AnswerMemoryLimit()
{
    if (const qint64 fromEnvironment = mebibytes(qEnvironmentVariable("QLX_ANSWER_LIMIT_MIB")))
        return fromEnvironment;
    const QString configured = QSettings(ServerSettingsFile(), QSettings::IniFormat).value(QStringLiteral("answer-limit-mib")).toString();
    if (const qint64 fromSettings = mebibytes(configured))
        return fromSettings;
    return TSocketConnection::kDefaultAnswerLimit;
}
