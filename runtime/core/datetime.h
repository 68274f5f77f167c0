#pragma once

#include "runtime/core/export.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <functional>

// A moment as a day count: the whole part counts days from 30 December 1899,
// the fraction is the time of day.
using TDateTime = double;

// The user's regional settings for dates and times.
struct QLX_EXPORT TFormatSettings
{
    QString ShortDateFormat; // Qt date format, e.g. "dd/MM/yyyy"
    QChar DateSeparator;
    QChar TimeSeparator;
    QString LongTimeFormat; // Qt time format, e.g. "HH:mm:ss"

    // The settings of a locale; the C/POSIX locale gets the Brazilian conventions.
    static TFormatSettings fromLocale(const QLocale &locale);
};

// The settings every conversion uses unless handed others; tests pin them.
QLX_EXPORT TFormatSettings &FormatSettings();

// The current local date and time, from the system clock unless another clock is set.
QLX_EXPORT TDateTime Now();
// Replaces the clock Now() reads (a test's, for instance); an empty function puts
// the system clock back.
QLX_EXPORT void SetClock(std::function<TDateTime()> clock);
QLX_EXPORT TDateTime EncodeDate(int year, int month, int day);
QLX_EXPORT TDateTime EncodeTime(int hour, int minute, int second = 0, int msec = 0);
QLX_EXPORT void DecodeDate(TDateTime value, quint16 &year, quint16 &month, quint16 &day);
// The date alone for a whole day, else the date, a blank and the long time.
QLX_EXPORT QString DateTimeToStr(TDateTime value, const TFormatSettings &settings = FormatSettings());

QLX_EXPORT TDateTime DateTimeFromQt(const QDateTime &value);
QLX_EXPORT TDateTime DateFromQt(QDate date);
QLX_EXPORT QDateTime DateTimeToQt(TDateTime value);
