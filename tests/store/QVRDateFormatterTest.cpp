#include "store/QVRDateFormatter.h"

#include "platform/core/Clock.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/SystemChanges.h"
#include "tests/support/ManualClock.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <thread>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

// 2024-11-14 15:00:00 UTC, a Thursday.
constexpr double kReference = 1731596400.0;
constexpr double kMinute = 60, kHour = 3600, kDay = 86400;

class ClockFixture : public ::testing::Test
{
protected:
    testsupport::ManualClock m_clock{kReference};
};

struct TextCase
{
    const char* locale;
    const char* zone;
    double before;        // seconds before the reference
    const char* format;   // nullptr: none
    const char* expected; // nullptr: no text
};

void PrintTo(const TextCase& c, std::ostream* os)
{
    *os << c.locale << " " << c.zone << " -" << c.before << "s";
}

class UpdatedText : public ClockFixture, public ::testing::WithParamInterface<TextCase>
{
};

TEST_P(UpdatedText, ReadsRightInEachLocaleAndZone)
{
    const TextCase& c = GetParam();
    QVRDateFormatter formatter(QString::fromLatin1(c.locale), QString::fromLatin1(c.zone));
    const QString format = c.format ? QString::fromUtf8(c.format) : QString();
    const QString text = formatter.updatedText(format, kReference - c.before, kReference);
    if (!c.expected) {
        EXPECT_TRUE(text.isNull()) << text.toStdString();
        return;
    }
    EXPECT_EQ(text, QString::fromUtf8(c.expected));
    // Without an explicit reference the clock's now is the reference.
    EXPECT_EQ(formatter.updatedText(format, kReference - c.before), text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdatedText,
    ::testing::Values(
        TextCase{"en_US", "America/New_York", 30, nullptr, "a moment ago"},
        TextCase{"en_US", "America/New_York", 30, "Synced %@", "Synced a moment ago"},
        TextCase{"en_US", "America/New_York", 61, nullptr, "1 minute ago"},
        TextCase{"en_US", "America/New_York", 3 * kHour + 20 * kMinute, nullptr, "3 hours ago"},
        TextCase{"en_US", "America/New_York", 7 * kDay + 23 * kHour, nullptr, "7 days ago"},
        TextCase{"en_US", "America/New_York", 8 * kDay, nullptr, "November 6"},
        TextCase{"en_US", "America/New_York", -90, nullptr, "November 14"}, // clock skew: a future date
        TextCase{"en_US", "Asia/Tokyo", 14 * kHour, nullptr, "14 hours ago"},
        TextCase{"de_DE", "Europe/Berlin", 3 * kHour + 20 * kMinute, nullptr, "3 Stunden ago"},
        TextCase{"de_DE", "Europe/Berlin", 2 * kDay, nullptr, "2 Tage ago"},
        TextCase{"de_DE", "Europe/Berlin", 8 * kDay, "Synced %@", "Synced 6. November"},
        TextCase{"ja_JP", "Asia/Tokyo", 8 * kDay, nullptr, "11月7日"},
        TextCase{"en_US", "America/New_York", kReference - 1.0, nullptr, nullptr}, // 1970-01-01 00:00:01
        TextCase{"en_US", "America/New_York", kReference - 1.0, "Synced %@", nullptr},
        TextCase{"en_US", "America/New_York", kReference + 5, nullptr, nullptr})); // before 1970

TEST_F(ClockFixture, MissingDateHasNoText)
{
    QVRDateFormatter formatter(QStringLiteral("en_US"), QStringLiteral("UTC"));
    EXPECT_TRUE(formatter.updatedText(QStringLiteral("Synced %@"), std::nullopt).isNull());
    EXPECT_EQ(formatter.displayDate(std::nullopt, 0), QStringLiteral(""));
    EXPECT_TRUE(formatter.stringFromDate(std::nullopt).isNull());
}

TEST_F(ClockFixture, TheSameInstantIsADifferentDayInAnotherZone)
{
    const double earlyUtc = 1731553200.0; // 2024-11-14 03:00 UTC
    QVRDateFormatter newYork(QStringLiteral("en_US"), QStringLiteral("America/New_York"));
    QVRDateFormatter tokyo(QStringLiteral("en_US"), QStringLiteral("Asia/Tokyo"));
    EXPECT_EQ(newYork.stringFromDate(earlyUtc), QStringLiteral("2024-11-13"));
    EXPECT_EQ(tokyo.stringFromDate(earlyUtc), QStringLiteral("2024-11-14"));
    EXPECT_EQ(newYork.displayDate(earlyUtc, 0), QStringLiteral("November 13"));
    EXPECT_EQ(tokyo.displayDate(earlyUtc, 0), QStringLiteral("November 14"));
}

TEST_F(ClockFixture, RelativeModesUseWordsThenWeekdays)
{
    QVRDateFormatter en(QStringLiteral("en_US"), QStringLiteral("America/New_York"));
    QVRDateFormatter de(QStringLiteral("de_DE"), QStringLiteral("Europe/Berlin"));
    EXPECT_EQ(en.displayDate(kReference, 1, kReference), QStringLiteral("today"));
    EXPECT_EQ(en.displayDate(kReference - kDay, 1, kReference), QStringLiteral("yesterday"));
    EXPECT_EQ(de.displayDate(kReference - kDay, 2, kReference), QStringLiteral("gestern"));
    EXPECT_EQ(en.displayDate(kReference + 3 * kDay, 2, kReference), QStringLiteral("Sunday"));
    EXPECT_EQ(de.displayDate(kReference + 3 * kDay, 2, kReference), QStringLiteral("Sonntag"));
    // Mode 1 has no weekdays, and 7 days ahead is outside mode 2.
    EXPECT_EQ(en.displayDate(kReference + 3 * kDay, 1, kReference), QStringLiteral("November 17"));
    EXPECT_EQ(en.displayDate(kReference + 7 * kDay, 2, kReference), QStringLiteral("November 21"));
}

TEST_F(ClockFixture, DaysCountMidnightsAcrossSummerTime)
{
    QVRDateFormatter berlin(QStringLiteral("de_DE"), QStringLiteral("Europe/Berlin"));
    const double before = 1711796400.0; // 2024-03-30 12:00 Berlin (UTC+1)
    const double after = 1711879200.0;  // 2024-03-31 12:00 Berlin (UTC+2): 23 hours later
    EXPECT_EQ(berlin.hoursUntilDate(after, before), 23);
    EXPECT_EQ(berlin.daysUntilDate(after, before), 1);
    EXPECT_EQ(berlin.calendarUnits(QVRDateFormatter::CalendarUnit::Day, before, after), 1);
    EXPECT_EQ(berlin.updatedText(QString(), before, after), QStringLiteral("1 Tag ago"));
    // 23:59 to 00:01 is a day by midnights, not by hours.
    const double lateEvening = 1731625140.0; // 2024-11-14 23:59 Berlin
    EXPECT_EQ(berlin.daysUntilDate(lateEvening + 2 * kMinute, lateEvening), 1);
    EXPECT_EQ(berlin.daysUntilDate(lateEvening, lateEvening + 2 * kMinute), -1);
    EXPECT_EQ(berlin.calendarUnits(QVRDateFormatter::CalendarUnit::Month, before, after + 40 * kDay), 1);
    EXPECT_EQ(berlin.calendarUnits(QVRDateFormatter::CalendarUnit::Year, before, after), 0);
    EXPECT_EQ(berlin.calendarUnits(QVRDateFormatter::CalendarUnit::Hour, before, after), -1);
}

TEST_F(ClockFixture, DifferencesTruncateTowardZero)
{
    QVRDateFormatter f(QStringLiteral("en_US"), QStringLiteral("UTC"));
    EXPECT_EQ(f.minutesSinceDate(kReference - 119), 1);
    EXPECT_EQ(f.minutesUntilDate(kReference - 119), -1);
    EXPECT_EQ(f.minutesUntilDate(kReference + 59), 0);
    EXPECT_EQ(f.hoursSinceDate(kReference - 3 * kHour - 1), 3);
    EXPECT_EQ(f.hoursUntilDate(kReference + 2 * kHour, kReference), 2);
    EXPECT_EQ(f.monthsUntilDate(kReference + 40 * kDay, kReference), 1);
    EXPECT_EQ(f.daysUntilDate(kReference + kDay), 1);
}

TEST_F(ClockFixture, StandardDatesRoundTripAndRefuseNonsense)
{
    QVRDateFormatter f(QStringLiteral("de_DE"), QStringLiteral("Europe/Berlin"));
    const auto midnight = f.dateFromString(QStringLiteral("2024-11-14"));
    ASSERT_TRUE(midnight);
    EXPECT_DOUBLE_EQ(*midnight, 1731538800.0); // 2024-11-13 23:00 UTC
    EXPECT_EQ(f.stringFromDate(*midnight), QStringLiteral("2024-11-14"));
    for (const char* bad : {"", "2024-02-30", "2024-11-14x", "14.11.2024", "yesterday"})
        EXPECT_FALSE(f.dateFromString(QString::fromLatin1(bad))) << bad;
}

TEST_F(ClockFixture, CalendarHelpers)
{
    QVRDateFormatter f(QStringLiteral("en_US"), QStringLiteral("America/New_York"));
    EXPECT_FALSE(f.dateForHours(-1, 0));
    const auto nineThirty = f.dateForHours(9, 30);
    ASSERT_TRUE(nineThirty);
    EXPECT_DOUBLE_EQ(*nineThirty, 1731594600.0); // 2024-11-14 09:30 New York = 14:30 UTC
    EXPECT_DOUBLE_EQ(QVRDateFormatter::dateDaysAgo(f.calendar(), 2), kReference - 2 * kDay);
    EXPECT_DOUBLE_EQ(QVRDateFormatter::dateDaysFromNow(f.calendar(), 0), kReference);
    // Across the end of summer time a calendar day is 25 hours long.
    m_clock.set(1730563200.0); // 2024-11-02 12:00 New York (EDT)
    EXPECT_DOUBLE_EQ(QVRDateFormatter::dateDaysFromNow(f.calendar(), 1), 1730563200.0 + 25 * kHour);
    EXPECT_DOUBLE_EQ(QVRDateFormatter::dateFromDate(f.calendar(), 1730563200.0, 0, 0), 1730520000.0);
}

TEST_F(ClockFixture, HugeDayCountsSaturateInsteadOfOverflowing)
{
    QVRDateFormatter f(QStringLiteral("en_US"), QStringLiteral("UTC"));
    for (qint64 n :
         {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), qint64(-1) << 40}) {
        const double ago = QVRDateFormatter::dateDaysAgo(f.calendar(), n);
        EXPECT_TRUE(std::isfinite(ago)) << n;
        if (n > 0)
            EXPECT_LT(ago, kReference);
        else
            EXPECT_GT(ago, kReference);
    }
}

