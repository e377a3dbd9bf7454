#include "DataTestSupport.h"

#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/data/ArrayController.h"
#include "platform/data/SearchIndex.h"
#include "platform/predicate/Predicate.h"
#include "tests/support/ManualClock.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace platform;
using datatest::Stack;

namespace {

const QString ItemEntity = QStringLiteral("Item");

FetchRequest request(const QString& format = {}, const QVariantList& arguments = {}, int limit = 0)
{
    FetchRequest r;
    r.entityName = ItemEntity;
    if (!format.isEmpty())
        r.predicate = Predicate::parse(format, arguments);
    r.sortDescriptors = {{QStringLiteral("name"), true}};
    r.fetchLimit = limit;
    return r;
}

QStringList names(const std::vector<ManagedObject*>& objects)
{
    QStringList list;
    for (auto* object : objects)
        list << object->value(QStringLiteral("name")).toString();
    return list;
}

// Runs SQL on the file through a connection of its own, as another process would.
void externalSql(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    // A store with a search index may be indexing in the background.
    sqlite3_busy_timeout(db, 5000);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

ManagedObject* insertItem(ManagedObjectContext* context, const QString& name, double rank = 0)
{
    auto* item = context->insert(ItemEntity);
    item->setValue(QStringLiteral("name"), name);
    item->setValue(QStringLiteral("rank"), rank);
    return item;
}

// Two items saved ("  \nfirst line\nmore" of rank 1, "second" of rank 2),
// then nothing loaded anywhere, as at a start.
void saveTwoUnloadedItems(Stack& stack)
{
    stack.root->performAndWait([&] {
        insertItem(stack.root.get(), QStringLiteral("  \nfirst line\nmore"), 1);
        insertItem(stack.root.get(), QStringLiteral("second"), 2);
        ASSERT_TRUE(stack.root->save());
        for (ManagedObject* object : stack.root->registeredObjects())
            stack.root->refresh(object);
    });
}

TEST(ObjectContext, InsertGivesPermanentIdThatSurvivesSaveAndReopen)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    auto child = stack.child();
    ObjectID id;
    child->performAndWait([&] {
        auto* item = insertItem(child.get(), QStringLiteral("a"));
        id = item->objectID();
        EXPECT_FALSE(id.isNull());
        ASSERT_TRUE(child->save());
        EXPECT_EQ(item->objectID(), id);
    });
    stack.root->performAndWait([&] { ASSERT_TRUE(stack.root->save()); });
    child.reset();
    stack.root.reset();
    ASSERT_TRUE(stack.open());
    stack.root->performAndWait([&] {
        auto* again = stack.root->existingObject(id);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->value(QStringLiteral("name")).toString(), QStringLiteral("a"));
        EXPECT_EQ(again->value(QStringLiteral("done")), QVariant(false)); // model default
    });
}

