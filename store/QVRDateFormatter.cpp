#include "store/QVRDateFormatter.h"

#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/core/SystemChanges.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRRunOnMainThread.h"

#include <unicode/datefmt.h>
#include <unicode/dtptngen.h>
#include <unicode/measfmt.h>
#include <unicode/measunit.h>
#include <unicode/measure.h>
#include <unicode/reldatefmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

icu::UnicodeString toIcu(const QString& s)
{
    return icu::UnicodeString(reinterpret_cast<const UChar*>(s.utf16()), int32_t(s.size()));
}

QString fromIcu(const icu::UnicodeString& s)
{
    return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

constexpr double kMillisPerSecond = 1000.0;

// Puts `text` in place of the first "%@" of `format`.
QString fill(const QString& format, const QString& text)
{
    QString out = format;
    const qsizetype at = out.indexOf(QLatin1String("%@"));
    if (at >= 0)
        out.replace(at, 2, text);
    return out;
}

} // namespace

struct QVRDateFormatter::Formatters
{
    icu::Locale locale;
    std::unique_ptr<icu::TimeZone> timeZone;
    std::unique_ptr<icu::Calendar> calendar;
    std::unique_ptr<icu::SimpleDateFormat> standardFormatter;
    std::unique_ptr<icu::SimpleDateFormat> dateFormatter;
    std::unique_ptr<icu::RelativeDateTimeFormatter> relativeFormatter;
    std::unique_ptr<icu::DateFormat> comparisonFormatter;
    std::unique_ptr<icu::SimpleDateFormat> dayFormatter;
    std::unique_ptr<icu::MeasureFormat> componentsFormatter;

    // A formatter for the locale's form of a skeleton such as "MMMMd".
    std::unique_ptr<icu::SimpleDateFormat> fromSkeleton(const char* skeleton) const
    {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::DateTimePatternGenerator> generator(
            icu::DateTimePatternGenerator::createInstance(locale, status));
        icu::UnicodeString pattern = U_SUCCESS(status)
                                         ? generator->getBestPattern(icu::UnicodeString(skeleton), status)
                                         : icu::UnicodeString(skeleton);
        if (U_FAILURE(status))
            pattern = icu::UnicodeString(skeleton);
        status = U_ZERO_ERROR;
        auto format = std::make_unique<icu::SimpleDateFormat>(pattern, locale, status);
        if (U_FAILURE(status))
            return nullptr;
        format->setCalendar(*calendar);
        return format;
    }
};

QVRDateFormatter& QVRDateFormatter::sharedFormatter()
{
    // Lives as long as the process: observers and callers hold it by reference.
    static auto* formatter = [] {
        auto* f = new QVRDateFormatter;
        f->m_shared = true;
        return f;
    }();
    return *formatter;
}

QVRDateFormatter::QVRDateFormatter(const QString& localeName, const QString& timeZoneId)
    : m_localeName(localeName), m_timeZoneId(timeZoneId), m_lifetime(std::make_shared<char>())
{
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<char> alive = m_lifetime;
    auto observer = [this, alive](const platform::Notification&) {
        // The notices may come from any thread, while the formatters are in
        // use on the main thread: drop them there, never underneath a user.
        QVRRunOnMainThread([this, alive] {
            if (alive.lock())
                reset();
        });
    };
    m_clockObserver = center.addObserver(platform::SystemClockDidChangeNotification, nullptr, observer);
    m_timeZoneObserver = center.addObserver(platform::SystemTimeZoneDidChangeNotification, nullptr, observer);
    m_localeObserver = center.addObserver(platform::CurrentLocaleDidChangeNotification, nullptr, observer);
}

QVRDateFormatter::~QVRDateFormatter() = default;

void QVRDateFormatter::reset()
{
    Q_ASSERT(!m_shared || platform::isMainThread());
    m_formatters.reset();
}

