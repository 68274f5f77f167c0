#include "protocol/endpoint.h"

#include <QHostAddress>

namespace protocol {

namespace {

constexpr int kHighestPort = 65535;

bool readPort(QStringView digits, int lowestPort, int &port)
{
    if (digits.isEmpty() || digits.size() > 5)
        return false;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    port = digits.toInt();
    return port >= lowestPort && port <= kHighestPort;
}

} // namespace

EndpointFault parseEndpoint(QStringView text, int defaultPort, int lowestPort, Endpoint &endpoint)
{
    const QStringView setting = text.trimmed();
    QStringView host = setting;
    QStringView port;
    bool hasPort = false;
    if (setting.startsWith(QLatin1Char('['))) {
        const qsizetype close = setting.indexOf(QLatin1Char(']'));
        if (close < 0)
            return EndpointFault::UnclosedBracket;
        host = setting.mid(1, close - 1);
        const QStringView rest = setting.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return EndpointFault::TextAfterBracket;
        if (QHostAddress(host.toString()).protocol() != QAbstractSocket::IPv6Protocol)
            return EndpointFault::NotIPv6InBrackets;
        hasPort = !rest.isEmpty();
        port = rest.mid(1);
    } else if (setting.count(QLatin1Char(':')) > 1) {
        return EndpointFault::UnbracketedIPv6;
    } else if (const qsizetype colon = setting.indexOf(QLatin1Char(':')); colon >= 0) {
        host = setting.left(colon);
        port = setting.mid(colon + 1);
        hasPort = true;
    }
    int number = defaultPort;
    if (hasPort && !readPort(port, lowestPort, number))
        return EndpointFault::BadPort;
    endpoint = { host.toString(), number };
    return EndpointFault::None;
}

} // namespace protocol