TEST(ObjectContext, FetchSeesAncestorsPendingChangesThenSortsThenLimits)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    stack.root->performAndWait([&] {
        insertItem(stack.root.get(), QStringLiteral("b"), 1);
        insertItem(stack.root.get(), QStringLiteral("d"), 1);
        ASSERT_TRUE(stack.root->save());
        insertItem(stack.root.get(), QStringLiteral("a"), 1); // pending in the root
        auto rows = stack.root->fetch(request(QStringLiteral("name == %@"), {QStringLiteral("d")}));
        ASSERT_EQ(rows.size(), 1u);
        rows[0]->setValue(QStringLiteral("rank"), 5.0); // pending change, no longer matches below
    });
    auto child = stack.child();
    child->performAndWait([&] {
        insertItem(child.get(), QStringLiteral("c"), 1);
        EXPECT_EQ(names(child->fetch(request(QStringLiteral("rank == 1")))),
                  (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
        EXPECT_EQ(names(child->fetch(request(QStringLiteral("rank == 1"), {}, 2))),
                  (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        EXPECT_EQ(child->count(request(QStringLiteral("rank == 5"))), 1);
        // By key: the file's rows and the pending ones alike, nothing else.
        const auto ranked = child->fetch(request(QStringLiteral("rank == 1")));
        ASSERT_EQ(ranked.size(), 3u);
        FetchRequest byKey = request();
        byKey.keys = std::vector<qint64>{ranked[0]->objectID().key, ranked[1]->objectID().key};
        std::sort(byKey.keys->begin(), byKey.keys->end());
        EXPECT_EQ(names(child->fetch(byKey)), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        byKey.keys = std::vector<qint64>{ranked[2]->objectID().key};
        EXPECT_EQ(names(child->fetch(byKey)), QStringList{QStringLiteral("c")});
        byKey.keys = std::vector<qint64>{};
        EXPECT_TRUE(child->fetch(byKey).empty());
        auto b = child->fetch(request(QStringLiteral("name == 'b'")));
        ASSERT_EQ(b.size(), 1u);
        child->remove(b[0]);
        EXPECT_EQ(names(child->fetch(request(QStringLiteral("rank == 1")))),
                  (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
    });
}

TEST(ObjectContext, DeletionByKeyMakesNoObjectsAndSavesLikeRemove)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    // Written through a context of its own: the root starts with no objects.
    auto writer = std::make_unique<ManagedObjectContext>(ConcurrencyType::PrivateQueue);
    writer->setPersistentStoreCoordinator(stack.coordinator);
    writer->performAndWait([&] {
        for (const char* name : {"a", "b", "c", "d"})
            insertItem(writer.get(), QString::fromLatin1(name), name[0] == 'd' ? 2 : 1);
        ASSERT_TRUE(writer->save());
    });
    ManagedObject* held = nullptr;
    stack.root->performAndWait([&] {
        auto a = stack.root->fetch(request(QStringLiteral("name == 'a'")));
        ASSERT_EQ(a.size(), 1u);
        held = a[0]; // the root holds this one, as a list would
    });
    auto child = stack.child();
    child->performAndWait([&] {
        const std::vector<ObjectID> ids = child->fetchObjectIDs(request(QStringLiteral("rank == 1")));
        ASSERT_EQ(ids.size(), 3u);
        EXPECT_TRUE(child->registeredObjects().empty());
        child->removeObjectsWithIDs(ids);
        EXPECT_TRUE(child->hasChanges());
        EXPECT_EQ(child->deletedObjectIDs().size(), 3u);
        EXPECT_EQ(names(child->fetch(request())), QStringList{QStringLiteral("d")});
        // Asked for after all, an object comes back deleted.
        EXPECT_TRUE(child->objectWithID(ids[1])->isDeleted());
        ASSERT_TRUE(child->save());
    });
    stack.root->performAndWait([&] {
        EXPECT_TRUE(held->isDeleted());
        EXPECT_EQ(stack.root->registeredObjects().size(), 1u); // none made for b and c
        QStringList saved;
        auto observer = NotificationCenter::defaultCenter().addObserver(
            ContextDidSaveNotification, stack.root.get(), [&](const Notification& notice) {
                saved = notice.userInfo.value(QStringLiteral("deleted")).toStringList();
            });
        ASSERT_TRUE(stack.root->save());
        EXPECT_EQ(saved.size(), 3);
        EXPECT_FALSE(stack.root->hasChanges());
    });
    // The rows are gone from the file, as another reader sees it.
    auto coordinator = std::make_shared<PersistentStoreCoordinator>(datatest::itemModel());
    ASSERT_TRUE(coordinator->open(stack.path()));
    auto context = std::make_unique<ManagedObjectContext>(ConcurrencyType::PrivateQueue);
    context->setPersistentStoreCoordinator(coordinator);
    context->performAndWait(
        [&] { EXPECT_EQ(names(context->fetch(request())), QStringList{QStringLiteral("d")}); });
}

TEST(ObjectContext, RefetchKeepsInMemoryValuesOfLoadedObjects)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    auto child = stack.child();
    child->performAndWait([&] {
        auto* item = insertItem(child.get(), QStringLiteral("a"), 1);
        ASSERT_TRUE(child->save());
        item->setValue(QStringLiteral("rank"), 2.0); // unsaved edit
        auto again = child->fetch(request());
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(again[0], item);
        EXPECT_EQ(item->value(QStringLiteral("rank")), QVariant(2.0));
    });
}

TEST(ObjectContext, InsertedObjectReachesListsOnlyAtProcessPendingChanges)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    auto child = stack.child();
    child->performAndWait([&] {
        ArrayController list;
        list.setEntityName(ItemEntity);
        list.setContext(child.get());
        ASSERT_TRUE(list.fetch());
        list.rearrangeObjects();
        auto* item = insertItem(child.get(), QStringLiteral("a"));
        EXPECT_TRUE(list.content().empty());
        child->processPendingChanges();
        ASSERT_EQ(list.content().size(), 1u);
        EXPECT_TRUE(list.arrangedObjects().empty()); // only rearrangeObjects changes the arrangement
        list.rearrangeObjects();
        EXPECT_EQ(list.arrangedObjects(), std::vector<ManagedObject*>{item});
        child->remove(item);
        child->processPendingChanges();
        EXPECT_TRUE(list.content().empty());
    });
}

// Filtering keeps each record's folded text between passes; a pass after an
// edit must search the new text, whether the edit came through the object or
// from a parent context after a refresh.
TEST(ObjectContext, FilteredListSearchesTheEditedTextNotTheOneFoldedBefore)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    auto child = stack.child();
    auto other = stack.child();
    ManagedObject* item = nullptr;
    child->performAndWait([&] {
        item = insertItem(child.get(), QString::fromUtf8("Crème brûlée"));
        ASSERT_TRUE(child->save());
    });
    ASSERT_TRUE(item);
    ArrayController list;
    auto arranged = [&](const QString& word) {
        std::vector<ManagedObject*> found;
        child->performAndWait([&] {
            list.setFilterPredicate(Predicate::parse(QStringLiteral("name contains[cd] %@"), {word}));
            list.rearrangeObjects();
            found = list.arrangedObjects();
        });
        return found;
    };
    child->performAndWait([&] {
        list.setEntityName(ItemEntity);
        list.setContext(child.get());
        ASSERT_TRUE(list.fetch());
    });
    const std::vector<ManagedObject*> just{item};
    EXPECT_EQ(arranged(QStringLiteral("CREME")), just);
    child->performAndWait([&] { item->setValue(QStringLiteral("name"), QString::fromUtf8("Tarte Tatin")); });
    EXPECT_TRUE(arranged(QStringLiteral("creme")).empty());
    EXPECT_EQ(arranged(QStringLiteral("tatin")), just);

    // The same record changed by a sibling and read again after a refresh.
    child->performAndWait([&] { ASSERT_TRUE(child->save()); });
    other->performAndWait([&] {
        ManagedObject* copy = other->existingObject(item->objectID());
        ASSERT_TRUE(copy);
        copy->setValue(QStringLiteral("name"), QString::fromUtf8("Gâteau Basque"));
        ASSERT_TRUE(other->save());
    });
    child->performAndWait([&] { child->refresh(item); });
    EXPECT_TRUE(arranged(QStringLiteral("tatin")).empty());
    EXPECT_EQ(arranged(QStringLiteral("GATEAU")), just);
}

TEST(ObjectContext, RefreshTurnsUnchangedObjectIntoFaultThatRefillsFromParent)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    auto child = stack.child();
    ManagedObject* item = nullptr;
    child->performAndWait([&] {
        item = insertItem(child.get(), QStringLiteral("a"), 1);
        ASSERT_TRUE(child->save());
    });
    stack.root->performAndWait([&] {
        auto rows = stack.root->fetch(request());
        ASSERT_EQ(rows.size(), 1u);
        rows[0]->setValue(QStringLiteral("rank"), 9.0);
    });
    child->performAndWait([&] {
        auto* typed = static_cast<datatest::Item*>(item);
        const int awakenings = typed->awakeFromFetchCount;
        EXPECT_EQ(item->value(QStringLiteral("rank")), QVariant(1.0));
        child->refresh(item, false);
        EXPECT_TRUE(item->isFault());
        EXPECT_EQ(item->value(QStringLiteral("rank")), QVariant(9.0));
        EXPECT_EQ(typed->awakeFromFetchCount, awakenings + 1);
    });
}

TEST(ObjectContext, RefreshWithinStalenessServesSnapshotAndRereadsAfterIt)
{
    testsupport::ManualClock clock;
    Stack stack;
    ASSERT_TRUE(stack.open());
    ManagedObject* item = nullptr;
    stack.root->performAndWait([&] {
        item = insertItem(stack.root.get(), QStringLiteral("a"), 1);
        ASSERT_TRUE(stack.root->save());
    });
    externalSql(stack.path(), "UPDATE \"Item\" SET rank = 7, version = version + 1");
    stack.root->performAndWait([&] {
        clock.advance(30);
        stack.root->refresh(item);
        EXPECT_EQ(item->value(QStringLiteral("rank")), QVariant(1.0));
        clock.advance(31);
        stack.root->refresh(item);
        EXPECT_EQ(item->value(QStringLiteral("rank")), QVariant(7.0));
    });
}

TEST(ObjectContext, RootWritesOnlyItsChangedPropertiesOverAnotherProcessesWrite)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    stack.root->performAndWait([&] {
        auto* item = insertItem(stack.root.get(), QStringLiteral("a"), 1);
        ASSERT_TRUE(stack.root->save());
        externalSql(stack.path(),
                    "UPDATE \"Item\" SET name = 'renamed elsewhere', rank = 3, version = version + 1");
        item->setValue(QStringLiteral("rank"), 4.0);
        ASSERT_TRUE(stack.root->save());
    });
    auto reader = std::make_shared<PersistentStoreCoordinator>(datatest::itemModel());
    ASSERT_TRUE(reader->open(stack.path()));
    auto rows = reader->fetchRows(ItemEntity, nullptr, nullptr);
    ASSERT_EQ(rows->size(), 1u);
    EXPECT_EQ(rows->at(0).values.value(QStringLiteral("name")).toString(),
              QStringLiteral("renamed elsewhere"));
    EXPECT_EQ(rows->at(0).values.value(QStringLiteral("rank")), QVariant(4.0));
}

