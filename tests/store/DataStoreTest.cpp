#include "StoreTestSupport.h"

#include "platform/data/PersistentStoreCoordinator.h"
#include "platform/plist/PropertyList.h"
#include "platform/predicate/Predicate.h"
#include "store/Note.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

#include <atomic>
#include <thread>

using namespace platform;
using storetest::Delegate;
using storetest::StoreTest;

namespace {

const QString ChildKey = QStringLiteral("QVRDataStoreUpdated-QuillaryAppDelegate");
const QString RootKey = QStringLiteral("QVRDataStoreUpdated");

// The notes in the file as another process would read them.
QStringList textsInFile(const QString& path)
{
    auto reader = std::make_shared<PersistentStoreCoordinator>(QVRDataStore::managedObjectModel());
    if (!reader->open(path))
        return {QStringLiteral("<unreadable>")};
    QStringList texts;
    const auto rows = reader->fetchRows(QVRNoteEntityName, nullptr, nullptr);
    for (const auto& row : *rows)
        texts << row.values.value(QStringLiteral("text")).toString();
    texts.sort();
    return texts;
}

Note* insertNote(ManagedObjectContext* context, const QString& text, bool archived = false)
{
    auto* note = static_cast<Note*>(context->insert(QVRNoteEntityName));
    note->setText(text);
    note->setArchived(archived);
    note->setDate(platform::now());
    return note;
}

std::shared_ptr<QVRDataStore> appChild(QVRDataStore* root, Delegate* delegate)
{
    auto child = QVRDataStore::storeWithParent(root, ConcurrencyType::MainQueue);
    child->setIdentifier(QStringLiteral("QuillaryAppDelegate"));
    child->setDelegate(delegate);
    return child;
}

TEST_F(StoreTest, ChildSaveWritesTheFileAndStampsBothKeysWithTheirRefreshDates)
{
    auto root = QVRDataStore::makeRootStore(path());
    ASSERT_NE(root->context(), nullptr);
    Delegate delegate;
    auto child = appChild(root.get(), &delegate);
    EXPECT_EQ(child->updatedKey(), ChildKey);
    EXPECT_EQ(root->updatedKey(), RootKey);
    EXPECT_EQ(child->refreshDate(), root->refreshDate());

    clock.advance(10);
    insertNote(child->context(), QStringLiteral("first"));
    EXPECT_TRUE(child->saveData());
    EXPECT_EQ(textsInFile(path()), QStringList{QStringLiteral("first")});
    EXPECT_EQ(stamp(ChildKey).toDouble(), clock.now());
    EXPECT_EQ(stamp(RootKey).toDouble(), clock.now());
    EXPECT_EQ(child->refreshDate(), clock.now());
    EXPECT_EQ(root->refreshDate(), clock.now());

    // Nothing to save: no stamp moves, no refresh date moves.
    const double saved = clock.now();
    clock.advance(10);
    EXPECT_TRUE(child->saveData());
    EXPECT_TRUE(root->saveData());
    EXPECT_EQ(stamp(ChildKey).toDouble(), saved);
    EXPECT_EQ(stamp(RootKey).toDouble(), saved);
    EXPECT_EQ(child->refreshDate(), saved);
    EXPECT_FALSE(child->refreshObjects(false)); // its own save never makes it refresh
}

struct AskCase
{
    const char* name;
    bool hasDelegate;
    bool shouldSave;
    bool childChangeSaved;
};

class RootSave : public StoreTest, public ::testing::WithParamInterface<AskCase>
{
};

TEST_P(RootSave, AsksEachChildThenSavesItsOwnChanges)
{
    auto root = QVRDataStore::makeRootStore(path());
    Delegate delegate;
    delegate.shouldSave = GetParam().shouldSave;
    auto child = appChild(root.get(), GetParam().hasDelegate ? &delegate : nullptr);
    insertNote(child->context(), QStringLiteral("child"));
    root->context()->performAndWait([&] { insertNote(root->context(), QStringLiteral("root")); });
    EXPECT_TRUE(root->saveData());
    QStringList expected{QStringLiteral("root")};
    if (GetParam().childChangeSaved)
        expected.prepend(QStringLiteral("child"));
    EXPECT_EQ(textsInFile(path()), expected);
    EXPECT_EQ(child->context()->hasChanges(), !GetParam().childChangeSaved);
}

INSTANTIATE_TEST_SUITE_P(Table, RootSave,
                         ::testing::Values(AskCase{"NoDelegate", false, false, false},
                                           AskCase{"DelegateSaysNo", true, false, false},
                                           AskCase{"DelegateSaysYes", true, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoreTest, ClosedChildIsNoLongerAskedButItsOwnSavesStillReachTheFile)
{
    auto root = QVRDataStore::makeRootStore(path());
    Delegate delegate;
    auto child = appChild(root.get(), &delegate);
    child->close();
    EXPECT_TRUE(root->childStores().empty());
    insertNote(child->context(), QStringLiteral("after close"));
    EXPECT_TRUE(root->saveData());
    EXPECT_TRUE(textsInFile(path()).isEmpty());
    EXPECT_TRUE(child->saveData());
    EXPECT_EQ(textsInFile(path()), QStringList{QStringLiteral("after close")});
}

struct RefreshCase
{
    const char* name;
    bool inUse;
    bool force;
    // 0 none, -1 earlier than refreshDate, +1 later, 2 a text (wrong type),
    // 3 later and written by another process, 4 later as a property-list date
    int stamp;
    bool refreshed;
    bool delegateTold;
};

class RefreshDecision : public StoreTest, public ::testing::WithParamInterface<RefreshCase>
{
};

TEST_P(RefreshDecision, FollowsForceStampAndUse)
{
    const auto& c = GetParam();
    auto root = QVRDataStore::makeRootStore(path());
    Delegate delegate;
    auto child = appChild(root.get(), &delegate);
    Note* note = insertNote(child->context(), QStringLiteral("loaded"));
    ASSERT_TRUE(child->saveData());
    delegate.inUse = c.inUse;
    if (c.stamp == -1)
        QVRDataStore::sharedDefaults().set(ChildKey, child->refreshDate() - 5);
    else if (c.stamp == 1)
        QVRDataStore::sharedDefaults().set(ChildKey, child->refreshDate() + 5);
    else if (c.stamp == 2)
        QVRDataStore::sharedDefaults().set(ChildKey, QStringLiteral("tomorrow"));
    else if (c.stamp == 3)
        UserDefaults(QVRDataStore::sharedDefaults().filePath()).set(ChildKey, child->refreshDate() + 5);
    else if (c.stamp == 4)
        QVRDataStore::sharedDefaults().set(ChildKey,
                                           QVariant::fromValue(PlistDate{child->refreshDate() + 5}));
    else
        QVRDataStore::sharedDefaults().remove(ChildKey);
    clock.advance(1);
    EXPECT_EQ(child->refreshObjects(c.force), c.refreshed);
    EXPECT_EQ(delegate.refreshedCalls, c.delegateTold ? 1 : 0);
    if (c.delegateTold) {
        EXPECT_EQ(delegate.lastRefreshed, c.refreshed);
    }
    EXPECT_EQ(note->isFault(), c.refreshed);
    EXPECT_EQ(note->text(), QStringLiteral("loaded"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefreshDecision,
    ::testing::Values(RefreshCase{"InUseRefusesAndTellsNoOne", true, true, 1, false, false},
                      RefreshCase{"ForceRefreshesWithoutStamp", false, true, 0, true, true},
                      RefreshCase{"NoStampNoRefresh", false, false, 0, false, true},
                      RefreshCase{"EarlierStampNoRefresh", false, false, -1, false, true},
                      RefreshCase{"LaterStampRefreshes", false, false, 1, true, true},
                      RefreshCase{"StampOfWrongTypeCountsAsNone", false, false, 2, false, true},
                      RefreshCase{"LaterStampOfAnotherProcessRefreshes", false, false, 3, true, true},
                      RefreshCase{"LaterStampAsPropertyListDateRefreshes", false, false, 4, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoreTest, UnsavedEditsSurviveEveryKindOfRefresh)
{
    auto root = QVRDataStore::makeRootStore(path());
    Delegate delegate;
    auto child = appChild(root.get(), &delegate);
    Note* kept = insertNote(child->context(), QStringLiteral("kept"));
    Note* edited = insertNote(child->context(), QStringLiteral("before"));
    ASSERT_TRUE(child->saveData());
    edited->setText(QStringLiteral("after"));
    EXPECT_TRUE(child->refreshObjects(true));
    EXPECT_TRUE(root->refreshAllObjects());
    EXPECT_TRUE(kept->isFault());
    EXPECT_FALSE(edited->isFault());
    EXPECT_EQ(edited->text(), QStringLiteral("after"));
    EXPECT_EQ(edited->title(), QStringLiteral("after"));
    ASSERT_TRUE(child->saveData());
    EXPECT_EQ(textsInFile(path()), (QStringList{QStringLiteral("after"), QStringLiteral("kept")}));
}

TEST_F(StoreTest, RefreshAllSkipsChildInUseAndRefusesWhenRootInUse)
{
    auto root = QVRDataStore::makeRootStore(path());
    Delegate rootDelegate, childDelegate;
    root->setDelegate(&rootDelegate);
    auto child = appChild(root.get(), &childDelegate);
    Note* note = insertNote(child->context(), QStringLiteral("x"));
    ASSERT_TRUE(child->saveData());
    childDelegate.inUse = true;
    child->refreshAllObjects(); // forwarded to the root
    EXPECT_FALSE(note->isFault());
    childDelegate.inUse = false;
    rootDelegate.inUse = true;
    EXPECT_FALSE(root->refreshAllObjects());
    EXPECT_FALSE(note->isFault());
    rootDelegate.inUse = false;
    EXPECT_TRUE(root->refreshAllObjects());
    EXPECT_TRUE(note->isFault());
    EXPECT_EQ(rootDelegate.refreshedCalls + childDelegate.refreshedCalls, 0);
}

TEST_F(StoreTest, TemporaryContextWithoutChangesNeitherSavesNorRefreshes)
{
    auto root = QVRDataStore::makeRootStore(path());
    auto scratch = root->temporaryContext();
    const double before = root->refreshDate();
    clock.advance(5);
    EXPECT_FALSE(root->saveTemporaryContext(scratch.get(), true));
    EXPECT_EQ(root->refreshDate(), before);
    EXPECT_FALSE(stamp(RootKey).isValid());
}

// A committed batch leaves the copies it did not touch loaded: turning every
// note of the window's list into a fault made the next pass over the list
// read each one back from the file.
TEST_F(StoreTest, CommittedTemporaryContextRefreshesOnlyTheRecordsItChanged)
{
    auto root = QVRDataStore::makeRootStore(path());
    Delegate delegate;
    auto child = appChild(root.get(), &delegate);
    Note* kept = insertNote(child->context(), QStringLiteral("kept"));
    Note* edited = insertNote(child->context(), QStringLiteral("before"));
    Note* pruned = insertNote(child->context(), QStringLiteral("old"), true);
    ASSERT_TRUE(child->saveData());
    auto scratch = root->temporaryContext();
    scratch->performAndWait([&] {
        for (ManagedObject* note : scratch->fetch(FetchRequest{QVRNoteEntityName, nullptr, {}, 0})) {
            if (note->objectID() == edited->objectID())
                note->setValue(QStringLiteral("text"), QStringLiteral("after"));
            else if (note->objectID() == pruned->objectID())
                scratch->remove(note);
        }
    });
    ASSERT_TRUE(root->saveTemporaryContext(scratch.get(), true));
    EXPECT_FALSE(kept->isFault());
    EXPECT_TRUE(edited->isFault());
    EXPECT_EQ(edited->text(), QStringLiteral("after"));
    EXPECT_TRUE(pruned->isFault());
    EXPECT_TRUE(pruned->text().isEmpty());
    EXPECT_TRUE(pruned->isDeleted());
    EXPECT_EQ(textsInFile(path()), (QStringList{QStringLiteral("after"), QStringLiteral("kept")}));
}

// Pruning runs on a worker thread through a temporary context, while the main
// thread keeps making and closing child stores and showing notes.
TEST_F(StoreTest, RefreshFromPruningThreadDoesNotRaceTheChildListOrTheRegistry)
{
    auto root = QVRDataStore::makeRootStore(path());
    Delegate delegate;
    auto child = appChild(root.get(), &delegate);
    std::vector<Note*> shown;
    for (int i = 0; i < 40; ++i)
        shown.push_back(insertNote(child->context(), QStringLiteral("note %1").arg(i), i % 2 == 0));
    ASSERT_TRUE(child->saveData());

    std::atomic<bool> done{false};
    std::atomic<bool> committed{false};
    std::thread pruner([&] {
        auto scratch = root->temporaryContext();
        scratch->performAndWait([&] {
            FetchRequest old{QVRNoteEntityName, Predicate::parse(QStringLiteral("archived == YES")), {}, 0};
            for (auto* note : scratch->fetch(old))
                scratch->remove(note);
        });
        committed = root->saveTemporaryContext(scratch.get(), true);
        for (int i = 0; i < 20; ++i)
            root->refreshAllObjects();
        done = true;
    });
    int churn = 0;
    while (!done) {
        auto passer = QVRDataStore::storeWithParent(root.get(), ConcurrencyType::MainQueue);
        passer->close();
        ++churn;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    pruner.join();
    EXPECT_TRUE(committed);
    EXPECT_EQ(textsInFile(path()).size(), 20);
    // The child's objects are still there to read; the pruned ones read empty.
    int readable = 0;
    for (Note* note : shown)
        readable += note->text().isEmpty() ? 0 : 1;
    EXPECT_EQ(readable, 20);
    EXPECT_GT(churn, 0);
}

TEST_F(StoreTest, FailedSaveOfLockedFileReportsFailureKeepsTheEditAndALaterSaveWritesIt)
{
    auto root = QVRDataStore::makeRootStore(path());
    Delegate delegate;
    auto child = appChild(root.get(), &delegate);
    root->context()->persistentStoreCoordinator()->setBusyTimeout(50);
    sqlite3* locker = nullptr;
    ASSERT_EQ(sqlite3_open(path().toUtf8().constData(), &locker), SQLITE_OK);
    // The store's own checkpoint may hold the file for a moment after opening.
    sqlite3_busy_timeout(locker, 5000);
    ASSERT_EQ(sqlite3_exec(locker, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    insertNote(child->context(), QStringLiteral("precious"));
    EXPECT_FALSE(child->saveData());
    ASSERT_TRUE(root->error().has_value());
    EXPECT_EQ(root->error()->domain, QStringLiteral("com.quorvane.datastore"));
    EXPECT_EQ(root->error()->code, 100);
    EXPECT_EQ(root->error()->localizedDescription, QStringLiteral("There was an error saving your data"));
    EXPECT_TRUE(logged(QStringLiteral("Error in saveData: ")));
    EXPECT_FALSE(stamp(RootKey).isValid());

    sqlite3_exec(locker, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(locker);
    EXPECT_TRUE(root->saveData());
    EXPECT_EQ(textsInFile(path()), QStringList{QStringLiteral("precious")});
}

struct UnusableCase
{
    const char* name;
    const char* sql;    // null: a file of random bytes
    const char* reason; // how the user is told why
};

class UnusableStore : public StoreTest, public ::testing::WithParamInterface<UnusableCase>
{
};

TEST_P(UnusableStore, RootHasNoContextRecordsTheLoadErrorAndLeavesTheFile)
{
    if (GetParam().sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path().toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_exec(db, GetParam().sql, nullptr, nullptr, nullptr);
        sqlite3_close(db);
    } else {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, '\x5a'));
    }
    const QByteArray before = fileBytes();
    auto root = QVRDataStore::makeRootStore(path());
    EXPECT_EQ(root->context(), nullptr);
    ASSERT_TRUE(root->error().has_value());
    EXPECT_EQ(root->error()->domain, QStringLiteral("com.quorvane.datastore"));
    EXPECT_EQ(root->error()->code, 100);
    EXPECT_EQ(root->error()->localizedDescription, QStringLiteral("There was an error loading your data"));
    EXPECT_TRUE(root->error()->recoverySuggestion.startsWith(QStringLiteral(
        "If you continue to see this error, please try deleting and reinstalling the app, or visit ")));
    EXPECT_TRUE(root->error()->recoverySuggestion.endsWith(QStringLiteral(" for help.")));
    // The text says what to do; the reason beside it, what is wrong.
    EXPECT_TRUE(root->error()
                    ->userInfo.value(QStringLiteral("NSLocalizedFailureReason"))
                    .toString()
                    .startsWith(QString::fromUtf8(GetParam().reason)))
        << qPrintable(root->error()->userInfo.value(QStringLiteral("NSLocalizedFailureReason")).toString());
    EXPECT_TRUE(logged(QStringLiteral("Unresolved error in persistentStoreCoordinator: ")));
    EXPECT_EQ(QVRDataStore::storeWithParent(root.get(), ConcurrencyType::MainQueue), nullptr);
    EXPECT_FALSE(root->saveData());
    EXPECT_EQ(fileBytes(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnusableStore,
    ::testing::Values(UnusableCase{"NotADatabase", nullptr, "The store file is not a database"},
                      UnusableCase{"NewerVersion",
                                   "CREATE TABLE \"Note\" (pk INTEGER PRIMARY KEY);"
                                   "PRAGMA user_version = 7;",
                                   "The store file was written by a newer version"},
                      UnusableCase{"ForeignDatabase", "CREATE TABLE contacts (name TEXT);",
                                   "The store file is a database of another kind"},
                      UnusableCase{"TableWithoutRowKeys",
                                   "CREATE TABLE \"Note\" (uuid TEXT);"
                                   "PRAGMA user_version = 1;",
                                   "The store's table Note is not in the expected form"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoreTest, MissingFileWithRecordedVersionIsLoggedAndStartsEmpty)
{
    QVRDataStore::sharedDefaults().set(QStringLiteral("QVRLastInstalledVersion"), qint64(610));
    auto root = QVRDataStore::makeRootStore(path());
    EXPECT_TRUE(logged(QStringLiteral("Database is missing but previous version is 610")));
    EXPECT_EQ(root->previousVersion(), 0u);
    ASSERT_NE(root->context(), nullptr);
    EXPECT_TRUE(QFileInfo::exists(path()));
    Delegate delegate;
    auto child = appChild(root.get(), &delegate);
    EXPECT_EQ(child->currentVersion(), root->currentVersion());
    root->registerCurrentVersion();
    EXPECT_EQ(QVRDataStore::sharedDefaults().integer(QStringLiteral("QVRLastInstalledVersion")),
              qint64(QVRDataStore::bundleCurrentVersion()));
}

TEST_F(StoreTest, NoStoreLocationIsLoggedAndGivesNoCoordinator)
{
    EXPECT_EQ(QVRDataStore::persistentStoreCoordinatorWithModel(nullptr, QString()), nullptr);
    EXPECT_TRUE(logged(QStringLiteral("Unable to create persistent store without a storeURL")));
}

class CacheName : public StoreTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(CacheName, ThatLeavesTheCachesFolderIsRefusedAndDeletesNothing)
{
    const QString caches = QVRDataStore::cachesURL();
    QDir().mkpath(caches + QStringLiteral("/Keep"));
    QFile sentinel(caches + QStringLiteral("/Keep/sentinel"));
    ASSERT_TRUE(sentinel.open(QIODevice::WriteOnly));
    sentinel.close();
    EXPECT_TRUE(QVRDataStore::cacheURLNamed(QString::fromUtf8(GetParam()), false, false).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(sentinel.fileName()));
    EXPECT_TRUE(QFileInfo::exists(caches));
    EXPECT_EQ(logs.lines().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Table, CacheName, ::testing::Values("", ".", "..", "Keep/..", "../..", "a/b"));

TEST_F(StoreTest, CacheFolderIsClearedAndMadeAgainOnlyWhenAsked)
{
    const QString notes = QVRDataStore::cacheURLNamed(QStringLiteral("Notes"), false, true);
    EXPECT_TRUE(notes.startsWith(QVRDataStore::cachesURL()));
    QFile old(notes + QStringLiteral("/old"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.close();
    EXPECT_EQ(QVRDataStore::cacheURLNamed(QStringLiteral("Notes"), false, true), notes);
    EXPECT_TRUE(QFileInfo(notes).isDir());
    EXPECT_FALSE(QFileInfo::exists(old.fileName()));
    EXPECT_EQ(QVRDataStore::cacheURLNamed(QStringLiteral("Notes"), false, false), notes);
    EXPECT_FALSE(QFileInfo::exists(notes));
    const QString shared = QVRDataStore::cacheURLNamed(QStringLiteral("SharedItems"), true, true);
    EXPECT_TRUE(shared.startsWith(QVRDataStore::sharedCachesURL()));
    EXPECT_TRUE(QFileInfo(shared).isDir());
}

TEST_F(StoreTest, SharedStoreIsOneObjectWhicheverThreadAsks)
{
    std::vector<QVRDataStore*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] { seen[i] = QVRDataStore::sharedStore(); });
    for (auto& thread : threads)
        thread.join();
    for (auto* store : seen)
        EXPECT_EQ(store, QVRDataStore::sharedStore());
    EXPECT_NE(QVRDataStore::sharedStore()->context(), nullptr);
    EXPECT_EQ(QVRDataStore::storeURL(),
              QVRDataStore::sharedContainerURL() + QStringLiteral("/Quillary.sqlite"));
}

} // namespace
