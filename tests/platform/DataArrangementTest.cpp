#include "DataTestSupport.h"

#include "platform/data/ArrayController.h"
#include "platform/predicate/Predicate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace platform;

namespace {

// --- arrangement changes ------------------------------------------------------

// Stand-ins for records: only their addresses are compared.
char g_records[128];
ManagedObject* record(char name)
{
    return reinterpret_cast<ManagedObject*>(&g_records[size_t(name)]);
}
std::vector<ManagedObject*> records(const char* names)
{
    std::vector<ManagedObject*> list;
    for (const char* c = names; *c; ++c)
        list.push_back(record(*c));
    return list;
}

// Applies the steps as a list model would, checking each one against the rows
// it names; false when a step does not fit.
bool apply(std::vector<ManagedObject*>& rows, const std::vector<ArrangementChange>& changes)
{
    using Kind = ArrangementChange::Kind;
    for (const auto& change : changes) {
        switch (change.kind) {
        case Kind::Insert:
            if (change.to < 0 || change.to > qsizetype(rows.size()))
                return false;
            rows.insert(rows.begin() + change.to, change.object);
            break;
        case Kind::Remove:
            if (change.from < 0 || change.from >= qsizetype(rows.size()) ||
                rows[size_t(change.from)] != change.object)
                return false;
            rows.erase(rows.begin() + change.from);
            break;
        case Kind::Move:
            if (change.from < 0 || change.from >= qsizetype(rows.size()) ||
                rows[size_t(change.from)] != change.object)
                return false;
            rows.erase(rows.begin() + change.from);
            if (change.to < 0 || change.to > qsizetype(rows.size()))
                return false;
            rows.insert(rows.begin() + change.to, change.object);
            break;
        }
    }
    return true;
}

struct ArrangementCase
{
    const char* name;
    const char* before;
    const char* after;
    int steps; // -1: a reset
};

void PrintTo(const ArrangementCase& c, std::ostream* os)
{
    *os << c.name;
}

class ArrangementSteps : public ::testing::TestWithParam<ArrangementCase>
{
};

TEST_P(ArrangementSteps, AppliedToTheOldListGiveTheNewList)
{
    const auto& c = GetParam();
    const auto before = records(c.before);
    const auto after = records(c.after);
    const ArrangementUpdate update = arrangementChanges(before, after, 8);
    if (c.steps < 0) {
        EXPECT_TRUE(update.reset);
        EXPECT_TRUE(update.changes.empty());
        return;
    }
    EXPECT_FALSE(update.reset);
    EXPECT_EQ(int(update.changes.size()), c.steps);
    auto rows = before;
    ASSERT_TRUE(apply(rows, update.changes));
    EXPECT_EQ(rows, after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArrangementSteps,
    ::testing::Values(
        ArrangementCase{"Unchanged", "abcd", "abcd", 0}, ArrangementCase{"FirstArrangement", "", "abc", 3},
        ArrangementCase{"InsertAtTop", "abcd", "xabcd", 1},
        ArrangementCase{"InsertInTheMiddleAndAtTheEnd", "abcd", "abxcdy", 2},
        ArrangementCase{"RemoveTop", "abcd", "bcd", 1}, ArrangementCase{"RemoveSeveral", "abcdef", "bdf", 3},
        ArrangementCase{"EditedNoteMovesToTop", "abcde", "eabcd", 1},
        ArrangementCase{"NoteMovesToBottom", "abcde", "bcdea", 1},
        ArrangementCase{"TwoSwap", "abcde", "adcbe", 2}, ArrangementCase{"Resorted", "abcde", "edcba", 4},
        ArrangementCase{"RemoveInsertAndMove", "abcdef", "xfbdey", 5},
        ArrangementCase{"EmptiedBySearch", "abc", "", 3}, ArrangementCase{"AllReplaced", "abcd", "wxyz", 8},
        ArrangementCase{"TooManyStepsIsAReset", "abcdef", "uvwxyz", -1},
        ArrangementCase{"TooManyMovesIsAReset", "abcdefghijk", "kjihgfedcba", -1}),
    [](const auto& info) { return std::string(info.param.name); });

// Random lists in bounded number: every update either resets or reproduces
// the new list, and never takes more steps than allowed.
TEST(ArrangementSteps, RandomRearrangementsAreReproduced)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 2000; ++round) {
        std::string pool = "abcdefghijklmnopqrstuvwxyz";
        std::shuffle(pool.begin(), pool.end(), random);
        const std::string before = pool.substr(0, random() % 12);
        std::shuffle(pool.begin(), pool.end(), random);
        std::string after = pool.substr(0, random() % 12);
        if (round % 3 == 0) { // mostly the same records, a few moved
            after = before;
            for (int swaps = int(random() % 3); swaps > 0 && after.size() > 1; --swaps)
                std::swap(after[random() % after.size()], after[random() % after.size()]);
        }
        const ArrangementUpdate update =
            arrangementChanges(records(before.c_str()), records(after.c_str()), 10);
        if (update.reset)
            continue;
        ASSERT_LE(update.changes.size(), 10u) << before << " -> " << after;
        auto rows = records(before.c_str());
        ASSERT_TRUE(apply(rows, update.changes)) << before << " -> " << after;
        ASSERT_EQ(rows, records(after.c_str())) << before << " -> " << after;
    }
}

