#include "hotkey/ZQHotKeyCenter.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/x11/KeyMap.h"
#include "services/QVRServices.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "sync/QVRSyncManager.h"
#include "tests/hotkey/FakeHotKeyGrabber.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

namespace KF = platform::KeyFlags;

QVRServices::Options optionsFor(const QString& storeURL)
{
    QVRServices::Options options;
    options.storeURL = storeURL;
    options.hotKeyGrabber = std::make_unique<FakeHotKeyGrabber>();
    return options;
}

void addNote(QVRDataStore* store, const QString& text)
{
    auto* context = store->context();
    context->performAndWait([&] {
        static_cast<Note*>(context->insert(QVRNoteEntityName))->setText(text);
        ASSERT_TRUE(context->save());
    });
}

QStringList noteTexts(QVRDataStore* store)
{
    QStringList texts;
    auto* context = store->context();
    context->performAndWait([&] {
        for (auto* object : context->fetch(platform::FetchRequest{QVRNoteEntityName, nullptr, {}, 0}))
            texts << static_cast<Note*>(object)->text();
    });
    texts.sort();
    return texts;
}

bool accessorsAnswer(const QVRServices& services)
{
    return QVRServices::current() == &services && QVRDataStore::sharedStore() == services.store() &&
           QVRSyncManager::sharedManager() == services.syncManager() &&
           &ZQHotKeyCenter::sharedHotKeyCenter() == &services.hotKeyCenter();
}

// The shared objects were once built once per process, so a stack could not
// be restarted: the second one would have kept answering with the first.
TEST(Services, StackIsTornDownAndBuiltAgainInOneProcess)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quillary.sqlite"));
    for (int run = 0; run < 3; ++run) {
        QVRServices services(optionsFor(path));
        ASSERT_NE(services.store()->context(), nullptr);
        EXPECT_TRUE(accessorsAnswer(services)) << run;
        EXPECT_EQ(services.syncManager()->dataStore(), services.store());
        // The hot keys of the run before were given back with their centre.
        EXPECT_TRUE(services.hotKeyCenter().registeredHotKeys().empty());
        EXPECT_TRUE(services.hotKeyCenter().registerHotKeyWithKeyCode(37, KF::Command | KF::Option,
                                                                      [](const platform::HotKeyEvent&) {}));
        EXPECT_EQ(noteTexts(services.store()).size(), size_t(run)); // the file outlives the stack
        addNote(services.store(), QString::number(run));
    }
    EXPECT_EQ(QVRServices::current(), nullptr);
}

TEST(Services, TwoStacksSideBySideKeepTheirOwnNotesAndHotKeys)
{
    QTemporaryDir dir;
    QVRServices first(optionsFor(dir.filePath(QStringLiteral("first.sqlite"))));
    QVRServices second(optionsFor(dir.filePath(QStringLiteral("second.sqlite"))));
    EXPECT_TRUE(accessorsAnswer(first)); // the first one built stays current
    EXPECT_FALSE(second.isCurrent());

    addNote(first.store(), QStringLiteral("in first"));
    addNote(second.store(), QStringLiteral("in second"));
    EXPECT_EQ(noteTexts(first.store()), QStringList{QStringLiteral("in first")});
    EXPECT_EQ(noteTexts(second.store()), QStringList{QStringLiteral("in second")});

    auto task = [](const platform::HotKeyEvent&) {};
    EXPECT_TRUE(first.hotKeyCenter().registerHotKeyWithKeyCode(37, KF::Command, task));
    EXPECT_TRUE(second.hotKeyCenter().registerHotKeyWithKeyCode(37, KF::Command, task));
    EXPECT_EQ(first.hotKeyCenter().registeredHotKeys().size(), 1u);

    second.makeCurrent();
    EXPECT_TRUE(accessorsAnswer(second));
    first.makeCurrent();
    EXPECT_TRUE(accessorsAnswer(first));
}

TEST(Services, DroppingTheCurrentStackLeavesNoneCurrent)
{
    QTemporaryDir dir;
    QVRServices kept(optionsFor(dir.filePath(QStringLiteral("kept.sqlite"))));
    {
        QVRServices shown(optionsFor(dir.filePath(QStringLiteral("shown.sqlite"))));
        shown.makeCurrent();
        EXPECT_TRUE(accessorsAnswer(shown));
    }
    // Never a dangling answer: no current stack, and the kept one is only
    // current when asked to be.
    EXPECT_EQ(QVRServices::current(), nullptr);
    EXPECT_NE(QVRDataStore::sharedStore(), kept.store());
    kept.makeCurrent();
    EXPECT_TRUE(accessorsAnswer(kept));
}

} // namespace
