#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/core/Memory.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Paths.h"
#include "platform/core/SystemChanges.h"
#include "tests/support/ManualClock.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

using platform::Notification;
using platform::NotificationCenter;

namespace {

namespace {

[[maybe_unused]] double residentMB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? double(fields[1].toLongLong()) * 4096 / (1024 * 1024) : -1;
}

} // namespace

// Large blocks freed between small ones that stay: the process gives their
// memory back at once instead of keeping it in the heap.
TEST(Memory, LargeBlocksGoBackToTheSystemWhenFreed)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator is in use";
#elif !defined(__GLIBC__)
    GTEST_SKIP() << "not the GNU C library's allocator";
#else
    platform::returnLargeBlocksWhenFreed();
    std::vector<char*> large;
    std::vector<char*> small;
    // Freed once before, as a list's earlier copy is: a block of this size
    // would be served from the heap next time if the allocator chose.
    constexpr size_t Large = 1536 * 1024;
    char* first = static_cast<char*>(std::malloc(Large));
    first[0] = 1;
    std::free(first);
    const double before = residentMB();
    for (int i = 0; i < 40; ++i) {
        large.push_back(static_cast<char*>(std::malloc(Large)));
        for (size_t at = 0; at < Large; at += 4096)
            large.back()[at] = char(i);
        small.push_back(static_cast<char*>(std::malloc(4000)));
    }
    EXPECT_GT(residentMB(), before + 40);
    for (char* block : large)
        std::free(block);
    EXPECT_LT(residentMB(), before + 10);
    for (char* block : small)
        std::free(block);
#endif
}

TEST(Log, OneLinePerMessageThroughTheSink)
{
    QStringList lines;
    platform::setLogSink([&](const QString& line) { lines << line; });
    platform::log(QStringLiteral("iCloud query failed to start."));
    platform::log(QStringLiteral("first\nsecond\r\nthird"));
    platform::setLogSink({});
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("iCloud query failed to start."));
    EXPECT_FALSE(lines[1].contains(QLatin1Char('\n')));
    EXPECT_FALSE(lines[1].contains(QLatin1Char('\r')));
}

TEST(NotificationCenter, DeliversByNameAndSender)
{
    NotificationCenter center;
    int a = 0, b = 0;
    std::vector<Notification> any, fromA, all;
    auto t1 =
        center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification& n) { any.push_back(n); });
    auto t2 = center.addObserver(QStringLiteral("N"), &a, [&](const Notification& n) { fromA.push_back(n); });
    auto t3 = center.addObserver(QString(), nullptr, [&](const Notification& n) { all.push_back(n); });
    center.post(QStringLiteral("N"), &a, {{"k", 1}});
    center.post(QStringLiteral("N"), &b);
    center.post(QStringLiteral("Other"), &a);
    EXPECT_EQ(any.size(), 2u);
    ASSERT_EQ(fromA.size(), 1u);
    EXPECT_EQ(fromA[0].userInfo.value("k"), QVariant(1));
    EXPECT_EQ(fromA[0].sender, &a);
    EXPECT_EQ(all.size(), 3u);
}

TEST(NotificationCenter, TokenRemovesObserverWhenDestroyedOrMoved)
{
    NotificationCenter center;
    int calls = 0;
    {
        auto token = center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification&) { ++calls; });
        center.post(QStringLiteral("N"));
        platform::ObserverToken moved = std::move(token);
        EXPECT_FALSE(token.isActive());
        center.post(QStringLiteral("N"));
        platform::ObserverToken other;
        other = std::move(moved);
        center.post(QStringLiteral("N"));
    }
    center.post(QStringLiteral("N"));
    EXPECT_EQ(calls, 3);
}

TEST(NotificationCenter, ObserversMayRemoveThemselvesAndOthersWhileBeingCalled)
{
    NotificationCenter center;
    int firstCalls = 0, secondCalls = 0, addedCalls = 0;
    platform::ObserverToken first, second, added;
    first = center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification&) {
        ++firstCalls;
        second.reset(); // removed during the post: must not be called afterwards
        first.reset();  // and itself
        added = center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification&) { ++addedCalls; });
    });
    second = center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification&) { ++secondCalls; });
    center.post(QStringLiteral("N"));
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 0);
    EXPECT_EQ(addedCalls, 0); // added after the snapshot was taken
    center.post(QStringLiteral("N"));
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(addedCalls, 1);
}

TEST(NotificationCenter, ConcurrentRegistrationAndPosting)
{
    NotificationCenter center;
    std::atomic<int> delivered{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                auto token = center.addObserver(QStringLiteral("N"), nullptr,
                                                [&](const Notification&) { ++delivered; });
                center.post(QStringLiteral("N"));
            }
        });
    }
    threads.emplace_back([&] {
        while (!stop)
            center.post(QStringLiteral("N"));
    });
    for (int t = 0; t < 4; ++t)
        threads[t].join();
    stop = true;
    threads.back().join();
    EXPECT_GE(delivered.load(), 2000); // each thread sees at least its own observer
}

