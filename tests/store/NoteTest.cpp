#include "StoreTestSupport.h"

#include "platform/core/Variant.h"
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
    QString listed = {}; // the title a list reads from the file, when not `title`
};

class NoteTitle : public StoreTest, public ::testing::WithParamInterface<TitleCase>
{
};

TEST_P(NoteTitle, IsTheFirstNonBlankLineTrimmed)
{
    auto root = QVRDataStore::makeRootStore(path());
    root->context()->performAndWait([&] {
        auto* note = static_cast<Note*>(root->context()->insert(QVRNoteEntityName));
        note->setArchived(false);
        if (!GetParam().text.isNull())
            note->setText(GetParam().text);
        EXPECT_EQ(note->title(), GetParam().title);
        EXPECT_EQ(note->title().isNull(), GetParam().titleIsNull);
        ASSERT_TRUE(root->context()->save());
    });
    // As a list reads it at the next start, without the text; the text, once
    // loaded, gives the whole title.
    root.reset();
    root = QVRDataStore::makeRootStore(path());
    auto child = QVRDataStore::storeWithParent(root.get(), platform::ConcurrencyType::MainQueue);
    QVRObjectController list(child->context(), QVRNoteEntityName, {});
    ASSERT_EQ(list.arrayController()->content().size(), 1u);
    auto* note = static_cast<Note*>(list.arrayController()->content().front());
    const QString listed = GetParam().listed.isNull() ? GetParam().title : GetParam().listed;
    if (!GetParam().titleIsNull) {
        EXPECT_EQ(note->title(), listed);
        EXPECT_FALSE(note->isLoaded(QStringLiteral("text")));
    }
    EXPECT_EQ(note->text(), GetParam().text);
    EXPECT_EQ(note->title(), GetParam().title);
    EXPECT_EQ(note->title().isNull(), GetParam().titleIsNull);
}

const QString LongLine = QString(5000, QLatin1Char('x'));
// A character outside the BMP where the list's prefix ends: never half of it.
const QString PairAtTheCut = QString(Note::TitlePrefixLength - 1, QLatin1Char('a')) + QStringLiteral("😀b");

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
        TitleCase{"SingleLine", QStringLiteral("Just this"), QStringLiteral("Just this"), false},
        TitleCase{"Accented", QStringLiteral("\u00a0 Caf\u00e9 cr\u00e8me\u3000\nrest"),
                  QStringLiteral("Caf\u00e9 cr\u00e8me\u3000"), false},
        TitleCase{"LongFirstLine", LongLine + QStringLiteral("\nsecond"), LongLine, false,
                  LongLine.left(Note::TitlePrefixLength)},
        TitleCase{"BlankLinesLongerThanThePrefix",
                  QString(5000, QLatin1Char('\n')) + QStringLiteral("Late\nbody"), QStringLiteral("Late"),
                  false},
        TitleCase{"SurrogatePairAtTheCut", PairAtTheCut, PairAtTheCut, false,
                  PairAtTheCut.left(Note::TitlePrefixLength - 1)}),
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