// The controller arranges as soon as it has what it needs, and tells its
// observer what changed.
TEST(ArrayControllerArrangement, ArrangedAtFetchAndAtEachNewFilterOrSort)
{
    datatest::Stack stack;
    ASSERT_TRUE(stack.open());
    stack.root->performAndWait([&] {
        for (const char* name : {"pear", "apple", "fig"}) {
            auto* item = stack.root->insert(QStringLiteral("Item"));
            item->setValue(QStringLiteral("name"), QString::fromLatin1(name));
        }
        ASSERT_TRUE(stack.root->save());
    });
    auto child = stack.child();
    child->performAndWait([&] {
        ArrayController list;
        std::vector<ManagedObject*> shown;
        int resets = 0;
        list.setArrangementObserver([&](const ArrangementUpdate& update) {
            if (update.reset) {
                ++resets;
                shown = list.arrangedObjects();
            } else {
                ASSERT_TRUE(apply(shown, update.changes));
            }
        });
        auto names = [&] {
            QStringList found;
            for (auto* object : list.arrangedObjects())
                found << object->value(QStringLiteral("name")).toString();
            return found.join(QLatin1Char(' '));
        };
        list.setEntityName(QStringLiteral("Item"));
        list.setContext(child.get());
        list.setSortDescriptors({{QStringLiteral("name"), true}});
        ASSERT_TRUE(list.fetch());
        EXPECT_EQ(names(), QStringLiteral("apple fig pear"));
        list.setFilterPredicate(Predicate::parse(QStringLiteral("name contains %@"), {QStringLiteral("p")}));
        EXPECT_EQ(names(), QStringLiteral("apple pear"));
        list.setSortDescriptors({{QStringLiteral("name"), false}});
        EXPECT_EQ(names(), QStringLiteral("pear apple"));
        list.setFilterPredicate(nullptr);
        EXPECT_EQ(names(), QStringLiteral("pear fig apple"));
        EXPECT_EQ(shown, list.arrangedObjects());
        EXPECT_EQ(resets, 0); // small changes come as steps
    });
}

// A record saved with new keys lands where a full arrangement puts it: equal
// keys keep the order of the content, a record leaving the filter goes, one
// joining it comes in, and the observer's one step takes the shown rows
// there. When another record changed as well, everything is arranged again.
TEST(ArrayControllerArrangement, OneChangedRecordLandsWhereAFullArrangementPutsIt)
{
    datatest::Stack stack;
    ASSERT_TRUE(stack.open());
    stack.root->performAndWait([&] {
        for (int i = 0; i < 40; ++i) {
            auto* item = stack.root->insert(QStringLiteral("Item"));
            item->setValue(QStringLiteral("name"), QStringLiteral("item %1").arg(i));
            item->setValue(QStringLiteral("rank"), double(i % 5));
            item->setValue(QStringLiteral("done"), i % 7 == 0);
        }
        ASSERT_TRUE(stack.root->save());
    });
    auto child = stack.child();
    child->performAndWait([&] {
        auto makeList = [&](ArrayController& list) {
            list.setEntityName(QStringLiteral("Item"));
            list.setContext(child.get());
            list.setSortDescriptors({{QStringLiteral("rank"), false}});
            list.setFilterPredicate(Predicate::parse(QStringLiteral("done == NO")));
            ASSERT_TRUE(list.fetch());
        };
        ArrayController moved;
        ArrayController full;
        makeList(moved);
        makeList(full);
        ASSERT_EQ(moved.arrangedObjects(), full.arrangedObjects());
        std::vector<ManagedObject*> shown = moved.arrangedObjects();
        moved.setArrangementObserver([&](const ArrangementUpdate& update) {
            if (update.reset)
                shown = moved.arrangedObjects();
            else
                ASSERT_TRUE(apply(shown, update.changes));
        });
        const std::vector<ManagedObject*> items = moved.content();
        std::mt19937 random(7);
        for (int round = 0; round < 300; ++round) {
            ManagedObject* item = items[random() % items.size()];
            item->setValue(QStringLiteral("rank"), double(random() % 6));
            if (random() % 6 == 0)
                item->setValue(QStringLiteral("done"), !item->value(QStringLiteral("done")).toBool());
            if (round % 5 == 0)
                items[random() % items.size()]->setValue(QStringLiteral("rank"), double(random() % 6));
            if (round % 3 != 0) { // saved, as the central save does, or not
                ASSERT_TRUE(child->save());
            }
            moved.rearrangeObject(item);
            full.rearrangeObjects();
            ASSERT_EQ(moved.arrangedObjects(), full.arrangedObjects()) << "round " << round;
            ASSERT_EQ(shown, moved.arrangedObjects()) << "round " << round;
        }
    });
}