TEST(MainThread, RunsInlineOnMainAndQueuedInOrderFromOthers)
{
    ASSERT_TRUE(platform::isMainThread());
    bool inline_ = false;
    platform::runOnMainThread([&] { inline_ = true; });
    EXPECT_TRUE(inline_);

    std::vector<int> order;
    std::atomic<bool> ranOnMain{true};
    std::thread worker([&] {
        EXPECT_FALSE(platform::isMainThread());
        for (int i = 0; i < 100; ++i)
            platform::runOnMainThread([&, i] {
                ranOnMain = ranOnMain && platform::isMainThread();
                order.push_back(i);
            });
    });
    worker.join();
    EXPECT_TRUE(order.empty()); // queued, not run on the worker
    QCoreApplication::processEvents();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_TRUE(ranOnMain);
}

TEST(MainThread, AndWaitReturnsAfterTheWorkRan)
{
    std::atomic<bool> done{false};
    int value = 0;
    std::thread worker([&] {
        platform::runOnMainThreadAndWait([&] { value = platform::isMainThread() ? 42 : -1; });
        // The work ran before the call returned.
        EXPECT_EQ(value, 42);
        done = true;
    });
    EXPECT_TRUE(testsupport::waitFor([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(value, 42);
}

TEST(Clock, InjectableForTests)
{
    const double real = platform::now();
    EXPECT_GT(real, 1.7e9);
    {
        testsupport::ManualClock fixed(1234.5);
        EXPECT_EQ(platform::now(), 1234.5);
        fixed.advance(0.5);
        EXPECT_EQ(platform::now(), 1235.0);
    }
    EXPECT_GE(platform::now(), real);
}

TEST(Paths, FollowXdgAndIgnoreRelativeValues)
{
    const QByteArray saved = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QDir::tempPath().toUtf8() + "/quillary-cache-test");
    EXPECT_EQ(platform::cacheDirectory(), QDir::tempPath() + QStringLiteral("/quillary-cache-test/Quillary"));
    EXPECT_TRUE(QDir(platform::cacheDirectory()).exists());
    qputenv("XDG_CACHE_HOME", "relative/path");
    EXPECT_EQ(platform::cacheDirectory(), QDir::homePath() + QStringLiteral("/.cache/Quillary"));
    qputenv("XDG_CACHE_HOME", saved);
    EXPECT_TRUE(platform::applicationDataDirectory().endsWith(QStringLiteral("/Quillary")));
    EXPECT_TRUE(platform::configDirectory().endsWith(QStringLiteral("/Quillary")));
    QDir(QDir::tempPath() + QStringLiteral("/quillary-cache-test")).removeRecursively();
}

TEST(SystemChanges, ZoneAndLocaleChangesArePostedOnce)
{
    platform::SystemChanges::start();
    platform::SystemChanges::start(); // idempotent
    int zone = 0, locale = 0;
    auto& center = NotificationCenter::defaultCenter();
    auto t1 = center.addObserver(platform::SystemTimeZoneDidChangeNotification, nullptr,
                                 [&](const Notification&) { ++zone; });
    auto t2 = center.addObserver(platform::CurrentLocaleDidChangeNotification, nullptr,
                                 [&](const Notification&) { ++locale; });
    platform::SystemChanges::checkNow();
    EXPECT_EQ(zone + locale, 0); // nothing changed yet

    setenv("TZ", "Asia/Tokyo", 1);
    const QByteArray savedLang = qgetenv("LANG");
    qunsetenv("LC_ALL");
    qunsetenv("LC_TIME");
    qputenv("LANG", "de_DE.UTF-8");
    platform::SystemChanges::checkNow();
    platform::SystemChanges::checkNow();
    EXPECT_EQ(zone, 1);
    EXPECT_EQ(locale, 1);
    EXPECT_EQ(platform::currentTimeZoneId(), QStringLiteral("Asia/Tokyo"));
    EXPECT_EQ(platform::currentLocaleName(), QStringLiteral("de_DE"));

    setenv("TZ", "UTC", 1);
    qputenv("LANG", savedLang);
    platform::SystemChanges::checkNow();
    platform::SystemChanges::stop();
    platform::SystemChanges::checkNow(); // stopped: no watcher, no notice
    EXPECT_EQ(zone, 2);
}

TEST(SystemChanges, CAndPosixLocalesHaveNoName)
{
    const QByteArray saved = qgetenv("LC_ALL");
    for (const char* value : {"C", "POSIX", "C.UTF-8"}) {
        qputenv("LC_ALL", value);
        EXPECT_EQ(platform::currentLocaleName(), QString()) << value;
    }
    qputenv("LC_ALL", "fr_CA.UTF-8@euro");
    EXPECT_EQ(platform::currentLocaleName(), QStringLiteral("fr_CA"));
    if (saved.isNull())
        qunsetenv("LC_ALL");
    else
        qputenv("LC_ALL", saved);
}

} // namespace