TEST(ObjectContext, VanishedRowDoesNotCrashAndAnEditWritesItAgain)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    auto child = stack.child();
    ManagedObject* item = nullptr;
    ObjectID id;
    child->performAndWait([&] {
        item = insertItem(child.get(), QStringLiteral("a"), 1);
        id = item->objectID();
        ASSERT_TRUE(child->save());
    });
    stack.root->performAndWait([&] { ASSERT_TRUE(stack.root->save()); });
    // Pruned through a scratch context while the child still holds the note.
    auto scratch = stack.child();
    scratch->performAndWait([&] {
        scratch->remove(scratch->existingObject(id));
        ASSERT_TRUE(scratch->save());
    });
    stack.root->performAndWait([&] { ASSERT_TRUE(stack.root->save()); });
    QStringList lines;
    setLogSink([&](const QString& line) { lines << line; });
    child->performAndWait([&] {
        child->refresh(item);
        EXPECT_FALSE(item->value(QStringLiteral("name")).isValid());
        EXPECT_TRUE(item->isDeleted()); // gone, and no change of this context's
        EXPECT_FALSE(child->hasChanges());
        item->setValue(QStringLiteral("name"), QStringLiteral("edited"));
        EXPECT_FALSE(item->isDeleted()); // the edit brings it back
        ASSERT_TRUE(child->save());
    });
    setLogSink({});
    EXPECT_EQ(lines.size(), 1);
    stack.root->performAndWait([&] { ASSERT_TRUE(stack.root->save()); });
    auto reader = std::make_shared<PersistentStoreCoordinator>(datatest::itemModel());
    ASSERT_TRUE(reader->open(stack.path()));
    auto rows = reader->fetchRows(ItemEntity, nullptr, nullptr);
    ASSERT_EQ(rows->size(), 1u);
    EXPECT_EQ(rows->at(0).values.value(QStringLiteral("name")).toString(), QStringLiteral("edited"));
}