TEST_F(ClockFixture, HostileDatesNeitherCrashNorHang)
{
    QVRDateFormatter f(QStringLiteral("en_US"), QStringLiteral("UTC"));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double d : {nan, inf, -inf, 1e300, -1e300, 1e18, -1e18}) {
        (void)f.updatedText(QStringLiteral("Synced %@"), d);
        (void)f.updatedText(QString(), kReference, d);
        (void)f.displayDate(d, 2, kReference);
        (void)f.displayDate(kReference, 2, d);
        (void)f.stringFromDate(d);
        (void)f.minutesSinceDate(d);
        (void)f.hoursUntilDate(d, kReference);
        (void)f.daysUntilDate(d);
        (void)f.monthsUntilDate(d, -d);
        (void)f.calendarUnits(QVRDateFormatter::CalendarUnit::Year, d, kReference);
        (void)QVRDateFormatter::dateFromDate(f.calendar(), d, 25, 61);
    }
    EXPECT_TRUE(f.updatedText(QString(), nan).isNull());
    EXPECT_EQ(f.minutesSinceDate(nan), 0);
}

TEST(QVRDateFormatterComparisons, StrictAndInclusive)
{
    EXPECT_TRUE(QVRDateFormatter::isEarlierThan(1, 2));
    EXPECT_FALSE(QVRDateFormatter::isEarlierThan(2, 2));
    EXPECT_TRUE(QVRDateFormatter::isEarlierThanOrEqualTo(2, 2));
    EXPECT_TRUE(QVRDateFormatter::isLaterThan(3, 2));
    EXPECT_FALSE(QVRDateFormatter::isLaterThan(2, 2));
    EXPECT_TRUE(QVRDateFormatter::isLaterThanOrEqualTo(2, 2));
    EXPECT_FALSE(QVRDateFormatter::isLaterThanOrEqualTo(1, 2));
}