// A list picked by a content filter is arranged from its content kept in
// sort order: after keys changed here (saved or not), changed in the parent
// and read again after a refresh, records inserted and deleted, it is always
// the stable sort of what the filter picks from the content, equal keys in
// the content's order, and the observer's steps take the shown rows there.
TEST(ArrayControllerArrangement, ContentFilterListIsTheStableSortOfWhatItPicks)
{
    datatest::Stack stack;
    ASSERT_TRUE(stack.open());
    stack.root->performAndWait([&] {
        for (int i = 0; i < 60; ++i) {
            auto* item = stack.root->insert(QStringLiteral("Item"));
            item->setValue(QStringLiteral("name"), QStringLiteral("item %1").arg(i));
            item->setValue(QStringLiteral("rank"), double(i % 4));
            item->setValue(QStringLiteral("done"), i % 7 == 0);
        }
        ASSERT_TRUE(stack.root->save());
    });
    auto child = stack.child();
    child->performAndWait([&] {
        const std::vector<SortDescriptor> sort{{QStringLiteral("rank"), false}};
        int modulus = 2;
        const auto picks = [&](const ManagedObject* object) {
            return object->value(QStringLiteral("name")).toString().size() % modulus == 0 ||
                   object->value(QStringLiteral("rank")).toDouble() == 1;
        };
        ArrayController list;
        list.setEntityName(QStringLiteral("Item"));
        list.setContext(child.get());
        list.setSortDescriptors(sort);
        list.setFilterPredicate(Predicate::parse(QStringLiteral("done == NO")));
        list.setContentFilter([&](const std::vector<ManagedObject*>& content) {
            std::vector<ManagedObject*> picked;
            for (ManagedObject* object : content) {
                if (picks(object))
                    picked.push_back(object);
            }
            return picked;
        });
        ASSERT_TRUE(list.fetch());
        std::vector<ManagedObject*> shown = list.arrangedObjects();
        list.setArrangementObserver([&](const ArrangementUpdate& update) {
            if (update.reset)
                shown = list.arrangedObjects();
            else
                ASSERT_TRUE(apply(shown, update.changes));
        });
        const auto expected = [&] {
            std::vector<ManagedObject*> objects;
            for (ManagedObject* object : list.content()) {
                if (!object->isDeleted() && picks(object) && !object->value(QStringLiteral("done")).toBool())
                    objects.push_back(object);
            }
            sortObjects(objects, sort);
            return objects;
        };
        ASSERT_EQ(list.arrangedObjects(), expected());
        std::mt19937 random(5);
        for (int round = 0; round < 200; ++round) {
            const std::vector<ManagedObject*> items = list.content();
            ManagedObject* item = items[random() % items.size()];
            switch (round % 5) {
            case 0: { // changed in the parent, read again after a refresh
                const ObjectID id = item->objectID();
                const double rank = double(random() % 5);
                stack.root->performAndWait([&] {
                    stack.root->objectWithID(id)->setValue(QStringLiteral("rank"), rank);
                    ASSERT_TRUE(stack.root->save());
                });
                child->refresh(item);
                break;
            }
            case 1:
                if (random() % 2) {
                    child->remove(item);
                } else {
                    auto* added = child->insert(QStringLiteral("Item"));
                    added->setValue(QStringLiteral("name"), QStringLiteral("new %1").arg(round));
                    added->setValue(QStringLiteral("rank"), double(random() % 5));
                }
                ASSERT_TRUE(child->save());
                break;
            case 2:
                modulus = 2 + int(random() % 3); // another query
                break;
            default:
                item->setValue(QStringLiteral("rank"), double(random() % 5));
                if (round % 2) {
                    ASSERT_TRUE(child->save());
                }
                break;
            }
            list.rearrangeObjects();
            ASSERT_EQ(list.arrangedObjects(), expected()) << "round " << round;
            ASSERT_EQ(shown, list.arrangedObjects()) << "round " << round;
        }
    });
}