// A key a fetch deferred is read on first use, through the parents, from
// the file as it is then; a change or a refresh of such an object loses
// nothing of what was never read.
TEST(ObjectContext, DeferredKeyIsReadWhenFirstNeededAndSavesKeepIt)
{
    const QString Name = QStringLiteral("name");
    Stack stack;
    ASSERT_TRUE(stack.open());
    saveTwoUnloadedItems(stack);
    auto deferred = [&](const QString& sortKey) {
        FetchRequest r = request();
        r.sortDescriptors = {{sortKey, true}};
        r.deferredKeys = {Name};
        r.firstLines = {{QStringLiteral("scratch"), Name, 5}};
        return r;
    };
    auto child = stack.child();
    child->performAndWait([&] {
        auto items = child->fetch(deferred(QStringLiteral("rank")));
        ASSERT_EQ(items.size(), 2u);
        EXPECT_EQ(items[0]->unloadedKeys(), QStringList{Name});
        EXPECT_EQ(items[0]->value(QStringLiteral("scratch")), QVariant(QStringLiteral("first")));
        EXPECT_EQ(items[0]->value(QStringLiteral("rank")), QVariant(1.0));
        EXPECT_FALSE(items[0]->isLoaded(Name));

        // Another process renames it after the fetch: the name read now is
        // the file's, though the row's snapshot is fresh.
        externalSql(stack.path(),
                    "UPDATE \"Item\" SET name = 'renamed', version = version + 1 WHERE rank = 1");
        EXPECT_EQ(items[0]->value(Name), QVariant(QStringLiteral("renamed")));
        EXPECT_TRUE(items[0]->isLoaded(Name));

        // A change loads the rest first; the save writes the change only.
        EXPECT_FALSE(items[1]->isLoaded(Name));
        externalSql(stack.path(),
                    "UPDATE \"Item\" SET name = 'second, edited', version = version + 1 WHERE rank = 2");
        items[1]->setValue(QStringLiteral("count"), 3);
        EXPECT_TRUE(items[1]->isLoaded(Name));
        ASSERT_TRUE(child->save());

        // A refresh makes a fault as before; it refills whole.
        auto again = stack.child();
        again->performAndWait([&] {
            auto fresh = again->fetch(deferred(QStringLiteral("rank")));
            ASSERT_EQ(fresh.size(), 2u);
            again->refresh(fresh[0]);
            EXPECT_TRUE(fresh[0]->isFault());
            EXPECT_EQ(fresh[0]->values().value(Name), QVariant(QStringLiteral("renamed")));
            EXPECT_TRUE(fresh[0]->unloadedKeys().isEmpty());
            // Sorting on a deferred key reads it.
            auto byName = again->fetch(deferred(Name));
            EXPECT_EQ(names(byName),
                      (QStringList{QStringLiteral("renamed"), QStringLiteral("second, edited")}));
        });
    });
    stack.root->performAndWait([&] { ASSERT_TRUE(stack.root->save()); });
    auto reader = std::make_shared<PersistentStoreCoordinator>(datatest::itemModel());
    ASSERT_TRUE(reader->open(stack.path()));
    auto rows = reader->fetchRows(ItemEntity, Predicate::parse(QStringLiteral("rank == 2")).get(), nullptr);
    ASSERT_EQ(rows->size(), 1u);
    EXPECT_EQ(rows->at(0).values.value(Name), QVariant(QStringLiteral("second, edited")));
    EXPECT_EQ(rows->at(0).values.value(QStringLiteral("count")), QVariant(qint64(3)));
}

