#pragma once

#include <QString>

namespace platform {

// Posted through the default NotificationCenter (no user info), always on the
// main thread.
extern const QString SystemClockDidChangeNotification;
extern const QString SystemTimeZoneDidChangeNotification;
extern const QString CurrentLocaleDidChangeNotification;

// The system's time-zone id (TZ, else /etc/localtime), and the locale name
// used for dates (LC_ALL, else LC_TIME, else LANG, without encoding), read
// afresh on each call. The locale is "" for the C/POSIX locale.
QString currentTimeZoneId();
QString currentLocaleName();

// Watches for the wall clock being set, the time zone changing and the locale
// changing, and posts the notices above.
class SystemChanges
{
public:
    // Call on the main thread with a running QCoreApplication. Idempotent.
    static void start();
    static void stop();

    // Re-reads the time zone and locale and posts a notice for each that
    // differs from the last reading. Main thread only.
    static void checkNow();
};

} // namespace platform
