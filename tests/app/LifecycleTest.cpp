// The glue around the note window: the recorded global shortcut, the
// start-at-login setting and quitting while a sync runs.
#include "AppTestSupport.h"

#include "hotkey/ZQHotKeyCenter.h"
#include "platform/ops/OperationQueue.h"
#include "sync/QVRSyncManager.h"
#include "tests/hotkey/FakeHotKeyGrabber.h"

#include <QFile>
#include <QSignalSpy>

using apptest::AppTest;

namespace {

// Command and A: a combination that names a key.
constexpr uint64_t CommandFlag = 1u << 20;
const KeyCombo CommandA{CommandFlag, 0};
const KeyCombo CommandB{CommandFlag, 11};

} // namespace

class ShortcutTest : public AppTest
{
protected:
    FakeHotKeyGrabber* grabber = nullptr;
    std::unique_ptr<ZQHotKeyCenter> center;

    void startWithCenter()
    {
        app.reset();
        auto fake = std::make_unique<FakeHotKeyGrabber>();
        grabber = fake.get();
        center = std::make_unique<ZQHotKeyCenter>(std::move(fake));
        QuillaryAppDelegate::Environment withCenter = environment();
        withCenter.hotKeyCenter = center.get();
        start(withCenter);
    }

    void TearDown() override
    {
        app.reset();
        center.reset();
        AppTest::TearDown();
    }
};

TEST_F(ShortcutTest, NothingIsGrabbedWithoutAStoredShortcut)
{
    struct Row
    {
        const char* name;
        QVariant stored;
    };
    const Row rows[] = {
        {"missing", QVariant()},
        {"cleared (code -1)", QVariantMap{{"flags", 0}, {"code", -1}}},
        {"no modifier", QVariantMap{{"flags", 0}, {"code", 0}}},
        {"not a number", QVariantMap{{"flags", "lots"}, {"code", "A"}}},
        {"fractional code", QVariantMap{{"flags", double(CommandFlag)}, {"code", 0.5}}},
    };
    for (const Row& row : rows) {
        if (row.stored.isValid())
            defaults->set("Global Shortcut", row.stored);
        else
            defaults->remove("Global Shortcut");
        startWithCenter();
        EXPECT_TRUE(grabber->grabs.empty()) << row.name;
    }
}

TEST_F(ShortcutTest, StoredShortcutIsGrabbedAtStartAndReplacedWhenRecorded)
{
    defaults->set("Global Shortcut", QVariantMap{{"flags", qulonglong(CommandA.flags)}, {"code", 0}});
    startWithCenter();
    ASSERT_EQ(grabber->grabs.size(), 1u);
    EXPECT_EQ(grabber->grabs.begin()->second.keyCode, 0);

    // The same combination again changes nothing.
    app->keyRecorderKeyComboDidChange(nullptr, CommandA);
    EXPECT_EQ(grabber->ungrabs, 0);

    app->keyRecorderKeyComboDidChange(nullptr, CommandB);
    EXPECT_EQ(grabber->ungrabs, 1);
    ASSERT_EQ(grabber->grabs.size(), 1u);
    EXPECT_EQ(grabber->grabs.begin()->second.keyCode, 11);
    EXPECT_EQ(app->keyComboForKey("Global Shortcut"), CommandB);

    // Clearing stores the empty combination and grabs nothing.
    app->keyRecorderKeyComboDidChange(nullptr, KeyCombo{});
    EXPECT_TRUE(grabber->grabs.empty());
    EXPECT_EQ(app->keyComboForKey("Global Shortcut").code, -1);
}

TEST_F(ShortcutTest, RefusedGrabIsLoggedAndTheSettingKept)
{
    startWithCenter();
    grabber->taken.insert({11, ZQHotKeyCenter::carbonModifiersForRegistration(CommandFlag)});
    app->keyRecorderKeyComboDidChange(nullptr, CommandB);
    EXPECT_TRUE(log.lines().contains("Failed to register hot key"));
    EXPECT_EQ(app->keyComboForKey("Global Shortcut"), CommandB);
}

// A failed login-item change used to store a state that did not exist.
TEST_F(AppTest, LoginItemSettingShowsTheRealStateWhenTheChangeFails)
{
    app.reset();
    QuillaryAppDelegate::Environment missingLauncher = environment();
    missingLauncher.launcherExecutable = dir.filePath("no-such-launcher");
    start(missingLauncher);
    app->setStartAtLogin(true);
    EXPECT_FALSE(app->startAtLogin());
    EXPECT_TRUE(log.lines().contains("Failed to set login item"));

    app.reset();
    QuillaryAppDelegate::Environment realLauncher = environment();
    realLauncher.launcherExecutable = QStringLiteral("/bin/true");
    start(realLauncher);
    app->setStartAtLogin(true);
    EXPECT_TRUE(app->startAtLogin());
    EXPECT_TRUE(log.lines().contains("Set login item"));
    app->setStartAtLogin(false);
    EXPECT_FALSE(app->startAtLogin());
    EXPECT_TRUE(log.lines().contains("Removed login item"));
}

// A sync whose queue never drained used to keep the quitting process, and
// with it the bus name a new start waits for, for ever.
TEST_F(AppTest, QuitDuringASyncThatNeverEndsIsBounded)
{
    app.reset();
    QVRSyncManager sync(root.get());
    sync.setStarted(true); // no enabling pass: this test drives the steps
    sync.setICloudEnabled(true);
    sync.setStep(QVRSyncStep::Syncing);
    platform::OperationQueue* queue = sync.operationQueue();
    queue->setSuspended(true);
    queue->addOperationWithBlock([] {}); // held in the queue: the sync never ends
    QuillaryAppDelegate::Environment syncing = environment();
    syncing.syncManager = &sync;
    start(syncing);

    QSignalSpy ready(app.get(), &QuillaryAppDelegate::terminationReady);
    EXPECT_FALSE(app->applicationShouldTerminate());
    advance(QuillaryAppDelegate::LongestQuitWaitSeconds);
    ASSERT_TRUE(sync.busy()); // past the manager's own grace, still busy with its queue
    EXPECT_TRUE(ready.wait());
    EXPECT_FALSE(log.lines().filter("quitting with the sync still busy").isEmpty());
    app.reset(); // before the sync manager it uses
}

// A desktop's "save session" used to run the quit path, which stored the note
// but left the window disabled (and the process on its way out).
TEST_F(AppTest, SessionSaveStoresTheTypingAndKeepsTheWindowInUse)
{
    typeInEditor("typed before the session was saved");
    const QString text = app->editorText();
    app->saveNoteAndSettings();
    EXPECT_FALSE(app->noteNeedsSaving());
    const Note* stored = app->noteWithId(app->editingItem().value("uuid").toString());
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->text(), text);
    EXPECT_FALSE(app->textView()->isReadOnly());
    EXPECT_TRUE(app->tableView()->isEnabled());
    typeInEditor(" and after");
    EXPECT_TRUE(app->noteNeedsSaving());
}