QVRDateFormatter::Formatters& QVRDateFormatter::formatters()
{
    Q_ASSERT(!m_shared || platform::isMainThread());
    if (m_formatters)
        return *m_formatters;
    auto f = std::make_unique<Formatters>();
    QString localeName = m_localeName.isEmpty() ? platform::currentLocaleName() : m_localeName;
    if (localeName.isEmpty())
        localeName = QStringLiteral("en_US");
    f->locale = icu::Locale(localeName.toUtf8().constData());

    const QString zoneId = m_timeZoneId.isEmpty() ? platform::currentTimeZoneId() : m_timeZoneId;
    f->timeZone.reset(icu::TimeZone::createTimeZone(toIcu(zoneId)));
    if (!f->timeZone || *f->timeZone == icu::TimeZone::getUnknown()) {
        if (!m_timeZoneId.isEmpty())
            platform::log(QStringLiteral("Unknown time zone %1; using the system's").arg(zoneId));
        f->timeZone.reset(icu::TimeZone::detectHostTimeZone());
    }

    UErrorCode status = U_ZERO_ERROR;
    f->calendar.reset(icu::Calendar::createInstance(f->timeZone->clone(), f->locale, status));
    if (U_FAILURE(status) || !f->calendar) {
        // The Gregorian calendar needs no locale data; it is the last resort.
        status = U_ZERO_ERROR;
        f->calendar.reset(
            icu::Calendar::createInstance(f->timeZone->clone(), icu::Locale::getRoot(), status));
    }

    status = U_ZERO_ERROR;
    f->standardFormatter =
        std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString("yyyy-MM-dd"), f->locale, status);
    f->standardFormatter->setCalendar(*f->calendar);
    f->standardFormatter->setLenient(false);

    f->dateFormatter = f->fromSkeleton("MMMMd");
    f->dayFormatter = f->fromSkeleton("EEEE");

    status = U_ZERO_ERROR;
    f->relativeFormatter = std::make_unique<icu::RelativeDateTimeFormatter>(f->locale, status);
    if (U_FAILURE(status))
        f->relativeFormatter.reset();

    f->comparisonFormatter.reset(icu::DateFormat::createDateInstance(icu::DateFormat::kShort, f->locale));
    if (f->comparisonFormatter)
        f->comparisonFormatter->setCalendar(*f->calendar);

    status = U_ZERO_ERROR;
    f->componentsFormatter = std::make_unique<icu::MeasureFormat>(f->locale, UMEASFMT_WIDTH_WIDE, status);
    if (U_FAILURE(status))
        f->componentsFormatter.reset();

    m_formatters = std::move(f);
    return *m_formatters;
}

namespace {

QString formatWith(icu::DateFormat* format, double date)
{
    if (!format)
        return {};
    icu::UnicodeString out;
    format->format(date * kMillisPerSecond, out);
    return fromIcu(out);
}

int icuField(QVRDateFormatter::CalendarUnit unit)
{
    switch (unit) {
    case QVRDateFormatter::CalendarUnit::Era:
        return UCAL_ERA;
    case QVRDateFormatter::CalendarUnit::Year:
        return UCAL_YEAR;
    case QVRDateFormatter::CalendarUnit::Month:
        return UCAL_MONTH;
    case QVRDateFormatter::CalendarUnit::Day:
        return UCAL_DATE;
    case QVRDateFormatter::CalendarUnit::Hour:
        return UCAL_HOUR_OF_DAY;
    case QVRDateFormatter::CalendarUnit::Minute:
        return UCAL_MINUTE;
    case QVRDateFormatter::CalendarUnit::Second:
        return UCAL_SECOND;
    case QVRDateFormatter::CalendarUnit::Week:
        return UCAL_WEEK_OF_YEAR;
    case QVRDateFormatter::CalendarUnit::Weekday:
        return UCAL_DAY_OF_WEEK;
    }
    return UCAL_DATE;
}

// The start of `date`'s day on `calendar` (which is left changed).
double startOfDay(icu::Calendar& calendar, double date)
{
    UErrorCode status = U_ZERO_ERROR;
    calendar.setTime(date * kMillisPerSecond, status);
    calendar.set(UCAL_HOUR_OF_DAY, 0);
    calendar.set(UCAL_MINUTE, 0);
    calendar.set(UCAL_SECOND, 0);
    calendar.set(UCAL_MILLISECOND, 0);
    const UDate start = calendar.getTime(status);
    return U_SUCCESS(status) ? start / kMillisPerSecond : date;
}

} // namespace

// The whole number of `field` units from `from` to `to` on the user's
// calendar, truncated toward zero.
qint64 QVRDateFormatter::difference(double from, double to, int field)
{
    if (!std::isfinite(from) || !std::isfinite(to))
        return 0;
    std::unique_ptr<icu::Calendar> calendar(formatters().calendar->clone());
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime(from * kMillisPerSecond, status);
    const int32_t count =
        calendar->fieldDifference(to * kMillisPerSecond, UCalendarDateFields(field), status);
    return U_SUCCESS(status) ? count : 0;
}