// A record changed a second time before a save is announced only once, and a
// list that saw nothing change keeps its arrangement: after the save the
// record still lands where its keys put it, with a content filter or without.
TEST(ArrayControllerArrangement, ChangeMadeAgainBeforeTheSaveIsArrangedAfterIt)
{
    datatest::Stack stack;
    ASSERT_TRUE(stack.open());
    stack.root->performAndWait([&] {
        for (int i = 0; i < 5; ++i)
            stack.root->insert(QStringLiteral("Item"))->setValue(QStringLiteral("rank"), double(i));
        ASSERT_TRUE(stack.root->save());
    });
    auto child = stack.child();
    child->performAndWait([&] {
        for (const bool filtered : {false, true}) {
            ArrayController list;
            list.setEntityName(QStringLiteral("Item"));
            list.setContext(child.get());
            list.setSortDescriptors({{QStringLiteral("rank"), false}});
            if (filtered)
                list.setContentFilter([](const std::vector<ManagedObject*>& content) { return content; });
            ASSERT_TRUE(list.fetch());
            ManagedObject* moved = list.arrangedObjects().back();
            moved->setValue(QStringLiteral("rank"), 10.0 + (filtered ? 1 : 0));
            child->processPendingChanges();
            list.rearrangeObjects();
            ASSERT_EQ(list.arrangedObjects().front(), moved) << filtered;
            moved->setValue(QStringLiteral("rank"), -1.0); // not announced again
            ASSERT_TRUE(child->save());
            list.rearrangeObjects();
            EXPECT_EQ(list.arrangedObjects().back(), moved) << filtered;
            list.rearrangeObjects();
            EXPECT_EQ(list.arrangedObjects().back(), moved) << filtered;
        }
    });
}

// Sorting from an earlier arrangement gives exactly the stable sort's order,
// however far the earlier one is from it: shuffled, nearly sorted, with
// records gone or new (most of them new), with equal keys on the first
// descriptor.
TEST(SortObjects, FromAnEarlierArrangementTheOrderIsTheStableSortsOrder)
{
    datatest::Stack stack;
    ASSERT_TRUE(stack.open());
    stack.root->performAndWait([&] {
        std::mt19937 random(11);
        std::vector<ManagedObject*> objects;
        for (int i = 0; i < 200; ++i) {
            auto* item = stack.root->insert(QStringLiteral("Item"));
            item->setValue(QStringLiteral("name"), QStringLiteral("n%1").arg(random() % 30));
            if (i % 9 != 0) // a missing rank sorts first
                item->setValue(QStringLiteral("rank"), double(random() % 8));
            objects.push_back(item);
        }
        const std::vector<SortDescriptor> sort{{QStringLiteral("rank"), false},
                                               {QStringLiteral("name"), true}};
        for (int round = 0; round < 60; ++round) {
            std::shuffle(objects.begin(), objects.end(), random);
            std::vector<ManagedObject*> expected = objects;
            sortObjects(expected, sort);
            std::vector<ManagedObject*> previous = expected;
            switch (round % 5) {
            case 0:
                std::shuffle(previous.begin(), previous.end(), random);
                break;
            case 1:
                for (int swaps = 0; swaps < 3; ++swaps)
                    std::swap(previous[random() % previous.size()], previous[random() % previous.size()]);
                break;
            case 2:
                previous.erase(previous.begin() + ptrdiff_t(random() % previous.size()));
                std::rotate(previous.begin(), previous.begin() + 1, previous.begin() + 50);
                break;
            case 3:
                previous.push_back(record('x'));
                std::rotate(previous.begin() + 100, previous.end() - 3, previous.end());
                break;
            default:
                // Most records new to it (a list joined by many more).
                std::erase_if(previous, [&](ManagedObject*) { return random() % 3 != 0; });
                if (previous.size() > 2)
                    std::swap(previous.front(), previous.back());
                break;
            }
            std::vector<ManagedObject*> sorted = objects;
            sortObjects(sorted, sort, previous);
            ASSERT_EQ(sorted, expected) << "round " << round;

            // The same records given in the earlier order, followed by the
            // ones new to it (a list made from another one's arrangement).
            std::vector<ManagedObject*> extended = previous;
            std::erase_if(extended, [&](ManagedObject* object) {
                return std::find(objects.begin(), objects.end(), object) == objects.end();
            });
            for (ManagedObject* object : objects) {
                if (std::find(extended.begin(), extended.end(), object) == extended.end())
                    extended.push_back(object);
            }
            std::vector<ManagedObject*> stable = extended;
            sortObjects(stable, sort);
            sortObjects(extended, sort, std::vector<ManagedObject*>(extended.begin(), extended.begin() + 40));
            ASSERT_EQ(extended, stable) << "round " << round << ", from a prefix";
        }
    });
}

} // namespace
