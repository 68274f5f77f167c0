#pragma once

#include "runtime/core/export.h"

// Puts Qt's own texts (the directory dialog's places, columns, entry kinds and
// filters, the standard buttons, the edit fields' context menus) in Brazilian
// Portuguese, the screens' language, whatever the system's locale, and makes it
// Qt's default locale (the calendar's months and weekdays, the dialogs' dates); the
// screens' own date and time formats still follow the user's locale. Qt's
// translation files come from Debian's qt6-translations-l10n; false when they are
// not there, and most of Qt's texts then stay in English.
QLX_EXPORT bool InstallQtTranslations();
