// Pane geometry, font sizes from the text size, and the status line.
#include "AppTestSupport.h"

#include "app/window/NoteWindow.h"
#include "app/window/QVRAboutWindowController.h"

#include <QLabel>

using apptest::AppTest;

TEST(PaneGeometry, TwoPanesNeedMoreThan400AndTheListStopsGrowingAfter760)
{
    struct Row
    {
        int width;
        bool twoPane;
        int listWidth;
    };
    const Row rows[] = {
        {400, false, 374}, {401, true, 144}, {760, true, 287}, {761, true, 294}, {1280, true, 294},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(NoteWindow::fitsTwoPane(row.width), row.twoPane) << row.width;
        const QSize content(row.width, 600);
        const QRect list = NoteWindow::listPaneRect(content, row.twoPane);
        EXPECT_EQ(list.width(), row.listWidth) << row.width;
        EXPECT_EQ(list.left(), 13);
        EXPECT_EQ(list.height(), 600 - 56);
        const QRect detail = NoteWindow::detailPaneRect(content, row.twoPane);
        if (row.twoPane) {
            EXPECT_EQ(detail.left(), 13 + row.listWidth + 15) << row.width;
            EXPECT_EQ(detail.right() + 1, row.width - 13) << row.width;
        } else {
            EXPECT_EQ(detail, list);
        }
    }
}

TEST(FontSizes, FollowTheTextSize)
{
    struct Row
    {
        int size, list, small;
    };
    for (const Row& row : {Row{12, 12, 9}, Row{20, 18, 14}, Row{10, 10, 8}, Row{6, 6, 5}, Row{72, 65, 50}}) {
        EXPECT_EQ(QuillaryAppDelegate::listTextSizeForTextSize(row.size), row.list) << row.size;
        EXPECT_EQ(QuillaryAppDelegate::smallTextSizeForTextSize(row.size), row.small) << row.size;
    }
}

TEST_F(AppTest, NarrowWindowShowsOnePaneAndReturnsToTheList)
{
    app->saveItem(item("AAAAAAAA-0000-0000-0000-000000000001", "note"), true);
    app->window()->resize(380, 500);
    app->adjustWindowContent();
    EXPECT_FALSE(app->twoPane());
    app->activateDetailAndFocus(true, false);
    EXPECT_TRUE(app->detailShowing());
    app->hideDetailsAndSave(true, false);
    QTRY_VERIFY(!app->detailShowing());
    EXPECT_FALSE(defaults->boolValue("noteIsOpen"));
}

TEST_F(AppTest, StatusCountsLiveNotesWhateverTheList)
{
    app->updateStatus();
    QTRY_COMPARE(app->currentStatus(), QString("No notes"));
    app->saveItem({{"uuid", "AAAAAAAA-0000-0000-0000-000000000001"}, {"text", "one"}, {"date", 0.5}}, false);
    app->updateStatus();
    // A note dated at or before 1 s shows no date.
    EXPECT_EQ(app->currentStatus(), "1 note");
    app->saveItem({{"uuid", "AAAAAAAA-0000-0000-0000-000000000002"}, {"text", "two"}}, true);
    app->saveItem({{"uuid", "AAAAAAAA-0000-0000-0000-000000000003"}, {"text", "three"}}, false);
    app->selectNote(nullptr);
    app->updateStatus();
    EXPECT_EQ(app->currentStatus(), "3 notes");
}

TEST(AboutWindow, VersionReadsShortVersionThenBuildInParentheses)
{
    EXPECT_EQ(QVRAboutViewController::versionText("2.1", "314"), "2.1 (314)");
}

TEST_F(AppTest, AboutWindowIsMadeOnceAndClosedWhenQuitting)
{
    app->showAbout();
    QVRAboutWindowController* about = app->aboutWindowController();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->viewController()->nameField()->text(), "Quillary");
    about->close();
    app->showAbout();
    EXPECT_EQ(app->aboutWindowController(), about);
    app->disableInterface();
    EXPECT_FALSE(about->isVisible());
}
