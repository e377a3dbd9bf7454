// Several writers of one file, files that cannot be written, text that has no
// UTF-8 form, and records removed under an unsaved edit.
#include "DataTestSupport.h"

#include "platform/core/Log.h"
#include "platform/data/StoreWriteFaults.h"
#include "platform/predicate/Predicate.h"
#include "tests/support/ManualClock.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QFile>

#include <algorithm>
#include <functional>

using namespace platform;
using datatest::Stack;

namespace {

const QString ItemEntity = QStringLiteral("Item");
const QString Name = QStringLiteral("name");

ManagedObject* insertNamed(ManagedObjectContext* context, const QString& name)
{
    auto* item = context->insert(ItemEntity);
    item->setValue(Name, name);
    return item;
}

std::vector<StoredRow> rowsInFile(const QString& path)
{
    PersistentStoreCoordinator reader(datatest::itemModel());
    EXPECT_TRUE(reader.open(path));
    auto rows = reader.fetchRows(ItemEntity, nullptr, nullptr);
    return rows ? *rows : std::vector<StoredRow>{};
}

class LogCapture
{
public:
    QStringList lines;
    LogCapture()
    {
        setLogSink([this](const QString& line) { lines << line; });
    }
    ~LogCapture() { setLogSink({}); }
};

// Each stack has its own connection to the file, as another process has.
TEST(StoreWriters, KeysStayUniqueWhenAnotherWriterInsertsInBetween)
{
    Stack first;
    ASSERT_TRUE(first.open());
    Stack second;
    second.coordinator = std::make_shared<PersistentStoreCoordinator>(datatest::itemModel());
    ASSERT_TRUE(second.coordinator->open(first.path()));
    second.root = std::make_unique<ManagedObjectContext>(ConcurrencyType::PrivateQueue);
    second.root->setPersistentStoreCoordinator(second.coordinator);

    auto saveOne = [](Stack& stack, const QString& name) {
        bool saved = false;
        stack.root->performAndWait([&] {
            insertNamed(stack.root.get(), name);
            Error error;
            saved = stack.root->save(&error);
            EXPECT_TRUE(saved) << error.userInfo.value(QStringLiteral("reason")).toString().toStdString();
        });
        return saved;
    };
    // The other writer's insert lands between two of this one's.
    EXPECT_TRUE(saveOne(first, QStringLiteral("a")));
    EXPECT_TRUE(saveOne(second, QStringLiteral("b")));
    EXPECT_TRUE(saveOne(first, QStringLiteral("c")));
    // Both hand out keys before either saves.
    ObjectID fromFirst, fromSecond;
    first.root->performAndWait(
        [&] { fromFirst = insertNamed(first.root.get(), QStringLiteral("d"))->objectID(); });
    second.root->performAndWait(
        [&] { fromSecond = insertNamed(second.root.get(), QStringLiteral("e"))->objectID(); });
    EXPECT_NE(fromFirst, fromSecond);
    second.root->performAndWait([&] { EXPECT_TRUE(second.root->save()); });
    first.root->performAndWait([&] { EXPECT_TRUE(first.root->save()); });
    EXPECT_EQ(rowsInFile(first.path()).size(), 5u);
}

// While another writer holds the file's lock past the timeout, a new record
// still gets a key of its own, and saves once the lock is free.
TEST(StoreWriters, KeyWhileAnotherWriterHoldsTheLockIsNoKeyInUse)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    stack.root->performAndWait([&] {
        insertNamed(stack.root.get(), QStringLiteral("a"));
        ASSERT_TRUE(stack.root->save());
    });
    stack.coordinator->setBusyTimeout(0);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(stack.path().toUtf8().constData(), &other), SQLITE_OK);
    sqlite3_busy_timeout(other, 5000); // the store's checkpoint may hold the file for a moment
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    LogCapture log;
    std::vector<ObjectID> ids;
    stack.root->performAndWait([&] {
        for (int i = 0; i < 70; ++i) // past the range reserved at the first insert
            ids.push_back(insertNamed(stack.root.get(), QStringLiteral("b%1").arg(i))->objectID());
    });
    EXPECT_FALSE(log.lines.isEmpty());
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    stack.root->performAndWait([&] { EXPECT_TRUE(stack.root->save()); });
    EXPECT_EQ(rowsInFile(stack.path()).size(), 71u);
}

