#pragma once

#include <export.h>

#include <QString>

// Where the application server is. Read at every call, from the first of:
// the host's command-line option (SetServerAddressOption), the environment
// variable QLX_SERVER ("host:port"), the settings file's key "server".
QLX_EXPORT QString WebURL();
QLX_EXPORT int WebPort();

QLX_EXPORT void SetServerAddressOption(const QString &hostAndPort);
// The settings file read last: $XDG_CONFIG_HOME/qlx/qlxhost.conf by default.
QLX_EXPORT QString ServerSettingsFile();

constexpr int kDefaultServerPort = 21102;
