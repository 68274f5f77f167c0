#include "hostlib/core/serveraddress.h"

#include "hostlib/core/hostsetting.h"

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
