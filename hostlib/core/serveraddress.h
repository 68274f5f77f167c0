#pragma once

#include "runtime/core/export.h"

#include <QList>
#include <QString>

// Where the application servers are. Read at every call, from the first of:
// the host's command-line option (SetServerAddressOption), the environment
// variable QLX_SERVER, the settings file's key "server"; else 127.0.0.1:21102.
// The setting is a comma-separated list of servers, each "host", "host:port",
// "[IPv6]" or "[IPv6]:port".
struct TServerAddress
{
    QString host; // an IPv6 literal without its brackets
    int port = 0;

    bool operator==(const TServerAddress &other) const = default;
    // "host:port", as the connection's messages name a server.
    QString name() const { return host + QLatin1Char(':') + QString::number(port); }
};

constexpr int kDefaultServerPort = 21102;

// The servers configured now, in the setting's order; a malformed one raises an
// Exception whose message names the setting, the server's text and where it came from.
QLX_EXPORT QList<TServerAddress> ConfiguredServerAddresses();
// Reads one server's text; `origin` names where it came from, for the message.
QLX_EXPORT TServerAddress ParseServerAddress(const QString &text, const QString &origin);
// Reads a setting's comma-separated list of servers.
QLX_EXPORT QList<TServerAddress> ParseServerAddresses(const QString &text, const QString &origin);

// The server the next connect tries first: the first of ServersInTryOrder().
QLX_EXPORT QString WebURL();
QLX_EXPORT int WebPort();

QLX_EXPORT void SetServerAddressOption(const QString &hostAndPort);
// The settings file read last: $XDG_CONFIG_HOME/qlx/qlxhost.conf by default.
QLX_EXPORT QString ServerSettingsFile();