// A full disk: the record made while no range of keys could be reserved
// keeps its key when the disk is freed and the next record reserves a range.
TEST(StoreWriters, KeyHandedOutWhileTheDiskWasFullIsNotHandedOutAgain)
{
    ASSERT_TRUE(platform::StoreWriteFaults::install());
    Stack stack;
    ASSERT_TRUE(stack.open());
    LogCapture log;
    platform::StoreWriteFaults::setDiskFull(true);
    ObjectID first;
    stack.root->performAndWait([&] {
        first = insertNamed(stack.root.get(), QStringLiteral("while full"))->objectID();
        platform::Error error;
        EXPECT_FALSE(stack.root->save(&error));
        EXPECT_EQ(error.userInfo.value(QStringLiteral("reason")).toString(),
                  QStringLiteral("database or disk is full"));
    });
    platform::StoreWriteFaults::setDiskFull(false);
    stack.root->performAndWait([&] {
        EXPECT_NE(insertNamed(stack.root.get(), QStringLiteral("after"))->objectID(), first);
        EXPECT_TRUE(stack.root->save());
    });
    EXPECT_EQ(rowsInFile(stack.path()).size(), 2u);
}

// Only a connection that opens files for reading only makes root see a
// read-only store: it ignores the file's mode bits.
class ReadOnlyFiles
{
public:
    ReadOnlyFiles()
    {
        s_real = sqlite3_vfs_find(nullptr);
        m_vfs = *s_real;
        m_vfs.zName = "quillary-read-only";
        m_vfs.xOpen = [](sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
            flags &= ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            flags |= SQLITE_OPEN_READONLY;
            return s_real->xOpen(s_real, name, file, flags, outFlags);
        };
        sqlite3_vfs_register(&m_vfs, 1);
    }
    ~ReadOnlyFiles() { sqlite3_vfs_unregister(&m_vfs); }

private:
    static inline sqlite3_vfs* s_real = nullptr;
    sqlite3_vfs m_vfs{};
};

TEST(StoreWriters, ReadOnlyFileIsRefusedAtOpenNotAtTheFirstSave)
{
    Stack stack;
    ASSERT_TRUE(stack.open());
    stack.root.reset();
    stack.coordinator.reset();
    ReadOnlyFiles readOnly;
    PersistentStoreCoordinator coordinator(datatest::itemModel());
    Error error;
    EXPECT_FALSE(coordinator.open(stack.path(), &error));
    EXPECT_FALSE(coordinator.isOpen());
    EXPECT_EQ(error.code, SQLITE_READONLY);
    EXPECT_FALSE(error.localizedDescription.isEmpty());
}

struct SurrogateCase
{
    const char* name;
    QString stored;
    QString expected;
    int logLines;
};

void PrintTo(const SurrogateCase& c, std::ostream* os)
{
    *os << c.name;
}

class UnpairedSurrogate : public ::testing::TestWithParam<SurrogateCase>
{
};

TEST_P(UnpairedSurrogate, IsWrittenAsReplacementCharacterNotAsQuestionMark)
{
    const SurrogateCase& c = GetParam();
    Stack stack;
    ASSERT_TRUE(stack.open());
    LogCapture log;
    stack.root->performAndWait([&] {
        auto* item = insertNamed(stack.root.get(), c.stored);
        EXPECT_EQ(item->value(Name).toString(), c.expected); // memory and file agree
        ASSERT_TRUE(stack.root->save());
    });
    EXPECT_EQ(log.lines.size(), c.logLines) << log.lines.join(u'\n').toStdString();
    const auto rows = rowsInFile(stack.path());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].values.value(Name).toString(), c.expected);
}

const QChar High(0xD83D), Low(0xDE00), Replacement(QChar::ReplacementCharacter);

