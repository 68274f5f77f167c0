#include "hostlib/core/servertimeout.h"

#include "hostlib/core/hostsetting.h"

#include "runtime/core/exceptions.h"
#include "runtime/core/socketconnection.h"


namespace {

QString optionTimeout;

} // namespace

void SetTimeoutOption(const QString &seconds)
{
    optionTimeout = seconds;
}

int ParseTimeout(const QString &text, const QString &source)
{
    bool ok = false;
    const int seconds = text.trimmed().toInt(&ok);
    if (!ok || seconds < 1 || seconds > kLongestTimeoutSeconds)
        throw EConvertError(QStringLiteral("Tempo de espera inválido em %1: '%2' (segundos, de 1 a %3).")
                                .arg(source, text, QString::number(kLongestTimeoutSeconds)));
    return seconds;
}

int ServerTimeout()
{
    const THostSetting setting
        = ReadHostSetting(optionTimeout, QStringLiteral("--timeout"), "QLX_TIMEOUT", QStringLiteral("timeout"));
    return setting.text.isEmpty() ? kDefaultTimeoutSeconds : ParseTimeout(setting.text, setting.origin);
}
