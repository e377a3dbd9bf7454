#pragma once

#include <QString>

namespace platform {

// Posted through the default NotificationCenter (no user info).
extern const QString SystemClockDidChangeNotification;
extern const QString SystemTimeZoneDidChangeNotification;
extern const QString CurrentLocaleDidChangeNotification;

// Watches for the wall clock being set, the time zone changing and the locale
// changing, and posts the notices above on the main thread.
class SystemChanges {
public:
    // Call on the main thread with a running QCoreApplication. Idempotent.
    static void start();
    static void stop();

    // Re-reads the time zone and locale and posts a notice for each that
    // differs from the last reading (also used by tests).
    static void checkNow();
};

}  // namespace platform