QString QVRDateFormatter::updatedText(const QString& format, std::optional<double> date)
{
    return updatedText(format, date, platform::now());
}

QString QVRDateFormatter::updatedText(const QString& format, std::optional<double> date,
                                      std::optional<double> toDate)
{
    if (!date || !(*date > 1.0))
        return {};
    QString text;
    if (toDate && *date < *toDate) {
        // Days, then hours, then minutes, each counted from where the larger
        // unit left off, as calendar components are.
        Formatters& f = formatters();
        std::unique_ptr<icu::Calendar> calendar(f.calendar->clone());
        UErrorCode status = U_ZERO_ERROR;
        calendar->setTime(*date * kMillisPerSecond, status);
        const UDate reference = *toDate * kMillisPerSecond;
        const int32_t days = calendar->fieldDifference(reference, UCAL_DATE, status);
        const int32_t hours = calendar->fieldDifference(reference, UCAL_HOUR_OF_DAY, status);
        const int32_t minutes = calendar->fieldDifference(reference, UCAL_MINUTE, status);
        if (U_FAILURE(status)) {
            text = displayDate(date, 0);
        } else if (days == 0 && hours == 0 && minutes == 0) {
            text = QVRLocalizedString(QStringLiteral("a moment ago"));
        } else if (days >= 8) {
            text = displayDate(date, 0);
        } else {
            icu::MeasureUnit* unit = nullptr;
            qint64 count = 0;
            if (days != 0) {
                unit = icu::MeasureUnit::createDay(status);
                count = days;
            } else if (hours != 0) {
                unit = icu::MeasureUnit::createHour(status);
                count = difference(*date, *toDate, UCAL_HOUR_OF_DAY);
            } else {
                unit = icu::MeasureUnit::createMinute(status);
                count = difference(*date, *toDate, UCAL_MINUTE);
            }
            QString spelled;
            if (f.componentsFormatter && unit && U_SUCCESS(status)) {
                icu::Measure measure(icu::Formattable(int64_t(count)), unit, status);
                icu::UnicodeString out;
                icu::FieldPosition position;
                f.componentsFormatter->formatMeasures(&measure, 1, out, position, status);
                if (U_SUCCESS(status))
                    spelled = fromIcu(out);
            } else {
                delete unit;
            }
            if (spelled.isEmpty())
                spelled = QString::number(count);
            text = fill(QVRLocalizedString(QStringLiteral("%@ ago")), spelled);
        }
    } else {
        text = displayDate(date, 0);
    }
    if (!format.isNull())
        text = fill(QVRLocalizedString(format), text);
    return text;
}

QString QVRDateFormatter::displayDate(std::optional<double> date, qint64 mode)
{
    return displayDate(date, mode, {});
}

QString QVRDateFormatter::displayDate(std::optional<double> date, qint64 mode, std::optional<double> toDate)
{
    if (!date)
        return QStringLiteral("");
    Formatters& f = formatters();
    const qint64 days = toDate ? daysUntilDate(*date, *toDate) : daysUntilDate(*date);
    if ((mode == 2 && days >= -1 && days < 7) || (mode == 1 && days >= -1 && days <= 0)) {
        const QString plain = formatWith(f.comparisonFormatter.get(), *date);
        QString relative = plain;
        // Relative words counted from the reference day (or today), not from
        // the library's own idea of now.
        static const UDateDirection directions[] = {UDAT_DIRECTION_LAST_2, UDAT_DIRECTION_LAST,
                                                    UDAT_DIRECTION_THIS, UDAT_DIRECTION_NEXT,
                                                    UDAT_DIRECTION_NEXT_2};
        if (f.relativeFormatter && days >= -2 && days <= 2) {
            UErrorCode status = U_ZERO_ERROR;
            icu::UnicodeString out;
            f.relativeFormatter->format(directions[days + 2], UDAT_ABSOLUTE_DAY, out, status);
            if (U_SUCCESS(status) && !out.isEmpty())
                relative = fromIcu(out);
        }
        if (relative == plain)
            return formatWith(f.dayFormatter.get(), *date);
        return relative;
    }
    return formatWith(f.dateFormatter.get(), *date);
}

