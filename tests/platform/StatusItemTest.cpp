#include "platform/ui/StatusItem.h"

#include <gtest/gtest.h>

#include <QSystemTrayIcon>

namespace {

TEST(StatusItem, WithoutATrayShowRefusesAndNothingIsVisible)
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "a tray is running";
    platform::SystemTrayStatusItem item;
    EXPECT_FALSE(item.available());
    EXPECT_FALSE(item.show()); // the caller refuses menu-bar mode on this answer
    EXPECT_FALSE(item.isVisible());
}

} // namespace