INSTANTIATE_TEST_SUITE_P(
    Texts, UnpairedSurrogate,
    ::testing::Values(
        SurrogateCase{"LoneHigh", QStringLiteral("a") + High + QStringLiteral("b"),
                      QStringLiteral("a") + Replacement + QStringLiteral("b"), 1},
        SurrogateCase{"LoneLowAtStart", QString(Low) + QStringLiteral("b"),
                      QString(Replacement) + QStringLiteral("b"), 1},
        SurrogateCase{"HighAtEnd", QStringLiteral("a") + High, QStringLiteral("a") + Replacement, 1},
        SurrogateCase{"Reversed", QString(Low) + High, QString(Replacement) + Replacement, 1},
        SurrogateCase{"Pair", QStringLiteral("a") + High + Low, QStringLiteral("a") + High + Low, 0},
        SurrogateCase{"PairAfterLone", QString(High) + High + Low, QString(Replacement) + High + Low, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A note open with an unsaved edit is pruned, or deleted by another process,
// while the root holds it only as a fault (every sync cycle refreshes).
struct RemovalCase
{
    const char* name;
    std::function<void(Stack&, const ObjectID&)> remove;
};

void PrintTo(const RemovalCase& c, std::ostream* os)
{
    *os << c.name;
}

class RecordRemovedUnderAnEdit : public ::testing::TestWithParam<RemovalCase>
{
};

TEST_P(RecordRemovedUnderAnEdit, ComesBackWithEveryValue)
{
    testsupport::ManualClock clock;
    Stack stack;
    ASSERT_TRUE(stack.open());
    auto child = stack.child();
    ManagedObject* item = nullptr;
    ObjectID id;
    child->performAndWait([&] {
        item = insertNamed(child.get(), QStringLiteral("kept"));
        item->setValue(QStringLiteral("count"), 3);
        id = item->objectID();
        ASSERT_TRUE(child->save());
    });
    stack.root->performAndWait([&] {
        ASSERT_TRUE(stack.root->save());
        stack.root->refresh(stack.root->objectWithID(id));
        ASSERT_TRUE(stack.root->objectWithID(id)->isFault());
    });
    child->performAndWait([&] { item->setValue(QStringLiteral("rank"), 2.5); });
    clock.advance(61); // past the root's staleness: the file is asked again
    LogCapture log;
    GetParam().remove(stack, id);
    child->performAndWait([&] { ASSERT_TRUE(child->save()); });
    stack.root->performAndWait([&] { ASSERT_TRUE(stack.root->save()); });
    const auto rows = rowsInFile(stack.path());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].objectID, id);
    EXPECT_EQ(rows[0].values.value(Name).toString(), QStringLiteral("kept"));
    EXPECT_EQ(rows[0].values.value(QStringLiteral("count")), QVariant(qint64(3)));
    EXPECT_EQ(rows[0].values.value(QStringLiteral("rank")), QVariant(2.5));
    EXPECT_EQ(rows[0].values.value(QStringLiteral("done")), QVariant(false));
}

INSTANTIATE_TEST_SUITE_P(
    Removals, RecordRemovedUnderAnEdit,
    ::testing::Values(RemovalCase{"PrunedThroughAScratchContext",
                                  [](Stack& stack, const ObjectID& id) {
                                      auto scratch = stack.child();
                                      scratch->performAndWait([&] {
                                          scratch->remove(scratch->existingObject(id));
                                          ASSERT_TRUE(scratch->save());
                                      });
                                      stack.root->performAndWait([&] { ASSERT_TRUE(stack.root->save()); });
                                  }},
                      RemovalCase{
                          "DeletedByAnotherProcess",
                          [](Stack& stack, const ObjectID&) {
                              sqlite3* db = nullptr;
                              ASSERT_EQ(sqlite3_open(stack.path().toUtf8().constData(), &db), SQLITE_OK);
                              EXPECT_EQ(sqlite3_exec(db, "DELETE FROM \"Item\"", nullptr, nullptr, nullptr),
                                        SQLITE_OK);
                              sqlite3_close(db);
                          }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

// Fetches of one shape reuse their prepared statement: each must still read
// the file as it is now, and closing the store must close its connection.
TEST(StoreWriters, RepeatedFetchOfOneShapeSeesAnotherWritersSaveAndClosesCleanly)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("items.sqlite"));
    auto named = [](const QString& name) { return Predicate::parse(QStringLiteral("name == %@"), {name}); };
    {
        PersistentStoreCoordinator reader(datatest::itemModel());
        ASSERT_TRUE(reader.open(path));
        auto before = reader.fetchRows(ItemEntity, named(QStringLiteral("x")).get(), nullptr);
        ASSERT_TRUE(before);
        EXPECT_TRUE(before->empty());

        Stack writer;
        writer.coordinator = std::make_shared<PersistentStoreCoordinator>(datatest::itemModel());
        ASSERT_TRUE(writer.coordinator->open(path));
        writer.root = std::make_unique<ManagedObjectContext>(ConcurrencyType::PrivateQueue);
        writer.root->setPersistentStoreCoordinator(writer.coordinator);
        writer.root->performAndWait([&] {
            insertNamed(writer.root.get(), QStringLiteral("x"));
            EXPECT_TRUE(writer.root->save());
        });

        auto after = reader.fetchRows(ItemEntity, named(QStringLiteral("x")).get(), nullptr);
        ASSERT_TRUE(after);
        EXPECT_EQ(after->size(), 1u);
        // More shapes than are kept: the first one is prepared again.
        QStringList terms;
        QVariantList names;
        for (int i = 0; i < 40; ++i) {
            terms << QStringLiteral("name == %@");
            names << QStringLiteral("y%1").arg(i);
            auto rows = reader.fetchRows(
                ItemEntity, Predicate::parse(terms.join(QStringLiteral(" OR ")), names).get(), nullptr);
            ASSERT_TRUE(rows);
            EXPECT_TRUE(rows->empty());
        }
        auto again = reader.fetchRows(ItemEntity, named(QStringLiteral("x")).get(), nullptr);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->size(), 1u);
    }
    // The last connection to close removes the log file; a statement left
    // prepared would keep the connection open.
    EXPECT_FALSE(QFile::exists(path + QStringLiteral("-wal")));
}

} // namespace
