#include "appserver/network/listenaddress.h"

#include "protocol/endpoint.h"

#include <QHostInfo>
#include <stdexcept>

namespace {

QString reasonOf(protocol::EndpointFault fault)
{
    switch (fault) {
    case protocol::EndpointFault::None:
        break;
    case protocol::EndpointFault::UnclosedBracket:
        return QStringLiteral("the \"]\" that closes the IPv6 address is missing");
    case protocol::EndpointFault::TextAfterBracket:
        return QStringLiteral("only \":\" and the port may follow \"]\"");
    case protocol::EndpointFault::NotIPv6InBrackets:
        return QStringLiteral("brackets hold an IPv6 address");
    case protocol::EndpointFault::UnbracketedIPv6:
        return QStringLiteral("an IPv6 address goes in brackets, as in [::1]:%1").arg(ListenAddress::kDefaultPort);
    case protocol::EndpointFault::BadPort:
        return QStringLiteral("the port is a number from 0 to 65535 (0 picks a free one)");
    }
    return {};
}

} // namespace

ListenAddress ListenAddress::parse(const QString &text, const QString &option)
{
    protocol::Endpoint endpoint;
    QString reason = reasonOf(protocol::parseEndpoint(text, kDefaultPort, 0, endpoint));
    if (reason.isEmpty() && endpoint.host.isEmpty())
        reason = QStringLiteral("name the host or address to listen on, as in 127.0.0.1:%1").arg(kDefaultPort);
    if (!reason.isEmpty())
        throw std::invalid_argument(QStringLiteral("%1 \"%2\": %3").arg(option, text, reason).toStdString());
    return { text, endpoint.host, quint16(endpoint.port) };
}

QList<QHostAddress> ListenAddress::addresses() const
{
    if (const QHostAddress address(host); !address.isNull())
        return { address };
    const QHostInfo found = QHostInfo::fromName(host);
    if (found.error() != QHostInfo::NoError || found.addresses().isEmpty())
        throw std::runtime_error(QStringLiteral("cannot listen on %1: the name %2 does not resolve (%3)")
                                     .arg(text, host, found.errorString())
                                     .toStdString());
    return found.addresses();
}
