// Search: the filter built from the typed words and the history setting, what
// it finds, and the search bar's keys.
#include "AppTestSupport.h"

#include "app/search/QVRSearchField.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/predicate/Predicate.h"
#include "store/QVRObjectController.h"

#include <QKeyEvent>

using apptest::AppTest;

TEST(SearchQuery, WordsAreBoundAndHistoryIsCutByDays)
{
    struct Row
    {
        const char* name;
        QString text;
        qint64 days;
        QString format;
        QVariantList arguments;
    };
    const QString word = QStringLiteral("(text contains[cd] %@)");
    const Row rows[] = {
        {"one word, no cut-off", "cafe", -1, "removed == NO AND (" + word + ")", {"cafe"}},
        {"two words",
         " budget  cafe\n",
         -1,
         "removed == NO AND (" + word + " AND " + word + " AND " + word + ")",
         {"budget", "", "cafe"}},
        {"blank text", " \t ", -1, "removed == NO", {}},
        {"0 days keeps history for good", "x", 0, "removed == NO AND (" + word + ")", {"x"}},
        {"cut-off",
         "x",
         30,
         "removed == NO AND ((archived == NO OR modified > 1234.500000) AND (" + word + "))",
         {"x"}},
        {"cut-off without words",
         "  ",
         30,
         "removed == NO AND (archived == NO OR modified > 1234.500000)",
         {}},
        {"metacharacters stay words",
         "%@ \"'",
         -1,
         "removed == NO AND (" + word + " AND " + word + ")",
         {"%@", "\"'"}},
    };
    for (const Row& row : rows) {
        const QuillaryAppDelegate::SearchQuery query =
            QuillaryAppDelegate::searchQuery(row.text, row.days, 1234.5);
        EXPECT_EQ(query.format, row.format) << row.name;
        EXPECT_EQ(query.arguments, row.arguments) << row.name;
    }
}

class SearchTest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        const double now = clock.now();
        const struct
        {
            const char* uuid;
            const char* text;
            double modified;
            bool archived;
            bool removed;
        } notes[] = {
            {"AAAAAAAA-0000-0000-0000-000000000001", "Café menu", now - 100, false, false},
            {"AAAAAAAA-0000-0000-0000-000000000002", "cafe au lait, 100% arabica", now - 200, false, false},
            {"AAAAAAAA-0000-0000-0000-000000000003", "Old café receipt", now - 40 * 86400.0, true, false},
            {"AAAAAAAA-0000-0000-0000-000000000004", "Recent café plan", now - 2 * 86400.0, true, false},
            {"AAAAAAAA-0000-0000-0000-000000000005", "Removed café", now - 300, true, true},
            {"AAAAAAAA-0000-0000-0000-000000000006", "He said \"tea\"", now - 400, false, false},
        };
        for (const auto& n : notes) {
            app->saveItem({{"uuid", n.uuid},
                           {"text", n.text},
                           {"date", n.modified},
                           {"modified", n.modified},
                           {"archived", n.archived}},
                          false);
            if (n.removed) {
                app->noteWithId(n.uuid)->setRemoved(true);
                app->dataStore()->saveData();
            }
        }
        defaults->set("QVRHistoryDays", 30);
    }

    QStringList search(const QString& text)
    {
        if (!app->searchShowing())
            app->toggleSearch();
        app->searchField()->setText(text);
        app->updateSearch();
        return rows();
    }
};

TEST_F(SearchTest, FindsEveryWordIgnoringCaseAndDiacriticsWithinTheHistory)
{
    const QStringList live = {"Café menu", "cafe au lait, 100% arabica", "He said \"tea\""};
    EXPECT_EQ(rows(), live);
    EXPECT_EQ(search("CAFE"), QStringList({"Café menu", "cafe au lait, 100% arabica", "Recent café plan"}));
    EXPECT_EQ(search("café  menu"), QStringList({"Café menu"}));
    EXPECT_EQ(search("%"), QStringList({"cafe au lait, 100% arabica"}));
    EXPECT_EQ(search("\"tea\""), QStringList({"He said \"tea\""}));
    EXPECT_EQ(search("[a-z]*"), QStringList());
    // After a search, the first match is selected and shown.
    search("menu");
    EXPECT_EQ(app->textView()->toPlainText(), "Café menu");
}

TEST_F(SearchTest, HistoryDaysDecideWhichDeletedNotesAreFound)
{
    struct Row
    {
        qint64 days;
        QStringList found;
    };
    const Row rows[] = {
        {-1, {"Café menu", "cafe au lait, 100% arabica", "Recent café plan", "Old café receipt"}},
        {0, {"Café menu", "cafe au lait, 100% arabica", "Recent café plan", "Old café receipt"}},
        {30, {"Café menu", "cafe au lait, 100% arabica", "Recent café plan"}},
        {1, {"Café menu", "cafe au lait, 100% arabica"}},
    };
    for (const Row& row : rows) {
        defaults->set("QVRHistoryDays", row.days);
        EXPECT_EQ(search("cafe"), row.found) << row.days;
    }
}

TEST_F(SearchTest, EscapeClearsThenHidesAndEmptyTextShowsTheWholeList)
{
    search("menu");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(app->searchField(), &escape);
    EXPECT_TRUE(app->searchShowing());
    EXPECT_EQ(rows().size(), 3);
    QApplication::sendEvent(app->searchField(), &escape);
    EXPECT_FALSE(app->searchShowing());
}

