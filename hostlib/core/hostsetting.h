#pragma once

#include <QString>

// One of the host's settings as configured now, from the first of: the host's
// command-line option, an environment variable, a key of the settings file.
struct THostSetting
{
    QString text;   // empty when set nowhere
    QString origin; // where it was read, for a message about a malformed value
};

THostSetting ReadHostSetting(const QString &option, const QString &optionName, const char *environmentVariable,
                             const QString &settingsKey);
