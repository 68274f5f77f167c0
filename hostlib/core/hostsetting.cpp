#include "hostlib/core/hostsetting.h"

#include "hostlib/core/serveraddress.h"

#include <QSettings>

THostSetting ReadHostSetting(const QString &option, const QString &optionName, const char *environmentVariable,
                             const QString &settingsKey)
{
    if (!option.isEmpty())
        return { option, QStringLiteral("%1 (opção da linha de comando)").arg(optionName) };
    const QString environment = qEnvironmentVariable(environmentVariable);
    if (!environment.isEmpty())
        return { environment, QStringLiteral("%1 (variável de ambiente)").arg(QLatin1String(environmentVariable)) };
    const QString file = ServerSettingsFile();
    return { QSettings(file, QSettings::IniFormat).value(settingsKey).toString(),
             QStringLiteral("%1 (arquivo de configuração %2)").arg(settingsKey, file) };
}
