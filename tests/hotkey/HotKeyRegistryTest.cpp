#include "FakeHotKeyGrabber.h"
#include "hotkey/ZQHotKeyCenter.h"
#include "platform/core/Log.h"

#include <QObject>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

struct Registry : ::testing::Test
{
    FakeHotKeyGrabber* fake = new FakeHotKeyGrabber;
    ZQHotKeyCenter center{std::unique_ptr<platform::HotKeyGrabber>(fake)};
    int runs = 0;
    ZQHotKey::Task count()
    {
        return [this](const platform::HotKeyEvent&) { ++runs; };
    }
};

class Receiver : public QObject
{
    Q_OBJECT
public:
    int calls = 0;
    QVariant lastObject;
    platform::HotKeyEvent lastEvent;
public slots:
    void fire(platform::HotKeyEvent e, QVariant object)
    {
        ++calls;
        lastEvent = e;
        lastObject = object;
    }
};

} // namespace

TEST_F(Registry, IdentifiersCountUpAndAreNeverReused)
{
    auto a = center.registerHotKeyWithKeyCode(49, 0x100000, count());
    ASSERT_TRUE(a);
    EXPECT_EQ(a->hotKeyID(), 1u);
    EXPECT_FALSE(center.registerHotKeyWithKeyCode(49, 0x100000, count()));
    EXPECT_EQ(center.registeredHotKeys().size(), 1u);
    center.unregisterHotKey(*a);
    auto b = center.registerHotKeyWithKeyCode(49, 0x100000, count());
    ASSERT_TRUE(b);
    EXPECT_EQ(b->hotKeyID(), 2u);
}

TEST_F(Registry, RefusedGrabConsumesNoIdentifier)
{
    fake->taken.insert({40, 0x100});
    EXPECT_FALSE(center.registerHotKeyWithKeyCode(40, 0x100000, count()));
    EXPECT_EQ(center.nextHotKeyID(), 1u);
    auto ok = center.registerHotKeyWithKeyCode(41, 0x100000, count());
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->hotKeyID(), 1u);
}

TEST_F(Registry, RegistrationModifiersKeepCapsLockAndDropFunctionAndPad)
{
    const std::pair<uint64_t, uint32_t> rows[] = {
        {0x110000, 0x500}, {0x900000, 0x100}, {0x1E0000, 0x1B00}, {0x200000, 0}, {0x40000, 0x1000}};
    for (auto [cocoa, carbon] : rows)
        EXPECT_EQ(ZQHotKeyCenter::carbonModifiersForRegistration(cocoa), carbon);
    auto hk = center.registerHotKeyWithKeyCode(3, 0x110000, count());
    ASSERT_TRUE(hk);
    EXPECT_EQ(fake->grabs.at(*hk->hotKeyRef()).carbon, 0x500u);
}

TEST_F(Registry, UnregisterNeedsTheExactMask)
{
    auto hk = center.registerHotKeyWithKeyCode(3, 0x100000, count());
    center.unregisterHotKeyWithKeyCode(3, 0x900000);
    EXPECT_TRUE(center.hasRegisteredHotKeyWithKeyCode(3, 0x100000));
    center.unregisterHotKeyWithKeyCode(3, 0x100000);
    EXPECT_FALSE(center.hasRegisteredHotKeyWithKeyCode(3, 0x100000));
    EXPECT_TRUE(fake->grabs.empty());
    EXPECT_FALSE(hk->hotKeyRef());
}

TEST_F(Registry, RefusesDuplicateRegistrationInsteadOfReportingSuccess)
{
    auto live = center.registerHotKeyWithKeyCode(49, 0x100000, count());
    ASSERT_TRUE(live);
    {
        auto duplicate = ZQHotKey::hotKeyWithKeyCode(49, 0x100000, count());
        EXPECT_FALSE(center.registerHotKey(duplicate));
        EXPECT_FALSE(duplicate->hotKeyRef());
    } // the refused duplicate going away must leave the live one alone
    EXPECT_TRUE(center.hasRegisteredHotKeyWithKeyCode(49, 0x100000));
    fake->release(live->hotKeyID());
    EXPECT_EQ(runs, 1);
}

TEST_F(Registry, UnregisteringByAnEqualKeyRemovesTheMembersOwnGrab)
{
    auto live = center.registerHotKeyWithKeyCode(49, 0x100000, count());
    auto lookalike = ZQHotKey::hotKeyWithKeyCode(49, 0x100000, {});
    center.unregisterHotKey(*lookalike);
    EXPECT_TRUE(fake->grabs.empty()); // no system grab left behind
    EXPECT_FALSE(live->hotKeyRef());
}

TEST_F(Registry, CombinationsThatShareOneSystemGrabAreNotGrabbedTwice)
{
    ASSERT_TRUE(center.registerHotKeyWithKeyCode(3, 0x100000, count()));
    EXPECT_FALSE(center.registerHotKeyWithKeyCode(3, 0x900000, count()));
    EXPECT_EQ(fake->grabs.size(), 1u);
}

