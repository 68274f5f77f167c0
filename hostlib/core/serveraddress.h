#pragma once

#include "runtime/core/export.h"

#include <QString>

// Where the application server is. Read at every call, from the first of:
// the host's command-line option (SetServerAddressOption), the environment
// variable QLX_SERVER, the settings file's key "server"; else 127.0.0.1:21102.
// The setting reads "host", "host:port", "[IPv6]" or "[IPv6]:port".
struct TServerAddress
{
    QString host; // an IPv6 literal without its brackets
    int port = 0;
};

constexpr int kDefaultServerPort = 21102;

// The address configured now; a malformed setting raises an Exception whose
// message names the setting, its value and where it came from.
QLX_EXPORT TServerAddress ConfiguredServerAddress();
// Reads one setting's text; `origin` names where it came from, for the message.
QLX_EXPORT TServerAddress ParseServerAddress(const QString &text, const QString &origin);

QLX_EXPORT QString WebURL();
QLX_EXPORT int WebPort();

QLX_EXPORT void SetServerAddressOption(const QString &hostAndPort);
// The settings file read last: $XDG_CONFIG_HOME/qlx/qlxhost.conf by default.
QLX_EXPORT QString ServerSettingsFile();
