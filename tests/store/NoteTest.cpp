#include "StoreTestSupport.h"

#include "platform/predicate/Predicate.h"
#include "store/Note.h"
#include "store/QVRObjectController.h"
#include "store/Queue.h"

#include <QLocale>

#include <clocale>

using namespace platform;
using storetest::StoreTest;

namespace {

struct TitleCase
{
    const char* name;
    QString text; // null: no text
    QString title;
    bool titleIsNull;
};

class NoteTitle : public StoreTest, public ::testing::WithParamInterface<TitleCase>
{
};

TEST_P(NoteTitle, IsTheFirstNonBlankLineTrimmed)
{
    auto root = QVRDataStore::makeRootStore(path());
    root->context()->performAndWait([&] {
        auto* note = static_cast<Note*>(root->context()->insert(QVRNoteEntityName));
        if (!GetParam().text.isNull())
            note->setText(GetParam().text);
        EXPECT_EQ(note->title(), GetParam().title);
        EXPECT_EQ(note->title().isNull(), GetParam().titleIsNull);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Table, NoteTitle,
    ::testing::Values(
        TitleCase{"NoText", QString(), QString(), true},
        TitleCase{"OnlyBlanks", QStringLiteral(" \n\t\r\n  "), QStringLiteral(""), false},
        TitleCase{"BlankLinesThenIndented", QStringLiteral("\n\n   Shopping list  \nmilk"),
                  QStringLiteral("Shopping list  "), false},
        TitleCase{"CarriageReturn", QStringLiteral("one\rtwo"), QStringLiteral("one"), false},
        TitleCase{"LineSeparator", QStringLiteral("one\u2028two"), QStringLiteral("one"), false},
        TitleCase{"ParagraphSeparator", QStringLiteral("one\u2029two"), QStringLiteral("one"), false},
        TitleCase{"NextLine", QStringLiteral("one\u0085two"), QStringLiteral("one"), false},
        TitleCase{"FormFeed", QStringLiteral("one\ftwo"), QStringLiteral("one"), false},
        TitleCase{"BreakOnlyAmongTrailingBlanks", QStringLiteral("  last words \t\n  \n"),
                  QStringLiteral("last words"), false},
        TitleCase{"SingleLine", QStringLiteral("Just this"), QStringLiteral("Just this"), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoreTest, TitleFollowsTextChangesAndIsNeverWritten)
{
    auto root = QVRDataStore::makeRootStore(path());
    root->context()->performAndWait([&] {
        auto* note = static_cast<Note*>(root->context()->insert(QVRNoteEntityName));
        note->setText(QStringLiteral("old first line\nmore"));
        EXPECT_EQ(note->title(), QStringLiteral("old first line"));
        note->setText(QStringLiteral("new first line"));
        EXPECT_EQ(note->title(), QStringLiteral("new first line"));
        EXPECT_FALSE(note->changedValues().contains(QStringLiteral("title")));
        EXPECT_TRUE(root->context()->save());
        root->context()->refresh(note);
        EXPECT_EQ(note->title(), QStringLiteral("new first line"));
    });
}

TEST_F(StoreTest, AttributesCarryOnlyPresentKeys)
{
    auto root = QVRDataStore::makeRootStore(path());
    root->context()->performAndWait([&] {
        auto* note = static_cast<Note*>(root->context()->insert(QVRNoteEntityName));
        note->setUuid(QStringLiteral("A1B2"));
        note->setModified(QStringLiteral("1700000000.5")); // as a web reply gives it
        note->setText(QStringLiteral("t"));
        const auto attributes = note->attributes();
        EXPECT_EQ(attributes.keys(),
                  (QStringList{QStringLiteral("modified"), QStringLiteral("text"), QStringLiteral("uuid")}));
        EXPECT_EQ(attributes.value(QStringLiteral("modified")), QVariant(1700000000.5));
        note->setArchived(true);
        note->setDate(12.5);
        EXPECT_EQ(note->attributes().size(), 5);
        EXPECT_EQ(
            note->QVRSyncObject::attributes().keys(),
            (QStringList{QStringLiteral("archived"), QStringLiteral("modified"), QStringLiteral("uuid")}));
    });
}

struct QueryCase
{
    const char* name;
    QVariant date;
    QString text; // null: no text
    QString expected;
};

class NoteQueryString : public StoreTest, public ::testing::WithParamInterface<QueryCase>
{
};

TEST_P(NoteQueryString, EscapesAndWritesTheDateInTheCLocale)
{
    // A comma-decimal locale must not leak into the wire format.
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    auto root = QVRDataStore::makeRootStore(path());
    root->context()->performAndWait([&] {
        auto* note = static_cast<Note*>(root->context()->insert(QVRNoteEntityName));
        note->setUuid(QStringLiteral("0A&B=C"));
        note->setDate(GetParam().date);
        if (!GetParam().text.isNull())
            note->setText(GetParam().text);
        EXPECT_EQ(note->queryString(), GetParam().expected);
    });
    QLocale::setDefault(previous);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Table, NoteQueryString,
    ::testing::Values(QueryCase{"NoDateNoText", QVariant(), QString(),
                                QStringLiteral("&uuid=0A%26B%3DC&date=0.000000&text=")},
                      QueryCase{
                          "FractionalDate", 1700000000.25, QStringLiteral("a b&c=d\n"),
                          QStringLiteral("&uuid=0A%26B%3DC&date=1700000000.250000&text=a%20b%26c%3Dd%0A")},
                      QueryCase{"NonAsciiText", 1.0, QStringLiteral("caf\u00e9 +"),
                                QStringLiteral("&uuid=0A%26B%3DC&date=1.000000&text=caf%C3%A9%20%2B")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoreTest, BaseQueryStringKeepsReservedCharacters)
{
    auto root = QVRDataStore::makeRootStore(path());
    root->context()->performAndWait([&] {
        auto* note = static_cast<Note*>(root->context()->insert(QVRNoteEntityName));
        note->setUuid(QStringLiteral("a b&c"));
        EXPECT_EQ(note->QVRSyncObject::queryString(), QStringLiteral("&uuid=a%20b&c"));
        auto* queued = static_cast<Queue*>(root->context()->insert(QVRQueueEntityName));
        queued->setCmd(QStringLiteral("add"));
        queued->setDate(QStringLiteral("5"));
        EXPECT_EQ(queued->date(), QVariant(5.0));
    });
}

// The note list: built over the application's child, newest first.
using NoteList = storetest::NoteListTest;

TEST_F(NoteList, NewNoteIsNotFoundUntilSavedAndRearranged)
{
    add(QStringLiteral("older"), 1);
    Note* archived = add(QStringLiteral("gone"), 3, true);
    ASSERT_TRUE(child->saveData());
    auto list = controller();
    list->rearrangeObjects();
    EXPECT_EQ(list->countFiltered(false), 1u);
    EXPECT_EQ(list->indexOfObject(archived, false), QVRObjectController::NotFound);
    EXPECT_EQ(QVRObjectController::NotFound, quint64(9223372036854775807LL));

    Note* fresh = add(QStringLiteral("newest"), 2);
    EXPECT_EQ(list->indexOfObject(fresh, true), QVRObjectController::NotFound);
    ASSERT_TRUE(child->saveData());
    EXPECT_EQ(list->indexOfObject(fresh, true), QVRObjectController::NotFound);
    list->rearrangeObjects();
    EXPECT_EQ(list->indexOfObject(fresh, true), 0u);
    EXPECT_EQ(static_cast<Note*>(list->objectAtIndex(1, true))->text(), QStringLiteral("older"));
    EXPECT_EQ(list->objectAtIndex(2, true), nullptr);
}

TEST_F(NoteList, SearchListComesAndGoesWithThePredicate)
{
    add(QStringLiteral("Caf\u00e9 notes"), 1);
    add(QStringLiteral("cafe menu"), 2);
    add(QStringLiteral("other"), 3);
    add(QStringLiteral("archived cafe"), 4, true);
    ASSERT_TRUE(child->saveData());
    auto list = controller();
    list->rearrangeObjects();
    EXPECT_FALSE(list->filtered());
    EXPECT_EQ(list->objectsFiltered(true), list->objectsFiltered(false));

    list->setFilterPredicate(
        Predicate::parse(QStringLiteral("removed == NO AND (archived == NO AND (text contains[cd] %@))"),
                         {QStringLiteral("CAFE")}));
    ASSERT_TRUE(list->filtered());
    auto* search = list->searchController();
    list->rearrangeObjects();
    EXPECT_EQ(list->countFiltered(true), 2u);
    EXPECT_EQ(list->countFiltered(false), 3u);
    EXPECT_EQ(static_cast<Note*>(list->objectAtIndex(0, true))->text(), QStringLiteral("cafe menu"));

    list->setFilterPredicate(
        Predicate::parse(QStringLiteral("text contains[cd] %@"), {QStringLiteral("other")}));
    EXPECT_EQ(list->searchController(), search); // the same list, a new filter
    list->rearrangeObjects();
    EXPECT_EQ(list->countFiltered(true), 1u);

    list->setFilterPredicate(nullptr);
    EXPECT_FALSE(list->filtered());
    EXPECT_EQ(list->countFiltered(true), 3u);
}

} // namespace