qint64 QVRDateFormatter::minutesSinceDate(double date)
{
    return difference(date, platform::now(), UCAL_MINUTE);
}
qint64 QVRDateFormatter::minutesUntilDate(double date)
{
    return difference(platform::now(), date, UCAL_MINUTE);
}
qint64 QVRDateFormatter::minutesUntilDate(double date, double fromDate)
{
    return difference(fromDate, date, UCAL_MINUTE);
}
qint64 QVRDateFormatter::hoursSinceDate(double date)
{
    return difference(date, platform::now(), UCAL_HOUR_OF_DAY);
}
qint64 QVRDateFormatter::hoursUntilDate(double date)
{
    return difference(platform::now(), date, UCAL_HOUR_OF_DAY);
}
qint64 QVRDateFormatter::hoursUntilDate(double date, double fromDate)
{
    return difference(fromDate, date, UCAL_HOUR_OF_DAY);
}

qint64 QVRDateFormatter::daysUntilDate(double date)
{
    return daysUntilDate(date, platform::now());
}

qint64 QVRDateFormatter::daysUntilDate(double date, double fromDate)
{
    return calendarUnits(CalendarUnit::Day, fromDate, date);
}

qint64 QVRDateFormatter::monthsUntilDate(double date, double fromDate)
{
    return difference(fromDate, date, UCAL_MONTH);
}

qint64 QVRDateFormatter::calendarUnits(CalendarUnit unit, double fromDate, double toDate)
{
    if (unit != CalendarUnit::Year && unit != CalendarUnit::Month && unit != CalendarUnit::Day)
        return -1;
    if (!std::isfinite(fromDate) || !std::isfinite(toDate))
        return 0;
    std::unique_ptr<icu::Calendar> calendar(formatters().calendar->clone());
    const double from = startOfDay(*calendar, fromDate);
    const double to = startOfDay(*calendar, toDate);
    return difference(from, to, icuField(unit));
}

std::optional<double> QVRDateFormatter::dateFromString(const QString& string)
{
    if (string.isEmpty())
        return std::nullopt;
    Formatters& f = formatters();
    const icu::UnicodeString text = toIcu(string);
    icu::ParsePosition position(0);
    const UDate date = f.standardFormatter->parse(text, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != text.length())
        return std::nullopt;
    return date / kMillisPerSecond;
}

QString QVRDateFormatter::stringFromDate(std::optional<double> date)
{
    if (!date)
        return {};
    return formatWith(formatters().standardFormatter.get(), *date);
}

std::optional<double> QVRDateFormatter::dateForHours(qint64 hours, qint64 minutes)
{
    if (hours < 0)
        return std::nullopt;
    return dateFromDate(calendar(), platform::now(), hours, minutes);
}

const icu::Calendar& QVRDateFormatter::calendar()
{
    return *formatters().calendar;
}

double QVRDateFormatter::dateDaysFromNow(const icu::Calendar& calendar, qint64 days)
{
    const double now = platform::now();
    // Far beyond any useful date, yet well inside the calendar's range, so the
    // addition can neither overflow nor fail.
    constexpr qint64 kLimit = 1'000'000'000;
    const qint64 clamped = std::clamp(days, -kLimit, kLimit);
    std::unique_ptr<icu::Calendar> copy(calendar.clone());
    UErrorCode status = U_ZERO_ERROR;
    copy->setTime(now * kMillisPerSecond, status);
    copy->add(UCAL_DATE, int32_t(clamped), status);
    const UDate result = copy->getTime(status);
    if (U_FAILURE(status))
        return now + double(clamped) * 86400.0;
    return result / kMillisPerSecond;
}

double QVRDateFormatter::dateDaysAgo(const icu::Calendar& calendar, qint64 days)
{
    // -INT64_MIN does not exist; the clamp in dateDaysFromNow saturates anyway.
    return dateDaysFromNow(
        calendar, days == std::numeric_limits<qint64>::min() ? std::numeric_limits<qint64>::max() : -days);
}

double QVRDateFormatter::dateFromDate(const icu::Calendar& calendar, double date, qint64 hours,
                                      qint64 minutes)
{
    std::unique_ptr<icu::Calendar> copy(calendar.clone());
    UErrorCode status = U_ZERO_ERROR;
    copy->setTime(date * kMillisPerSecond, status);
    copy->set(UCAL_HOUR_OF_DAY, int32_t(std::clamp<qint64>(hours, -1'000'000, 1'000'000)));
    copy->set(UCAL_MINUTE, int32_t(std::clamp<qint64>(minutes, -1'000'000, 1'000'000)));
    copy->set(UCAL_SECOND, 0);
    copy->set(UCAL_MILLISECOND, 0);
    const UDate result = copy->getTime(status);
    return U_SUCCESS(status) ? result / kMillisPerSecond : date;
}
