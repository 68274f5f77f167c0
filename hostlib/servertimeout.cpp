#include "servertimeout.h"

#include "serveraddress.h"

#include <exceptions.h>
#include <socketconnection.h>

#include <QSettings>

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
    if (!optionTimeout.isEmpty())
        return ParseTimeout(optionTimeout, QStringLiteral("--timeout"));
    const QString environment = qEnvironmentVariable("QLX_TIMEOUT");
    if (!environment.isEmpty())
        return ParseTimeout(environment, QStringLiteral("QLX_TIMEOUT"));
    const QVariant setting = QSettings(ServerSettingsFile(), QSettings::IniFormat).value(QStringLiteral("timeout"));
    if (setting.isValid())
        return ParseTimeout(setting.toString(), ServerSettingsFile());
    return kDefaultTimeoutSeconds;
}