// A list's record read without its text gets the first line from the file
// alone; a context above holding the record changed has the newer text, and
// the first line is then left to be worked out from that text.
TEST(ObjectContext, FirstLineOfAnUnreadTextComesFromTheFileUnlessAParentChangedIt)
{
    const QString Name = QStringLiteral("name");
    const FirstLineKey scratch{QStringLiteral("scratch"), Name, 5};
    Stack stack;
    ASSERT_TRUE(stack.open());
    saveTwoUnloadedItems(stack);
    FetchRequest deferred = request();
    deferred.sortDescriptors = {{QStringLiteral("rank"), true}};
    deferred.deferredKeys = {Name};
    auto child = stack.child();
    child->performAndWait([&] {
        auto items = child->fetch(deferred);
        ASSERT_EQ(items.size(), 2u);
        EXPECT_TRUE(child->loadFirstLine(items[0], scratch));
        EXPECT_EQ(items[0]->value(QStringLiteral("scratch")), QVariant(QStringLiteral("first")));
        EXPECT_FALSE(items[0]->isLoaded(Name));
        // Once the text is read there is nothing to fill.
        EXPECT_EQ(items[0]->value(Name), QVariant(QStringLiteral("  \nfirst line\nmore")));
        EXPECT_FALSE(child->loadFirstLine(items[0], scratch));
    });
    auto other = stack.child();
    other->performAndWait([&] {
        auto items = other->fetch(deferred);
        ASSERT_EQ(items.size(), 2u);
        ASSERT_FALSE(items[1]->isLoaded(Name));
        stack.root->performAndWait([&] {
            auto second = stack.root->fetch(request(QStringLiteral("rank == 2")));
            ASSERT_EQ(second.size(), 1u);
            second[0]->setValue(Name, QStringLiteral("second, changed above"));
        });
        EXPECT_FALSE(other->loadFirstLine(items[1], scratch));
        EXPECT_FALSE(items[1]->isLoaded(Name));
        EXPECT_EQ(items[1]->value(Name), QVariant(QStringLiteral("second, changed above")));
    });
}

