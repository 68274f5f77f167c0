#include "serveraddress.h"

#include "hostsetting.h"

#include <exceptions.h>

#include <QHostAddress>
#include <QStandardPaths>

namespace {

QString optionAddress;

[[noreturn]] void refuse(const QString &text, const QString &origin, const QString &reason)
{
    throw Exception(QStringLiteral("Endereço do servidor de aplicação inválido em %1: \"%2\". %3")
                        .arg(origin, text, reason));
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

TServerAddress ParseServerAddress(const QString &text, const QString &origin)
{
    const QString setting = text.trimmed();
    QString host = setting;
    QString port;
    bool hasPort = false;
    if (setting.startsWith(QLatin1Char('['))) {
        const qsizetype close = setting.indexOf(QLatin1Char(']'));
        if (close < 0)
            refuse(text, origin, QStringLiteral("Falta o \"]\" que fecha o endereço IPv6."));
        host = setting.mid(1, close - 1);
        const QString rest = setting.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            refuse(text, origin, QStringLiteral("Depois de \"]\" só pode vir \":\" e a porta."));
        hasPort = !rest.isEmpty();
        port = rest.mid(1);
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
            refuse(text, origin, QStringLiteral("Entre colchetes deve haver um endereço IPv6."));
    } else if (setting.count(QLatin1Char(':')) > 1) {
        refuse(text, origin, QStringLiteral("Um endereço IPv6 vai entre colchetes: [::1]:%1.").arg(kDefaultServerPort));
    } else if (const qsizetype colon = setting.indexOf(QLatin1Char(':')); colon >= 0) {
        host = setting.left(colon);
        port = setting.mid(colon + 1);
        hasPort = true;
    }
    TServerAddress address { host.isEmpty() ? QStringLiteral("127.0.0.1") : host, kDefaultServerPort };
    if (hasPort) {
        bool digits = !port.isEmpty();
        for (const QChar c : port)
            digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const int number = digits && port.size() <= 5 ? port.toInt() : 0;
        if (number < 1 || number > 65535)
            refuse(text, origin, QStringLiteral("A porta deve ser um número de 1 a 65535."));
        address.port = number;
    }
    return address;
}

TServerAddress ConfiguredServerAddress()
{
    const THostSetting setting
        = ReadHostSetting(optionAddress, QStringLiteral("--server"), "QLX_SERVER", QStringLiteral("server"));
    return ParseServerAddress(setting.text, setting.origin);
}

QString WebURL()
{
    return ConfiguredServerAddress().host;
}

int WebPort()
{
    return ConfiguredServerAddress().port;
}
