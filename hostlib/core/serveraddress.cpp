#include "hostlib/core/serveraddress.h"

#include "hostlib/core/hostsetting.h"
#include "hostlib/core/serverorder.h"

#include "protocol/endpoint.h"
#include "runtime/core/exceptions.h"

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
    protocol::Endpoint endpoint;
    switch (protocol::parseEndpoint(text, kDefaultServerPort, 1, endpoint)) {
    case protocol::EndpointFault::None:
        break;
    case protocol::EndpointFault::UnclosedBracket:
        refuse(text, origin, QStringLiteral("Falta o \"]\" que fecha o endereço IPv6."));
    case protocol::EndpointFault::TextAfterBracket:
        refuse(text, origin, QStringLiteral("Depois de \"]\" só pode vir \":\" e a porta."));
    case protocol::EndpointFault::NotIPv6InBrackets:
        refuse(text, origin, QStringLiteral("Entre colchetes deve haver um endereço IPv6."));
    case protocol::EndpointFault::UnbracketedIPv6:
        refuse(text, origin, QStringLiteral("Um endereço IPv6 vai entre colchetes: [::1]:%1.").arg(kDefaultServerPort));
    case protocol::EndpointFault::BadPort:
        refuse(text, origin, QStringLiteral("A porta deve ser um número de 1 a 65535."));
    }
    return { endpoint.host.isEmpty() ? QStringLiteral("127.0.0.1") : endpoint.host, endpoint.port };
}

QList<TServerAddress> ParseServerAddresses(const QString &text, const QString &origin)
{
    const QStringList servers = text.split(QLatin1Char(','));
    if (servers.size() == 1)
        return { ParseServerAddress(text, origin) };
    QList<TServerAddress> addresses;
    for (const QString &server : servers) {
        if (server.trimmed().isEmpty())
            refuse(text, origin, QStringLiteral("A lista tem um servidor vazio entre as vírgulas."));
        addresses.append(ParseServerAddress(server.trimmed(), origin));
    }
    return addresses;
}

QList<TServerAddress> ConfiguredServerAddresses()
{
    const THostSetting setting
        = ReadHostSetting(optionAddress, QStringLiteral("--server"), "QLX_SERVER", QStringLiteral("server"));
    return ParseServerAddresses(setting.text, setting.origin);
}

QString WebURL()
{
    return ServersInTryOrder().constFirst().host;
}

int WebPort()
{
    return ServersInTryOrder().constFirst().port;
}