// Records read by key for their numbers and flags alone come from the copy
// the search index keeps of those columns: it must say what the table says,
// also after another program wrote the table.
TEST(ObjectContext, FetchByKeysOfNumbersAloneAgreesWithTheTableAfterAnyWriter)
{
    const QString Name = QStringLiteral("name");
    auto model = std::make_shared<ManagedObjectModel>(*datatest::itemModel());
    model->entities[0].attributes[0].searchIndexed = true;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("items.sqlite"));
    auto coordinator = std::make_shared<PersistentStoreCoordinator>(model);
    ASSERT_TRUE(coordinator->open(path));
    auto root = std::make_unique<ManagedObjectContext>(ConcurrencyType::PrivateQueue);
    root->setPersistentStoreCoordinator(coordinator);
    std::vector<qint64> keys;
    root->performAndWait([&] {
        for (int i = 0; i < 4; ++i) {
            auto* item = insertItem(root.get(), QStringLiteral("item %1").arg(i), i);
            item->setValue(QStringLiteral("count"), i * 10);
        }
        ASSERT_TRUE(root->save());
        for (ManagedObject* object : root->registeredObjects())
            keys.push_back(object->objectID().key);
    });
    std::sort(keys.begin(), keys.end());
    externalSql(path,
                "UPDATE \"Item\" SET rank = 7.5, done = 1, version = version + 1 WHERE name = 'item 1'");
    externalSql(path, "DELETE FROM \"Item\" WHERE name = 'item 2'");
    externalSql(path, "INSERT INTO \"Item\" (pk, version, name, rank, done, count) "
                      "VALUES (4611686018427387904, 1, 'far', 3, 0, 5)");
    keys.push_back(qint64(1) << 62);

    auto context = std::make_unique<ManagedObjectContext>(ConcurrencyType::PrivateQueue);
    context->setPersistentStoreCoordinator(coordinator);
    context->performAndWait([&] {
        FetchRequest byKey = request();
        byKey.sortDescriptors = {{QStringLiteral("rank"), true}};
        byKey.keys = keys;
        byKey.deferredKeys = {Name};
        const auto items = context->fetch(byKey);
        ASSERT_EQ(items.size(), 4u);
        QStringList seen;
        for (ManagedObject* item : items) {
            EXPECT_FALSE(item->isLoaded(Name));
            seen << QStringLiteral("%1 %2 %3")
                        .arg(item->value(QStringLiteral("rank")).toDouble())
                        .arg(item->value(QStringLiteral("done")).toBool())
                        .arg(item->value(QStringLiteral("count")).toLongLong());
        }
        EXPECT_EQ(seen, (QStringList{"0 0 0", "3 0 30", "3 0 5", "7.5 1 10"}));
        EXPECT_EQ(names(items), (QStringList{"item 0", "item 3", "far", "item 1"}));

        // Read again, the same objects keep what they hold and lose nothing.
        externalSql(path, "UPDATE \"Item\" SET count = 99, version = version + 1 WHERE name = 'far'");
        byKey.deferredKeys.clear();
        EXPECT_EQ(context->fetch(byKey), items);
        EXPECT_EQ(items[2]->value(QStringLiteral("count")), QVariant(qint64(5)));
        EXPECT_EQ(items[2]->value(Name), QVariant(QStringLiteral("far")));
    });
}

