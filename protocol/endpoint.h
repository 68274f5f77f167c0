#pragma once

#include <QString>
#include <QStringView>

namespace protocol {

// A server's address as the client's settings and the server's --listen write it:
// "host", "host:port", "[IPv6]" or "[IPv6]:port". An IPv6 address goes in brackets,
// so that its colons are never taken for the port's.
struct Endpoint
{
    QString host; // an IPv6 literal without its brackets; empty when none was written
    int port = 0;
};

enum class EndpointFault {
    None,
    UnclosedBracket,   // "[::1"
    TextAfterBracket,  // "[::1]x"
    NotIPv6InBrackets, // "[127.0.0.1]"
    UnbracketedIPv6,   // "::1:21102"
    BadPort,           // "host:", "host:abc", "host:-5", "host:99999", below `lowestPort`
};

// Reads `text` (surrounding blanks ignored) into `endpoint`. Without a port the port
// is `defaultPort`; a written port is decimal digits only, from `lowestPort` to 65535.
EndpointFault parseEndpoint(QStringView text, int defaultPort, int lowestPort, Endpoint &endpoint);

} // namespace protocol
