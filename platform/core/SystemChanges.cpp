#include "platform/core/SystemChanges.h"

namespace platform {

const QString SystemClockDidChangeNotification = QStringLiteral("NSSystemClockDidChangeNotification");
const QString SystemTimeZoneDidChangeNotification = QStringLiteral("NSSystemTimeZoneDidChangeNotification");
const QString CurrentLocaleDidChangeNotification = QStringLiteral("NSCurrentLocaleDidChangeNotification");

void SystemChanges::start() {}
void SystemChanges::stop() {}
void SystemChanges::checkNow() {}

}  // namespace platform
