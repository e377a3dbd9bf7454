// Search: the filter built from the typed words and the history setting, what
// it finds, and the search bar's keys.
#include "AppTestSupport.h"

#include "app/search/QVRSearchField.h"
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