// A file from before the copy of the numbers and flags gets it in batches,
// the first as it is opened and the others in the background: a search of
// the copy says what the table says at every step, whoever writes.
TEST(StoreFile, CopyOfNumbersAndFlagsIsMadeInBatchesAndExactAtEveryStep)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("items.sqlite"));
    externalSql(path, "CREATE TABLE \"Item\" (pk INTEGER PRIMARY KEY, version INTEGER NOT NULL DEFAULT 1, "
                      "name TEXT, rank REAL, done INTEGER, count INTEGER);"
                      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2500) "
                      "INSERT INTO \"Item\" (pk, name, rank, done, count) "
                      "SELECT i, 'item ' || i, i % 7, i % 2, i FROM n;");
    const SearchIndex::Names names{QStringLiteral("Item"),
                                   QStringLiteral("name"),
                                   {QStringLiteral("rank"), QStringLiteral("done"), QStringLiteral("count")}};
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    ASSERT_TRUE(SearchIndex::registerTokenizer(db));
    auto sql = [&](const char* text) {
        return sqlite3_exec(db, text, nullptr, nullptr, nullptr) == SQLITE_OK;
    };
    ASSERT_TRUE(sql("BEGIN"));
    QString why;
    ASSERT_TRUE(SearchIndex::migrate(db, names, &why)) << why.toStdString();
    ASSERT_TRUE(sql("COMMIT"));
    EXPECT_FALSE(SearchIndex::columnsCopied(db, names));

    const QString condition = QStringLiteral("done = 1 AND rank > ?");
    auto truth = [&] {
        std::vector<qint64> keys;
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT pk FROM \"Item\" WHERE done = 1 AND rank > 3 ORDER BY pk", -1,
                           &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW)
            keys.push_back(sqlite3_column_int64(statement, 0));
        sqlite3_finalize(statement);
        return keys;
    };
    SearchIndex::Reader reader(path, names);
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.keysWhere(condition, {3.0}), truth());
    // Rows copied and rows not copied yet change, go and come.
    ASSERT_TRUE(sql("UPDATE \"Item\" SET done = 1 - done WHERE pk IN (11, 1501, 2401);"
                    "DELETE FROM \"Item\" WHERE pk IN (20, 2000);"
                    "INSERT INTO \"Item\" (pk, name, rank, done, count) VALUES (5000, 'late', 6, 1, 0);"));
    EXPECT_EQ(reader.keysWhere(condition, {3.0}), truth());
    int batches = 0;
    while (!SearchIndex::columnsCopied(db, names)) {
        const std::optional<qint64> left = SearchIndex::indexPending(db, names, 256, qint64(1) << 30);
        ASSERT_TRUE(left) << sqlite3_errmsg(db);
        EXPECT_GT(*left, 0);
        EXPECT_EQ(reader.keysWhere(condition, {3.0}), truth()) << "after batch " << batches;
        ASSERT_LT(++batches, 10);
    }
    EXPECT_EQ(batches, 2);
    EXPECT_EQ(reader.keysWhere(condition, {3.0}), truth());
    const QByteArray differ =
        QStringLiteral(
            "SELECT count(*) FROM (SELECT pk, rank, done, count FROM \"Item\" EXCEPT SELECT pk, rank, "
            "done, count FROM %1) UNION ALL SELECT count(*) FROM (SELECT pk, rank, done, count FROM "
            "%1 EXCEPT SELECT pk, rank, done, count FROM \"Item\")")
            .arg(SearchIndex::copiedColumnsTable(names))
            .toUtf8();
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, differ.constData(), -1, &statement, nullptr), SQLITE_OK);
    for (int side = 0; side < 2; ++side) {
        ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int64(statement, 0), 0) << side;
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
}

