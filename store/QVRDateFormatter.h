#pragma once

#include <QString>

#include <memory>
#include <optional>

#include <unicode/calendar.h>

#include "platform/core/NotificationCenter.h"

// Turns dates (seconds since 1970) into the texts the user sees, in the
// user's locale, calendar and time zone, and counts calendar units between
// dates. Formatters are built on first use and dropped when the clock, the
// time zone or the locale changes.
//
// The shared instance belongs to the main thread: use it only there.
class QVRDateFormatter
{
public:
    enum class CalendarUnit
    {
        Era,
        Year,
        Month,
        Day,
        Hour,
        Minute,
        Second,
        Week,
        Weekday
    };

    static QVRDateFormatter& sharedFormatter();

    // An empty locale name or time-zone id follows the system's, re-read on
    // every rebuild (tests pass fixed ones, e.g. "de_DE" and "Europe/Berlin").
    explicit QVRDateFormatter(const QString& localeName = {}, const QString& timeZoneId = {});
    ~QVRDateFormatter();
    QVRDateFormatter(const QVRDateFormatter&) = delete;
    QVRDateFormatter& operator=(const QVRDateFormatter&) = delete;

    // Drops every formatter and the calendar; the next use rebuilds them.
    void reset();

    // "a moment ago", "<n units> ago", or the "MMMM d" date, wrapped in the
    // localized `format` (one "%@") when given. Null for a missing date or
    // one at most one second after 1970.
    QString updatedText(const QString& format, std::optional<double> date);
    QString updatedText(const QString& format, std::optional<double> date, std::optional<double> toDate);

    // Mode 0: the "MMMM d" date. Mode 1: today/yesterday words; mode 2 also
    // weekday names within the next week. "" for a missing date.
    QString displayDate(std::optional<double> date, qint64 mode);
    QString displayDate(std::optional<double> date, qint64 mode, std::optional<double> toDate);

    qint64 minutesSinceDate(double date);
    qint64 minutesUntilDate(double date);
    qint64 minutesUntilDate(double date, double fromDate);
    qint64 hoursSinceDate(double date);
    qint64 hoursUntilDate(double date);
    qint64 hoursUntilDate(double date, double fromDate);
    // Midnights passed from today (or `fromDate`) to `date`'s day.
    qint64 daysUntilDate(double date);
    qint64 daysUntilDate(double date, double fromDate);
    qint64 monthsUntilDate(double date, double fromDate);
    // Whole years, months or days between the starts of the two days; -1 for
    // any other unit.
    qint64 calendarUnits(CalendarUnit unit, double fromDate, double toDate);

    // "yyyy-MM-dd" in the user's time zone.
    std::optional<double> dateFromString(const QString& string);
    QString stringFromDate(std::optional<double> date);

    // Today at hours:minutes:00; nothing when hours is negative.
    std::optional<double> dateForHours(qint64 hours, qint64 minutes);

    // The user's calendar (valid until the next reset).
    const icu::Calendar& calendar();

    // Calendar helpers: now plus (or minus) `days` calendar days, saturating
    // at the calendar's range; and `date`'s day at hours:minutes:00.
    static double dateDaysFromNow(const icu::Calendar& calendar, qint64 days);
    static double dateDaysAgo(const icu::Calendar& calendar, qint64 days);
    static double dateFromDate(const icu::Calendar& calendar, double date, qint64 hours, qint64 minutes);

    static bool isEarlierThan(double date, double other) { return date < other; }
    static bool isEarlierThanOrEqualTo(double date, double other) { return !(date > other); }
    static bool isLaterThan(double date, double other) { return date > other; }
    static bool isLaterThanOrEqualTo(double date, double other) { return !(date < other); }

private:
    struct Formatters;
    Formatters& formatters();
    qint64 difference(double from, double to, int field);

    bool m_shared = false;
    QString m_localeName;
    QString m_timeZoneId;
    std::unique_ptr<Formatters> m_formatters;
    // Expires with this object, so a reset queued to the main thread can tell.
    std::shared_ptr<char> m_lifetime;
    platform::ObserverToken m_clockObserver;
    platform::ObserverToken m_timeZoneObserver;
    platform::ObserverToken m_localeObserver;
};
