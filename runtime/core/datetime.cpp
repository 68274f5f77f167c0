#include "runtime/core/datetime.h"

#include <QRegularExpression>
#include <cmath>

namespace {

constexpr qint64 kJulianDayOfDayZero = 2415019; // 30 December 1899
constexpr double kMsecsPerDay = 86400000.0;

QChar firstSeparator(const QString &format)
{
    for (QChar c : format) {
        if (!c.isLetter() && !c.isSpace() && c != QLatin1Char('\''))
            return c;
    }
    return QChar();
}

} // namespace

TFormatSettings TFormatSettings::fromLocale(const QLocale &locale)
{
    const bool neutral = locale.language() == QLocale::C;
    const QLocale regional = neutral ? QLocale(QLocale::Portuguese, QLocale::Brazil) : locale;
    TFormatSettings settings;
    settings.ShortDateFormat = regional.dateFormat(QLocale::ShortFormat);
    // Qt's short formats of some locales carry a two-digit year; the screen wants four.
    if (!settings.ShortDateFormat.contains(QLatin1String("yyyy")))
        settings.ShortDateFormat.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    // Day and month always in two digits, so that a fixed edit mask fits every date.
    static const QRegularExpression lone(QStringLiteral("(?<![dM])([dM])(?![dM])"));
    settings.ShortDateFormat.replace(lone, QStringLiteral("\\1\\1"));
    settings.DateSeparator = firstSeparator(settings.ShortDateFormat);
    const QString timeFormat = regional.timeFormat(QLocale::ShortFormat);
    settings.TimeSeparator = firstSeparator(timeFormat);
    if (settings.TimeSeparator.isNull())
        settings.TimeSeparator = QLatin1Char(':');
    settings.LongTimeFormat = QStringLiteral("HH%1mm%1ss").arg(settings.TimeSeparator);
    return settings;
}

TFormatSettings &FormatSettings()
{
    static TFormatSettings settings = TFormatSettings::fromLocale(QLocale::system());
    return settings;
}

TDateTime DateFromQt(QDate date)
{
    return double(date.toJulianDay() - kJulianDayOfDayZero);
}

TDateTime DateTimeFromQt(const QDateTime &value)
{
    return DateFromQt(value.date()) + value.time().msecsSinceStartOfDay() / kMsecsPerDay;
}

QDateTime DateTimeToQt(TDateTime value)
{
    const double days = std::floor(value);
    const auto msecs = int(std::llround((value - days) * kMsecsPerDay));
    const QDate date = QDate::fromJulianDay(qint64(days) + kJulianDayOfDayZero);
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(qMin(msecs, int(kMsecsPerDay) - 1)));
}

namespace {
std::function<TDateTime()> &installedClock()
{
    static std::function<TDateTime()> installed;
    return installed;
}
} // namespace

void SetClock(std::function<TDateTime()> replacement)
{
    installedClock() = std::move(replacement);
}

TDateTime Now()
{
    return installedClock() ? installedClock()() : DateTimeFromQt(QDateTime::currentDateTime());
}

TDateTime EncodeDate(int year, int month, int day)
{
    return DateFromQt(QDate(year, month, day));
}

TDateTime EncodeTime(int hour, int minute, int second, int msec)
{
    return QTime(hour, minute, second, msec).msecsSinceStartOfDay() / kMsecsPerDay;
}

void DecodeDate(TDateTime value, quint16 &year, quint16 &month, quint16 &day)
{
    const QDate date = DateTimeToQt(value).date();
    year = quint16(date.year());
    month = quint16(date.month());
    day = quint16(date.day());
}

QString DateTimeToStr(TDateTime value, const TFormatSettings &settings)
{
    const QDateTime moment = DateTimeToQt(value);
    const QString date = moment.date().toString(settings.ShortDateFormat);
    if (moment.time().msecsSinceStartOfDay() == 0)
        return date;
    return date + QLatin1Char(' ') + moment.time().toString(settings.LongTimeFormat);
}