void setZone(const char* zone)
{
    setenv("TZ", zone, 1);
    tzset();
}

TEST_F(ClockFixture, TimeZoneChangeRebuildsOnNextUse)
{
    const double earlyUtc = 1731553200.0; // 2024-11-14 03:00 UTC
    setZone("America/New_York");
    QVRDateFormatter f(QStringLiteral("en_US"));
    EXPECT_EQ(f.stringFromDate(earlyUtc), QStringLiteral("2024-11-13"));
    setZone("Asia/Tokyo");
    // Built formatters stay until told otherwise...
    EXPECT_EQ(f.stringFromDate(earlyUtc), QStringLiteral("2024-11-13"));
    platform::NotificationCenter::defaultCenter().post(platform::SystemTimeZoneDidChangeNotification);
    // ...and the next text after the notice uses the new zone.
    EXPECT_EQ(f.stringFromDate(earlyUtc), QStringLiteral("2024-11-14"));
    setZone("America/New_York");
    platform::NotificationCenter::defaultCenter().post(platform::SystemTimeZoneDidChangeNotification);
}

TEST_F(ClockFixture, ResetFromAnotherThreadWaitsForTheMainThread)
{
    const double earlyUtc = 1731553200.0;
    setZone("America/New_York");
    QVRDateFormatter& shared = QVRDateFormatter::sharedFormatter();
    shared.reset();
    EXPECT_EQ(shared.stringFromDate(earlyUtc), QStringLiteral("2024-11-13"));
    setZone("Asia/Tokyo");
    std::thread poster([] {
        platform::NotificationCenter::defaultCenter().post(platform::CurrentLocaleDidChangeNotification);
    });
    poster.join();
    // The formatters in use on the main thread were not dropped underneath it.
    EXPECT_EQ(shared.stringFromDate(earlyUtc), QStringLiteral("2024-11-13"));
    QCoreApplication::processEvents();
    EXPECT_EQ(shared.stringFromDate(earlyUtc), QStringLiteral("2024-11-14"));
    setZone("America/New_York");
    shared.reset();
}

TEST_F(ClockFixture, QueuedResetAfterDestructionIsHarmless)
{
    {
        QVRDateFormatter f(QStringLiteral("en_US"), QStringLiteral("UTC"));
        f.stringFromDate(kReference);
        std::thread poster([] {
            platform::NotificationCenter::defaultCenter().post(platform::SystemClockDidChangeNotification);
        });
        poster.join();
    }
    QCoreApplication::processEvents(); // runs the queued reset of a formatter that is gone
    SUCCEED();
}

} // namespace