// The status line used to leave the bar up in the two-pane layout.
TEST_F(SearchTest, StatusClickHidesTheSearchInTwoPanes)
{
    search("menu");
    ASSERT_TRUE(app->twoPane());
    app->statusButtonClicked();
    EXPECT_FALSE(app->searchShowing());
    EXPECT_EQ(rows().size(), 3);
}

// After start the list follows the store by its changes: pruned history and
// another process's save move, remove and insert rows, never reset the list,
// and the selection and the open note stay as they are.
class ListFollowsStore : public SearchTest
{
protected:
    int resets = 0;
    int steps = 0;

    void SetUp() override
    {
        SearchTest::SetUp();
        NoteListModel* list = app->listModel();
        QObject::connect(list, &QAbstractItemModel::modelAboutToBeReset, [this] { ++resets; });
        for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
            QObject::connect(list, signal, [this] { ++steps; });
        QObject::connect(list, &QAbstractItemModel::rowsMoved, [this] { ++steps; });
    }

    // Deletes the note as history pruning does: through a batch context,
    // then tells the window.
    void prune(const QString& uuid)
    {
        auto scratch = root->temporaryContext();
        std::vector<platform::ObjectID> ids;
        scratch->performAndWait([&] {
            const auto notes = scratch->fetch(platform::FetchRequest{
                QVRNoteEntityName, platform::Predicate::parse("uuid == %@", {uuid}), {}, 0});
            for (platform::ManagedObject* note : notes) {
                ids.push_back(note->objectID());
                scratch->remove(note);
            }
        });
        ASSERT_EQ(ids.size(), 1u);
        ASSERT_TRUE(root->saveTemporaryContext(scratch.get(), true));
        app->didDeleteOldObjects(ids);
    }

    void openNote(const QString& uuid)
    {
        app->selectNote(app->noteWithId(uuid));
        app->activateDetailAndFocus(false, false);
    }

    int selectedRow() const { return app->tableView()->selectionModel()->selectedRows().value(0, {}).row(); }
};

TEST_F(ListFollowsStore, PrunedHistoryLeavesOnlyASearchThatShowsIt)
{
    const QString open = "AAAAAAAA-0000-0000-0000-000000000002";
    openNote(open);
    prune("AAAAAAAA-0000-0000-0000-000000000004");
    EXPECT_EQ(steps + resets, 0) << "the whole list holds no archived note";

    defaults->set("QVRHistoryDays", qint64(0));
    EXPECT_EQ(search("cafe"), QStringList({"Café menu", "cafe au lait, 100% arabica", "Old café receipt"}));
    openNote(open);
    resets = steps = 0;
    prune("AAAAAAAA-0000-0000-0000-000000000003");
    EXPECT_EQ(rows(), QStringList({"Café menu", "cafe au lait, 100% arabica"}));
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(selectedUuid(), open);
    EXPECT_EQ(selectedRow(), 1);
    EXPECT_EQ(app->textView()->toPlainText(), "cafe au lait, 100% arabica");
}

TEST_F(ListFollowsStore, AnotherProcessesSaveMovesRowsInsteadOfReloading)
{
    const QString open = "AAAAAAAA-0000-0000-0000-000000000006";
    openNote(open);
    typeInEditor(" and more");
    const QString typed = app->textView()->toPlainText();
    {
        // The other process: a store of its own over the same file.
        auto other = QVRDataStore::makeRootStore(dir.filePath(QStringLiteral("Quillary.sqlite")));
        auto* context = other->context();
        context->performAndWait([&] {
            auto* added = static_cast<Note*>(context->insert(QVRNoteEntityName));
            added->setUuid("BBBBBBBB-0000-0000-0000-000000000001");
            added->setText("from elsewhere");
            added->setDate(clock.now() + 50);
            added->setArchived(false);
            for (platform::ManagedObject* object :
                 context->fetch(platform::FetchRequest{QVRNoteEntityName, nullptr, {}, 0})) {
                auto* note = static_cast<Note*>(object);
                if (note->uuid() == "AAAAAAAA-0000-0000-0000-000000000001")
                    note->setArchived(true);
                else if (note->uuid() == open)
                    note->setDate(clock.now() + 10); // above the rest, below the new one
            }
        });
        ASSERT_TRUE(other->saveData());
    }
    // The process's root reads the file again first, as after a sync pass.
    root->refreshObjects(true);
    QVRDataStore* store = app->dataStore();
    QVRDataStore::sharedDefaults().set(store->updatedKey(), store->refreshDate() + 5);
    advance(1);
    ASSERT_TRUE(store->refreshObjects(false));
    EXPECT_EQ(rows(), QStringList({"from elsewhere", "He said \"tea\"", "cafe au lait, 100% arabica"}));
    EXPECT_EQ(resets, 0);
    EXPECT_GE(steps, 2);
    EXPECT_EQ(selectedUuid(), open);
    EXPECT_EQ(selectedRow(), 1);
    EXPECT_EQ(app->textView()->toPlainText(), typed);
    // Read again as at start: no note's text but the open one's.
    for (platform::ManagedObject* note : app->noteController()->objectsFiltered(false)) {
        const QString uuid = static_cast<Note*>(note)->uuid();
        EXPECT_TRUE(uuid == open || !note->isLoaded(QStringLiteral("text"))) << uuid.toStdString();
    }
}
