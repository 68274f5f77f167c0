#include "serveraddress.h"

#include <QSettings>
#include <QStandardPaths>

namespace {

QString optionAddress;

QString configuredAddress()
{
    if (!optionAddress.isEmpty())
        return optionAddress;
    const QString environment = qEnvironmentVariable("QLX_SERVER");
    if (!environment.isEmpty())
        return environment;
    return QSettings(ServerSettingsFile(), QSettings::IniFormat).value(QStringLiteral("server")).toString();
}

} // namespace

void SetServerAddressOption(const QString &hostAndPort)
{
    optionAddress = hostAndPort;
}

QString ServerSettingsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/qlx/qlxhost.conf");
}

QString WebURL()
{
    const QString address = configuredAddress();
    const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
    const QString host = colon < 0 ? address : address.left(colon);
    return host.isEmpty() ? QStringLiteral("127.0.0.1") : host;
}

int WebPort()
{
    const QString address = configuredAddress();
    const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const int port = colon < 0 ? 0 : address.mid(colon + 1).toInt(&ok);
    return ok && port > 0 && port < 65536 ? port : kDefaultServerPort;
}
