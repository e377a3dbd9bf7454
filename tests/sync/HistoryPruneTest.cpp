// History pruning runs off the main thread over the store; its owner, the
// sync manager, must end it before the store it uses is destroyed.
#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectContext.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "sync/QVRSyncManager.h"
#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

using testsupport::waitFor;

// A day in 2001: older than any history setting keeps.
constexpr double kLongAgo = 1000000000.0;

class Delegate : public QVRSyncManagerDelegate
{
public:
    void saveObjectWithAttributes(const QVRNoteAttributes&, bool) override {}
    void unknownObjectNamed(const QString&, const QVariantMap&) override {}
    void deleteObjectWithUUID(const QString&) override {}
    void didDeleteOldObjects(const std::vector<platform::ObjectID>& ids) override
    {
        ++deletions;
        pruned = int(ids.size());
    }
    int deletions = 0;
    int pruned = 0;
};

class HistoryPrune : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        store = QVRDataStore::makeRootStore(dir.filePath(QStringLiteral("Notes.sqlite")));
        ASSERT_TRUE(store && store->context());
        manager = std::make_unique<QVRSyncManager>(store.get());
        manager->setDelegate(&delegate);
    }

    void TearDown() override
    {
        QVRSyncManager::setPruneHookForTesting(nullptr);
        manager.reset();
        store.reset();
    }

    void addNotes(const QString& prefix, int count, bool archived, double modified)
    {
        auto* context = store->context();
        context->performAndWait([&] {
            for (int i = 0; i < count; ++i) {
                platform::ManagedObject* note = context->insert(QVRNoteEntityName);
                note->setValue(QStringLiteral("uuid"), prefix + QString::number(i));
                note->setValue(QStringLiteral("text"), QStringLiteral("note %1").arg(i));
                note->setValue(QStringLiteral("modified"), modified);
                note->setValue(QStringLiteral("archived"), archived);
            }
            ASSERT_TRUE(context->save());
        });
    }

    int noteCount()
    {
        int count = 0;
        auto* context = store->context();
        context->performAndWait([&] {
            count = int(context->fetch(platform::FetchRequest{QVRNoteEntityName, nullptr, {}, 0}).size());
        });
        return count;
    }

    QTemporaryDir dir;
    Delegate delegate;
    std::unique_ptr<QVRDataStore> store;
    std::unique_ptr<QVRSyncManager> manager;
};

TEST_F(HistoryPrune, DeletesOnlyArchivedNotesOlderThanTheHistory)
{
    addNotes(QStringLiteral("OLD-"), 20, true, kLongAgo);
    addNotes(QStringLiteral("LIVE-"), 5, false, kLongAgo);
    addNotes(QStringLiteral("RECENT-"), 5, true, double(QDateTime::currentSecsSinceEpoch()));
    manager->pruneHistory();
    ASSERT_TRUE(waitFor([&] { return delegate.deletions == 1; }));
    EXPECT_EQ(delegate.pruned, 20);
    EXPECT_EQ(noteCount(), 10);
}

// The prune reads the old notes' keys and deletes them in batches; a note
// brought back in between (by sync, in another process) is no longer history
// and must survive.
TEST_F(HistoryPrune, NoteBroughtBackWhileThePruneRunsIsKept)
{
    addNotes(QStringLiteral("OLD-"), 20, true, kLongAgo);
    QVRSyncManager::setPruneHookForTesting([&](const std::function<bool()>&) {
        sqlite3* other = nullptr;
        ASSERT_EQ(
            sqlite3_open(QFile::encodeName(dir.filePath(QStringLiteral("Notes.sqlite"))).constData(), &other),
            SQLITE_OK);
        sqlite3_busy_timeout(other, 5000);
        EXPECT_EQ(sqlite3_exec(other, "UPDATE Note SET archived = 0 WHERE uuid = 'OLD-7'", nullptr, nullptr,
                               nullptr),
                  SQLITE_OK);
        sqlite3_close(other);
    });
    manager->pruneHistory();
    ASSERT_TRUE(waitFor([&] { return delegate.deletions == 1; }));
    EXPECT_EQ(delegate.pruned, 19);
    EXPECT_EQ(noteCount(), 1);
}

// A prune with nothing old enough tells nobody: the window would otherwise
// go over its list for nothing.
TEST_F(HistoryPrune, NothingToDeleteTellsNobody)
{
    addNotes(QStringLiteral("RECENT-"), 5, true, double(QDateTime::currentSecsSinceEpoch()));
    std::atomic<bool> read{false};
    QVRSyncManager::setPruneHookForTesting([&](const std::function<bool()>&) { read = true; });
    manager->pruneHistory();
    ASSERT_TRUE(waitFor([&] { return read.load(); }));
    manager->stop(); // waits for the prune to end
    QCoreApplication::processEvents();
    EXPECT_EQ(delegate.deletions, 0);
    EXPECT_EQ(noteCount(), 5);
}

// Quitting while the prune ran destroyed the store under it: the process hung
// or crashed. Stopping or destroying the manager must cancel the prune and
// wait for it, serving the main-thread blocks it waits for meanwhile, and a
// cancelled prune must leave the notes as they were.
TEST_F(HistoryPrune, QuittingWhilePruningCancelsAndWaitsBeforeTheStoreGoes)
{
    for (const char* ending : {"stop", "destroy"}) {
        SCOPED_TRACE(ending);
        addNotes(QStringLiteral("%1-").arg(QLatin1String(ending)), 50, true, kLongAgo);
        const int before = noteCount();
        std::atomic<bool> holding{false};
        std::atomic<bool> released{false};
        std::atomic<bool> sawCancel{false};
        std::atomic<bool> returned{false};
        // Holds the prune between its read and its removals until its owner
        // cancels it (or, should the owner not, until the test lets it go).
        QVRSyncManager::setPruneHookForTesting([&](const std::function<bool()>& cancelled) {
            holding = true;
            while (!cancelled() && !released)
                std::this_thread::yield();
            sawCancel = cancelled();
            returned = true;
        });
        manager->pruneHistory();
        ASSERT_TRUE(waitFor([&] { return holding.load(); }));

        if (std::string(ending) == "stop")
            manager->stop();
        else
            manager.reset();
        const bool endedWithItsOwner = returned.load();
        released = true;
        EXPECT_TRUE(endedWithItsOwner) << "the prune outlived its owner's shutdown";
        EXPECT_TRUE(sawCancel.load());
        // Whatever the outcome, the prune is over before the store is read.
        ASSERT_TRUE(waitFor([&] { return returned.load(); }));
        EXPECT_EQ(noteCount(), before);
        EXPECT_EQ(delegate.deletions, 0);

        QVRSyncManager::setPruneHookForTesting(nullptr);
        manager = std::make_unique<QVRSyncManager>(store.get());
        manager->setDelegate(&delegate);
    }
    // The store closes with no prune left on it.
    manager.reset();
    store.reset();
}

} // namespace