TEST_F(Registry, ReleaseRunsTheActionOnceWithAKeyUpEvent)
{
    Receiver receiver;
    auto hk = center.registerHotKeyWithKeyCode(40, 0x180000, &receiver, "fire", QVariant(7));
    ASSERT_TRUE(hk);
    fake->release(hk->hotKeyID());
    EXPECT_EQ(receiver.calls, 1);
    EXPECT_EQ(receiver.lastObject, QVariant(7));
    EXPECT_EQ(receiver.lastEvent.type, 11);
    EXPECT_EQ(receiver.lastEvent.keyCode, 40);
    EXPECT_EQ(receiver.lastEvent.windowNumber, -1);
    EXPECT_TRUE(receiver.lastEvent.characters.isEmpty());
    EXPECT_FALSE(receiver.lastEvent.isARepeat);
    fake->release(99); // unknown identifier: nothing runs
    EXPECT_EQ(receiver.calls, 1);
}

TEST_F(Registry, TargetFallsBackToTaskAndThenToNothing)
{
    Receiver receiver;
    auto withTask = ZQHotKey::hotKeyWithKeyCode(1, 0x100000, count());
    withTask->_setTarget(&receiver);
    withTask->_setAction("noSuchAction");
    withTask->invokeWithEvent({});
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(receiver.calls, 0);
    ZQHotKey bare;
    bare.invokeWithEvent({}); // no target, no task
}

TEST_F(Registry, DestroyedTargetIsNeverCalled)
{
    auto receiver = std::make_unique<Receiver>();
    auto hk = center.registerHotKeyWithKeyCode(40, 0x100000, receiver.get(), "fire", {});
    hk->_setTask(count());
    receiver.reset();
    fake->release(hk->hotKeyID());
    EXPECT_EQ(runs, 1);
}

TEST_F(Registry, UnregisterByTargetAndActionAndAll)
{
    Receiver r1, r2;
    center.registerHotKeyWithKeyCode(1, 0x100000, &r1, "fire", {});
    center.registerHotKeyWithKeyCode(2, 0x100000, &r1, "other", {});
    center.registerHotKeyWithKeyCode(3, 0x100000, &r2, "fire", {});
    center.registerHotKeyWithKeyCode(4, 0x100000, count());
    center.unregisterHotKeysWithTarget(&r1, "fire");
    EXPECT_EQ(center.registeredHotKeys().size(), 3u);
    center.unregisterHotKeysWithTarget(&r1);
    EXPECT_EQ(center.registeredHotKeys().size(), 2u);
    EXPECT_EQ(center.hotKeysMatching([](const ZQHotKey& k) { return k.keyCode() > 2; }).size(), 2u);
    center.unregisterAllHotKeys();
    EXPECT_TRUE(center.registeredHotKeys().empty());
    EXPECT_TRUE(fake->grabs.empty());
}

TEST_F(Registry, AnActionMayUnregisterItsOwnHotKey)
{
    ZQHotKeyCenter::HotKeyPtr hk;
    hk = center.registerHotKeyWithKeyCode(5, 0x100000, [&](const platform::HotKeyEvent&) {
        center.unregisterHotKey(*hk);
        ++runs;
    });
    fake->release(hk->hotKeyID());
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(center.registeredHotKeys().empty());
}

TEST_F(Registry, GrabsStayPausedUntilTheLastPauseEndsAndThenIncludeNewOnes)
{
    auto before = center.registerHotKeyWithKeyCode(40, 0x180000, count());
    ASSERT_TRUE(before);
    {
        auto first = center.pauseGrabs();
        auto second = center.pauseGrabs();
        EXPECT_TRUE(center.grabsPaused());
        // A registration during the pause still learns whether the system refuses it.
        fake->taken.insert({41, 0x100});
        EXPECT_FALSE(center.registerHotKeyWithKeyCode(41, 0x100000, count()));
        auto during = center.registerHotKeyWithKeyCode(37, 0x100000, count());
        ASSERT_TRUE(during);
        first.end();
        first.end(); // ending twice counts once
        EXPECT_TRUE(center.grabsPaused());
        EXPECT_EQ(fake->pauseCalls, std::vector<bool>{true});
        ZQHotKeyCenter::GrabPause moved = std::move(second);
        EXPECT_TRUE(center.grabsPaused());
    }
    EXPECT_FALSE(center.grabsPaused());
    EXPECT_EQ(fake->pauseCalls, (std::vector<bool>{true, false}));
    EXPECT_EQ(center.registeredHotKeys().size(), 2u);
}

TEST(RegistryPause, OutlivingItsRegistryEndsNothing)
{
    ZQHotKeyCenter::GrabPause pause;
    {
        ZQHotKeyCenter center(std::make_unique<FakeHotKeyGrabber>());
        pause = center.pauseGrabs();
    }
    pause.end(); // the registry is gone: under the sanitizers, no use after free
}

TEST(ZQHotKeyDescription, NamesFlagsInOrderAndTheInvocation)
{
    auto hk = ZQHotKey::hotKeyWithKeyCode(0, 0x140000, [](const platform::HotKeyEvent&) {});
    const QStringList lines = hk->description().split(u'\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[1], QStringLiteral("\t(key: 0"));
    EXPECT_EQ(lines[2], QStringLiteral("\tflags: (NSControlKeyMask | NSCommandKeyMask)"));
    EXPECT_EQ(lines[3], QStringLiteral("\tinvokes: (block))"));
    Receiver r;
    ZQHotKey t;
    t._setTarget(&r);
    t._setAction("fire");
    t._setModifierFlags(0x10000);
    EXPECT_TRUE(t.description().endsWith(QStringLiteral("flags: ()\n\tinvokes: [Receiver fire])")));
}

#include "HotKeyRegistryTest.moc"