// A list read at start holds no text: each is read when a note is opened,
// searched, synced, restored or saved, as the file has it by then.
TEST_F(NoteList, StartUpReadsNoTextAndEachIsReadWhenNeeded)
{
    const QString TextKey = QStringLiteral("text");
    add(QStringLiteral("Alpha\nfirst body"), 1)->setUuid(QStringLiteral("A"));
    add(QStringLiteral("Beta\nsecond body"), 2)->setUuid(QStringLiteral("B"));
    add(QStringLiteral("Delta\nto send"), 3)->setUuid(QStringLiteral("D"));
    add(QStringLiteral("Gamma\nput away"), 4, true)->setUuid(QStringLiteral("C"));
    ASSERT_TRUE(child->saveData());
    reopen();
    auto list = controller();
    // The archived note is not read at all, the others without their texts.
    ASSERT_EQ(list->countFiltered(true), 3u);
    ASSERT_EQ(list->arrayController()->content().size(), 3u);
    for (ManagedObject* object : list->arrayController()->content())
        EXPECT_FALSE(object->isLoaded(TextKey))
            << object->value(QStringLiteral("uuid")).toString().toStdString();
    auto* delta = static_cast<Note*>(list->objectAtIndex(0, true));
    auto* beta = static_cast<Note*>(list->objectAtIndex(1, true));
    auto* alpha = static_cast<Note*>(list->objectAtIndex(2, true));
    EXPECT_EQ(beta->title(), QStringLiteral("Beta"));
    EXPECT_EQ(alpha->title(), QStringLiteral("Alpha"));

    // Another process edits a note whose text was never read here.
    {
        auto other = QVRDataStore::makeRootStore(path());
        other->context()->performAndWait([&] {
            auto* note =
                static_cast<Note*>(QVRDataStore::noteWithUUID(other->context(), QStringLiteral("A")));
            ASSERT_NE(note, nullptr);
            note->setText(QStringLiteral("Alpha edited\nelsewhere"));
            ASSERT_TRUE(other->context()->save());
        });
    }
    EXPECT_FALSE(alpha->isLoaded(TextKey));
    EXPECT_EQ(alpha->text(), QStringLiteral("Alpha edited\nelsewhere"));
    EXPECT_EQ(alpha->title(), QStringLiteral("Alpha edited"));

    // Synced: what goes on the wire carries the text.
    EXPECT_FALSE(delta->isLoaded(TextKey));
    EXPECT_EQ(delta->attributes().value(TextKey).toString(), QStringLiteral("Delta\nto send"));

    // A search that reads texts finds notes never read before, archived
    // ones too.
    EXPECT_FALSE(beta->isLoaded(TextKey));
    list->setContentFilter([&](const std::vector<ManagedObject*>& content) {
        std::vector<ManagedObject*> found;
        for (ManagedObject* object : content) {
            const QString text = *object->foldedValue(TextKey, true, true);
            if (text.contains(QStringLiteral("second")) || text.contains(QStringLiteral("put away")))
                found.push_back(object);
        }
        return found;
    });
    ASSERT_EQ(list->searchController()->arrangedObjects().size(), 2u);
    auto* gamma = static_cast<Note*>(list->searchController()->arrangedObjects().front());
    EXPECT_EQ(gamma->uuid(), QStringLiteral("C"));
    EXPECT_EQ(list->searchController()->arrangedObjects().back(), beta);
    list->setContentFilter({});

    // Brought back (undo of a deletion made before this start, or by sync)
    // and saved: it joins the list, and its text stays in the file.
    child->context()->refresh(gamma);
    ManagedObject* restored = child->context()->existingObject(gamma->objectID());
    ASSERT_EQ(restored, gamma);
    gamma->setArchived(false);
    child->context()->processPendingChanges();
    list->rearrangeObjects();
    EXPECT_EQ(list->indexOfObject(gamma, true), 0u);
    ASSERT_TRUE(child->saveData());
    auto reader = QVRDataStore::makeRootStore(path());
    reader->context()->performAndWait([&] {
        auto* note = static_cast<Note*>(QVRDataStore::noteWithUUID(reader->context(), QStringLiteral("C")));
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->text(), QStringLiteral("Gamma\nput away"));
        EXPECT_FALSE(platform::variantBoolValue(note->archived()));
    });
}

// A save of a note listed without its text writes only what changed, and
// the texts another process wrote meanwhile stay.
TEST_F(NoteList, SavingANoteListedWithoutItsTextKeepsTheText)
{
    add(QStringLiteral("Kept\nwhole"), 1)->setUuid(QStringLiteral("K"));
    ASSERT_TRUE(child->saveData());
    reopen();
    auto list = controller();
    auto* note = static_cast<Note*>(list->objectAtIndex(0, true));
    ASSERT_NE(note, nullptr);
    {
        auto other = QVRDataStore::makeRootStore(path());
        other->context()->performAndWait([&] {
            auto* theirs =
                static_cast<Note*>(QVRDataStore::noteWithUUID(other->context(), QStringLiteral("K")));
            theirs->setText(QStringLiteral("Kept\nand grown"));
            ASSERT_TRUE(other->context()->save());
        });
    }
    note->setDate(5.0);
    ASSERT_TRUE(child->saveData());
    EXPECT_EQ(note->text(), QStringLiteral("Kept\nand grown"));
    auto reader = QVRDataStore::makeRootStore(path());
    reader->context()->performAndWait([&] {
        auto* stored = static_cast<Note*>(QVRDataStore::noteWithUUID(reader->context(), QStringLiteral("K")));
        EXPECT_EQ(stored->text(), QStringLiteral("Kept\nand grown"));
        EXPECT_EQ(stored->date(), QVariant(5.0));
    });
}
