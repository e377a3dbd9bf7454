#include "store/QVRDateFormatter.h"

struct QVRDateFormatter::Formatters {};

QVRDateFormatter& QVRDateFormatter::sharedFormatter() {
    static auto* formatter = new QVRDateFormatter;
    return *formatter;
}
QVRDateFormatter::QVRDateFormatter(const QString& localeName, const QString& timeZoneId)
    : m_localeName(localeName), m_timeZoneId(timeZoneId) {}
QVRDateFormatter::~QVRDateFormatter() = default;
void QVRDateFormatter::reset() { m_formatters.reset(); }
QString QVRDateFormatter::updatedText(const QString& f, std::optional<double> d) { return updatedText(f, d, {}); }
QString QVRDateFormatter::updatedText(const QString&, std::optional<double>, std::optional<double>) { return {}; }
QString QVRDateFormatter::displayDate(std::optional<double> d, qint64 m) { return displayDate(d, m, {}); }
QString QVRDateFormatter::displayDate(std::optional<double>, qint64, std::optional<double>) { return {}; }
qint64 QVRDateFormatter::minutesSinceDate(double) { return 0; }
qint64 QVRDateFormatter::minutesUntilDate(double) { return 0; }
qint64 QVRDateFormatter::minutesUntilDate(double, double) { return 0; }
qint64 QVRDateFormatter::hoursSinceDate(double) { return 0; }
qint64 QVRDateFormatter::hoursUntilDate(double) { return 0; }
qint64 QVRDateFormatter::hoursUntilDate(double, double) { return 0; }
qint64 QVRDateFormatter::daysUntilDate(double) { return 0; }
qint64 QVRDateFormatter::daysUntilDate(double, double) { return 0; }
qint64 QVRDateFormatter::monthsUntilDate(double, double) { return 0; }
qint64 QVRDateFormatter::calendarUnits(CalendarUnit, double, double) { return -1; }
std::optional<double> QVRDateFormatter::dateFromString(const QString&) { return {}; }
QString QVRDateFormatter::stringFromDate(std::optional<double>) { return {}; }
std::optional<double> QVRDateFormatter::dateForHours(qint64, qint64) { return {}; }
const icu::Calendar& QVRDateFormatter::calendar() {
    static icu::Calendar* c = [] { UErrorCode s = U_ZERO_ERROR; return icu::Calendar::createInstance(s); }();
    return *c;
}
double QVRDateFormatter::dateDaysFromNow(const icu::Calendar&, qint64) { return 0; }
double QVRDateFormatter::dateDaysAgo(const icu::Calendar&, qint64) { return 0; }
double QVRDateFormatter::dateFromDate(const icu::Calendar&, double, qint64, qint64) { return 0; }