TEST(StoreFile, OlderFileGainsMissingColumnsAndKeepsRows)
{
    Stack stack;
    externalSql(
        stack.path(),
        "CREATE TABLE \"Item\" (pk INTEGER PRIMARY KEY, version INTEGER NOT NULL DEFAULT 1, name TEXT);"
        "INSERT INTO \"Item\" (pk, name) VALUES (4, 'old'); PRAGMA user_version = 1;");
    ASSERT_TRUE(stack.open());
    stack.root->performAndWait([&] {
        auto rows = stack.root->fetch(request(QStringLiteral("done == NO")));
        ASSERT_EQ(rows.size(), 1u); // the new column takes its default
        EXPECT_EQ(rows[0]->value(QStringLiteral("name")).toString(), QStringLiteral("old"));
        auto* fresh = insertItem(stack.root.get(), QStringLiteral("new"));
        EXPECT_GT(fresh->objectID().key, 4); // never reuses a key in the file
        EXPECT_TRUE(stack.root->save());
    });
    stack.root.reset();
    stack.coordinator.reset();
    // A newer model runs its steps once, in order, and records its version.
    auto next = std::const_pointer_cast<ManagedObjectModel>(datatest::itemModel(3));
    next->migrationSteps[2] = QStringList{QStringLiteral("UPDATE \"Item\" SET count = 2")};
    next->migrationSteps[3] = QStringList{QStringLiteral("UPDATE \"Item\" SET count = count * 10")};
    for (int open = 0; open < 2; ++open) {
        PersistentStoreCoordinator upgraded(next);
        ASSERT_TRUE(upgraded.open(stack.path()));
        auto rows = upgraded.fetchRows(ItemEntity, nullptr, nullptr);
        ASSERT_EQ(rows->size(), 2u);
        EXPECT_EQ(rows->at(0).values.value(QStringLiteral("count")), QVariant(qint64(20)));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(stack.path().toUtf8().constData(), &db), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(statement, 0), 3);
    sqlite3_finalize(statement);
    sqlite3_close(db);
}

TEST(ObjectContextQueue, PerformAndWaitNestsAndPerformRunsOnTheQueue)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    int depth = 0;
    stack.root->performAndWait([&] {
        ++depth;
        EXPECT_TRUE(stack.root->isOnQueue());
        stack.root->performAndWait([&] { ++depth; });
    });
    EXPECT_EQ(depth, 2);
    EXPECT_FALSE(stack.root->isOnQueue());
    std::atomic<bool> ran{false};
    std::atomic<bool> onQueue{false};
    stack.root->perform([&] {
        onQueue = stack.root->isOnQueue();
        ran = true;
    });
    for (int i = 0; i < 500 && !ran; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(ran);
    EXPECT_TRUE(onQueue);
}

TEST(ObjectContextQueue, ChildrenOnSeveralThreadsSaveIntoOneRoot)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            auto child = stack.child();
            for (int i = 0; i < 25; ++i) {
                child->performAndWait([&] {
                    insertItem(child.get(), QStringLiteral("%1-%2").arg(t).arg(i));
                    child->save();
                });
                stack.root->performAndWait([&] { stack.root->save(); });
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    auto reader = std::make_shared<PersistentStoreCoordinator>(datatest::itemModel());
    ASSERT_TRUE(reader->open(stack.path()));
    EXPECT_EQ(*reader->countRows(ItemEntity, nullptr, nullptr), 100);
}

} // namespace
