// Dock and menu-bar modes with a fake tray, the tray menu, the window's fades,
// the slides between the panes, zoom, the title band and swipes.
#include "AppTestSupport.h"

#include "app/window/NoteWindow.h"
#include "app/window/QVRDividerView.h"
#include "platform/ui/Animation.h"
#include "platform/ui/StatusItem.h"
#include "store/QVRUtilities.h"

#include "app/commands/CommandRegistry.h"
#include "app/preferences/QVRPreferencesWindowController.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QTimerEvent>
#include <QWheelEvent>

#include <functional>

using apptest::AppTest;

namespace {

// A tray icon that shows only when the desktop is said to have a tray.
class FakeStatusItem final : public platform::StatusItem
{
public:
    explicit FakeStatusItem(bool tray) : m_tray(tray) {}
    bool available() const override { return m_tray; }
    void setIcon(const QIcon& icon) override { iconSet = !icon.isNull(); }
    void setToolTip(const QString&) override {}
    void setMenu(QMenu* menu) override { this->menu = menu; }
    bool show() override { return visible = m_tray; }
    void hide() override { visible = false; }
    bool isVisible() const override { return visible; }
    QRect geometry() const override { return QRect(600, 0, 22, 22); }

    bool iconSet = false;
    bool visible = false;
    QMenu* menu = nullptr;

private:
    bool m_tray;
};

QMessageBox* noTrayAlert()
{
    QCoreApplication::processEvents();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "noTrayAlert" && widget->isVisible())
            return qobject_cast<QMessageBox*>(widget);
    }
    return nullptr;
}

QStringList actionTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

} // namespace

class WindowModesTest : public AppTest
{
protected:
    bool trayAvailable = true;
    FakeStatusItem* lastItem = nullptr;

    void restart()
    {
        app.reset();
        QuillaryAppDelegate::Environment withTray = environment();
        withTray.makeStatusItem = [this] {
            auto item = std::make_unique<FakeStatusItem>(trayAvailable);
            lastItem = item.get();
            return item;
        };
        start(withTray);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app->window()));
    }

    void SetUp() override
    {
        AppTest::SetUp();
        restart();
    }

    void TearDown() override
    {
        while (QMessageBox* alert = noTrayAlert())
            alert->close();
        AppTest::TearDown();
    }

    void addNotes(int count)
    {
        for (int i = 0; i < count; ++i)
            app->saveItem(item(QString("AAAAAAAA-0000-0000-0000-%1").arg(i + 1, 12, 10, QChar('0')),
                               QString("note %1").arg(i + 1)),
                          false);
    }

    void makeNarrow()
    {
        app->window()->resize(380, 500);
        app->finishPaneAnimation();
    }

    void activate(QWidget* window)
    {
        window->show();
        window->raise();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }

    bool listShowing() const { return app->window()->sidebarView()->isVisibleTo(app->window()); }
    bool editorShowing() const { return app->window()->textView()->isVisibleTo(app->window()); }
};

TEST_F(WindowModesTest, MenuBarModeNeedsATray)
{
    struct Row
    {
        const char* name;
        bool tray;
        bool menuBarMode;
    };
    for (const Row& row : {Row{"with a tray", true, true}, Row{"without a tray", false, false}}) {
        trayAvailable = row.tray;
        defaults->set("Menu Bar Mode", false);
        restart();
        app->setMenuBarMode(true);
        EXPECT_EQ(app->statusItem() != nullptr, row.menuBarMode) << row.name;
        EXPECT_EQ(defaults->boolValue("Menu Bar Mode"), row.menuBarMode) << row.name;
        EXPECT_EQ(app->window()->menuBarMode(), row.menuBarMode) << row.name;
        // The window keeps no menu bar of its own in menu-bar mode, but its
        // shortcuts stay.
        EXPECT_EQ(app->window()->menuBar()->isVisible(), !row.menuBarMode) << row.name;
        EXPECT_EQ(noTrayAlert() != nullptr, !row.tray) << row.name;
        if (row.tray) {
            EXPECT_TRUE(lastItem->visible);
            EXPECT_TRUE(lastItem->iconSet);
            EXPECT_EQ(lastItem->menu, app->trayMenu());
        }
        while (QMessageBox* alert = noTrayAlert())
            alert->close();
    }
}

TEST_F(WindowModesTest, SettingChangeSwitchesTheModeBothWays)
{
    QVRUtilities::setBool(*defaults, true, "Menu Bar Mode", true);
    ASSERT_NE(app->statusItem(), nullptr);
    EXPECT_TRUE(app->window()->menuBarMode());
    QVRUtilities::setBool(*defaults, false, "Menu Bar Mode", true);
    EXPECT_EQ(app->statusItem(), nullptr);
    EXPECT_FALSE(app->window()->menuBarMode());
    EXPECT_TRUE(app->window()->menuBar()->isVisible());
}

TEST_F(WindowModesTest, EachModeKeepsItsOwnFrameAcrossStarts)
{
    QWidget* window = app->window();
    window->setGeometry(40, 50, 700, 420);
    app->saveWindowFrame();
    app->setMenuBarMode(true);
    window->setGeometry(120, 30, 450, 380);
    app->setMenuBarMode(false); // the menu-bar frame is kept as the mode is left
    EXPECT_EQ(window->geometry(), QRect(40, 50, 700, 420));
    EXPECT_EQ(defaults->object("NSWindow Frame Quillary Menu Bar").toString(), "120 30 450 380");

    restart(); // a new start in Dock mode comes back where Dock mode was
    EXPECT_EQ(app->window()->geometry(), QRect(40, 50, 700, 420));

    // A damaged frame, or one on a screen that is no longer there, is not used.
    for (const char* stored : {"garbage", "10 10 -5 300", "40000 40000 600 400"}) {
        defaults->set("NSWindow Frame Quillary Dock", QString::fromLatin1(stored));
        restart();
        const QRect frame = app->window()->geometry();
        EXPECT_TRUE(app->window()->screen()->availableGeometry().intersects(frame)) << stored;
        EXPECT_GT(frame.width(), 0) << stored;
    }
}

TEST_F(WindowModesTest, EnteringAndLeavingFullScreenStoresTheTyping)
{
    for (Qt::WindowStates state :
         {Qt::WindowStates(Qt::WindowFullScreen), Qt::WindowStates(Qt::WindowNoState)}) {
        typeInEditor("typed before the change");
        ASSERT_TRUE(app->noteNeedsSaving());
        app->window()->setWindowState(state);
        QCoreApplication::processEvents();
        EXPECT_FALSE(app->noteNeedsSaving()) << int(state);
    }
}

// Resizing used to leave the typing unsaved until the next idle autosave.
TEST_F(WindowModesTest, ResizingTheWindowStoresTheTyping)
{
    // Narrower (down to one pane) and wider again.
    for (const QSize size : {QSize(380, 500), QSize(1000, 600)}) {
        typeInEditor(QStringLiteral("typed before a resize to %1").arg(size.width()));
        ASSERT_TRUE(app->noteNeedsSaving());
        const QString text = app->editorText();
        app->window()->resize(size);
        app->finishPaneAnimation();
        EXPECT_FALSE(app->noteNeedsSaving()) << size.width();
        const Note* stored = app->noteWithId(app->editingItem().value("uuid").toString());
        ASSERT_NE(stored, nullptr) << size.width();
        EXPECT_EQ(stored->text(), text) << size.width();
        // One pane shows the list after a resize; the next round types in the editor again.
        app->activateDetailAndFocus(true, false);
    }
}

TEST_F(WindowModesTest, GearShowsInMenuBarModeAndMoreFollowsTheSelection)
{
    NoteWindow* window = app->window();
    EXPECT_FALSE(window->gearButton()->isVisible());
    app->setMenuBarMode(true);
    EXPECT_TRUE(window->gearButton()->isVisible());
    app->setMenuBarMode(false);
    EXPECT_FALSE(window->gearButton()->isVisible());

    EXPECT_FALSE(window->moreButton()->isVisible());
    addNotes(1);
    ASSERT_NE(app->selectedNote(), nullptr);
    EXPECT_TRUE(window->moreButton()->isVisible());
    emit window->moreButton()->pressed();
    QMenu* menu = window->findChild<QMenu*>("noteContextMenu");
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(actionTexts(menu).contains("Delete"));
    menu->close();
    app->deleteSelectedNote();
    EXPECT_EQ(app->selectedNote(), nullptr);
    EXPECT_FALSE(window->moreButton()->isVisible());
}

TEST_F(WindowModesTest, RefusedMenuBarModeIsSetBackAndAnnounced)
{
    // Stored from a desktop that had a tray, started on one without.
    trayAvailable = false;
    defaults->set("Menu Bar Mode", true);
    QStringList announced;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        QVRUserDefaultsDidChangeNotification, nullptr, [&](const platform::Notification& notification) {
            if (notification.userInfo.value(QVRUserDefaultsKey) == "Menu Bar Mode")
                announced << notification.userInfo.value(QVRUserDefaultsValue).toString();
        });
    restart();
    EXPECT_FALSE(defaults->boolValue("Menu Bar Mode"));
    EXPECT_FALSE(app->window()->menuBarMode());
    EXPECT_TRUE(app->window()->isVisible());
    ASSERT_NE(noTrayAlert(), nullptr);
    EXPECT_TRUE(noTrayAlert()->informativeText().contains("no system tray"));
    EXPECT_EQ(announced, QStringList{"false"});

    // A settings pane asking again hears the refusal again.
    QVRUtilities::setBool(*defaults, true, "Menu Bar Mode", true);
    EXPECT_FALSE(defaults->boolValue("Menu Bar Mode"));
    EXPECT_EQ(app->statusItem(), nullptr);
}

TEST_F(WindowModesTest, TrayMenuIsRebuiltEachTimeItOpens)
{
    app->setMenuBarMode(true);
    QMenu* menu = app->trayMenu();
    QMenu dockMenu;
    app->populateDockMenu(&dockMenu);
    const QStringList dock = actionTexts(&dockMenu);
    ASSERT_FALSE(dock.isEmpty());

    emit menu->aboutToShow();
    emit menu->aboutToShow();
    EXPECT_EQ(actionTexts(menu), dock + QStringList({"-", "Hide Quillary", "Quit Quillary"}));

    // "Hide Quillary" closes the window; the menu then offers to show it.
    menu->actions().at(dock.size() + 1)->trigger();
    app->window()->finishAnimations();
    EXPECT_FALSE(app->window()->isVisible());
    emit menu->aboutToShow();
    EXPECT_EQ(actionTexts(menu).mid(dock.size()), (QStringList{"-", "Show Quillary", "Quit Quillary"}));
    menu->actions().at(dock.size() + 1)->trigger();
    app->window()->finishAnimations();
    EXPECT_TRUE(app->window()->isVisible());

    bool quit = false;
    QObject::connect(app.get(), &QuillaryAppDelegate::quitRequested, [&] { quit = true; });
    menu->actions().last()->trigger();
    EXPECT_TRUE(quit);
}

TEST_F(WindowModesTest, OpenDuringFadeOutKeepsTheWindowOpen)
{
    app->setMenuBarMode(true);
    NoteWindow* window = app->window();
    window->closeWithAnimation();
    ASSERT_TRUE(window->isVisible()); // fading out
    window->openWithAnimation();
    window->finishAnimations();
    EXPECT_TRUE(window->isVisible());
    EXPECT_DOUBLE_EQ(window->windowOpacity(), 1.0);

    // Undisturbed, the fade-out ends closed and whole for the next opening.
    window->closeWithAnimation();
    window->finishAnimations();
    EXPECT_FALSE(window->isVisible());
    EXPECT_DOUBLE_EQ(window->windowOpacity(), 1.0);
}

TEST_F(WindowModesTest, DockModeClosesAtOnce)
{
    app->window()->closeWithAnimation();
    EXPECT_FALSE(app->window()->isVisible());
}

TEST_F(WindowModesTest, TrayClickRightAfterAutoHideLeavesTheWindowClosed)
{
    defaults->set("Hide Automatically", true);
    app->setMenuBarMode(true);
    NoteWindow* window = app->window();
    // Another window takes the activation, as the tray click does.
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    app->applicationDidResignActive();
    advance(0.1);
    app->statusBarButtonAction();
    window->finishAnimations();
    EXPECT_FALSE(window->isVisible());

    // A later click opens it again, beside the tray icon.
    advance(1.0);
    app->statusBarButtonAction();
    window->finishAnimations();
    EXPECT_TRUE(window->isVisible());
    EXPECT_DOUBLE_EQ(window->windowOpacity(), 1.0);
}

TEST_F(WindowModesTest, OverlappingSlidesEndOnTheLastRequestedPane)
{
    struct Row
    {
        const char* name;
        bool startWithEditor;
        std::function<void(QuillaryAppDelegate&)> first, second;
        bool editorAtEnd;
    };
    const auto open = [](QuillaryAppDelegate& app) { app.activateDetailAndFocus(true, true); };
    const auto leave = [](QuillaryAppDelegate& app) {
        app.hideDetailsAndSave(true, false);
        // Leaving slides on the next turn of the event loop.
        QCoreApplication::processEvents();
    };
    const Row rows[] = {
        {"open, then back to the list", false, open, leave, false},
        {"back to the list, then open", true, leave, open, true},
    };
    addNotes(2);
    for (const Row& row : rows) {
        makeNarrow();
        if (row.startWithEditor)
            app->activateDetailAndFocus(true, false);
        else
            leave(*app), app->finishPaneAnimation();
        ASSERT_EQ(editorShowing(), row.startWithEditor) << row.name;
        row.first(*app);
        EXPECT_TRUE(app->animatingPanes()) << row.name;
        EXPECT_TRUE(app->window()->sliding()) << row.name;
        row.second(*app);
        app->finishPaneAnimation();
        EXPECT_FALSE(app->animatingPanes()) << row.name;
        EXPECT_FALSE(app->window()->sliding()) << row.name;
        EXPECT_EQ(editorShowing(), row.editorAtEnd) << row.name;
        EXPECT_EQ(listShowing(), !row.editorAtEnd) << row.name;
        EXPECT_EQ(defaults->boolValue("noteIsOpen"), row.editorAtEnd) << row.name;
        // Whole panes, in place.
        EXPECT_DOUBLE_EQ(platform::animation::widgetAlpha(app->window()->textView()), 1.0) << row.name;
        EXPECT_EQ(app->window()->textView()->geometry(), NoteWindow::detailPaneRect(QSize(380, 500), false));
    }
}

TEST_F(WindowModesTest, HidingAndShowingTheListWhileSlidingEndsInTheLastLayout)
{
    addNotes(1);
    app->window()->resize(900, 500);
    app->finishPaneAnimation();
    app->hideListView();
    EXPECT_TRUE(app->animatingPanes());
    app->showListView();
    app->finishPaneAnimation();
    EXPECT_TRUE(app->twoPane());
    EXPECT_TRUE(listShowing());
    EXPECT_TRUE(editorShowing());
    EXPECT_EQ(app->window()->sidebarView()->geometry(), NoteWindow::listPaneRect(QSize(900, 500), true));
    EXPECT_DOUBLE_EQ(platform::animation::widgetAlpha(app->window()->sidebarView()), 1.0);

    app->hideListView();
    app->finishPaneAnimation();
    EXPECT_FALSE(app->twoPane());
    EXPECT_FALSE(listShowing());
    EXPECT_EQ(app->window()->textView()->geometry(), NoteWindow::detailPaneRect(QSize(900, 500), false));
}

TEST(ZoomFrame, GrowsToTheIdealSizeButStaysOnTheScreen)
{
    const QRect screen(0, 0, 1280, 800);
    struct Row
    {
        const char* name;
        QRect frame;
        QSize ideal;
        QRect zoomed;
    };
    const Row rows[] = {
        {"grows, top-left kept", {100, 50, 400, 300}, {570, 500}, {100, 50, 570, 500}},
        {"already larger: unchanged", {100, 50, 700, 600}, {570, 500}, {100, 50, 700, 600}},
        {"200 notes: no taller than the screen", {100, 50, 400, 300}, {570, 8069}, {100, 0, 570, 800}},
        {"near the bottom: moved up to fit", {100, 600, 400, 100}, {570, 500}, {100, 300, 570, 500}},
        {"near the right edge: moved left", {1000, 50, 400, 300}, {570, 300}, {710, 50, 570, 300}},
        {"wider than the screen", {0, 0, 400, 300}, {2000, 300}, {0, 0, 1280, 300}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(NoteWindow::standardFrame(row.frame, row.ideal, screen), row.zoomed) << row.name;
}

TEST_F(WindowModesTest, ZoomWithManyNotesStaysWithinTheAvailableScreen)
{
    EXPECT_EQ(app->idealSizeForZoom(), QSize(270, 267 + 56));
    addNotes(201);
    EXPECT_EQ(app->idealSizeForZoom(), QSize(570, 201 * 40 + 13 + 56));
    NoteWindow* window = app->window();
    window->setGeometry(40, 40, 400, 300);
    window->zoom();
    const QRect available = window->screen()->availableGeometry();
    EXPECT_TRUE(available.contains(window->frameGeometry())) << window->frameGeometry().height();
    EXPECT_GT(window->height(), 300);
}

TEST_F(WindowModesTest, TitleBandDoubleClickZoomsOrMinimizes)
{
    struct Row
    {
        const char* name;
        QVariant miniaturize;
        int y;
        bool minimized, zoomed;
    };
    const Row rows[] = {
        {"setting absent: zoom", QVariant(), 10, false, true},
        {"setting on: minimize", true, 10, true, false},
        {"below the band: nothing", QVariant(), 30, false, false},
    };
    addNotes(3);
    NoteWindow* window = app->window();
    for (const Row& row : rows) {
        defaults->set("AppleMiniaturizeOnDoubleClick", row.miniaturize);
        window->showNormal();
        window->setGeometry(40, 40, 300, 300);
        QTest::mouseDClick(window, Qt::LeftButton, {}, QPoint(280, row.y));
        EXPECT_EQ(window->isMinimized(), row.minimized) << row.name;
        EXPECT_EQ(window->width() == 570, row.zoomed) << row.name;
    }
}

TEST_F(WindowModesTest, HorizontalSwipesHideAndShowTheList)
{
    addNotes(1);
    app->window()->resize(900, 500);
    app->finishPaneAnimation();
    QWidget* viewport = app->window()->textView()->viewport();
    const auto swipe = [&](int dx) {
        for (Qt::ScrollPhase phase : {Qt::ScrollBegin, Qt::ScrollUpdate, Qt::ScrollUpdate, Qt::ScrollEnd}) {
            const QPoint pixels(phase == Qt::ScrollEnd ? 0 : dx, 0);
            QWheelEvent event(QPointF(50, 50), viewport->mapToGlobal(QPointF(50, 50)), pixels, pixels / 8,
                              Qt::NoButton, Qt::NoModifier, phase, false);
            QApplication::sendEvent(viewport, &event);
            advance(0.01);
        }
        app->finishPaneAnimation();
    };
    swipe(-200);
    EXPECT_FALSE(app->twoPane());
    EXPECT_FALSE(listShowing());
    swipe(200);
    EXPECT_TRUE(app->twoPane());
    EXPECT_TRUE(listShowing());
}

TEST(TrayPlacement, WindowOpensBesideTheIconWithinTheScreen)
{
    const QRect screen(0, 0, 1280, 800);
    const QSize size(400, 300);
    struct Row
    {
        const char* name;
        QRect icon;
        QPoint origin;
    };
    const Row rows[] = {
        {"top panel: under the icon", {600, 0, 22, 22}, {410, 26}},
        {"bottom panel: above the icon", {600, 778, 22, 22}, {410, 474}},
        {"icon at the right edge: kept on screen", {1270, 0, 10, 22}, {880, 26}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(NoteWindow::originNearStatusItem(row.icon, size, screen), row.origin) << row.name;
}

TEST_F(WindowModesTest, DividersShowOnlyWhileContentIsScrolledUnderThem)
{
    QStringList lines;
    for (int i = 0; i < 200; ++i)
        lines << QString("line %1").arg(i);
    Note* note = app->saveItem(item("AAAAAAAA-0000-0000-0000-000000000001", lines.join('\n')), false);
    makeNarrow();
    app->selectNote(note);
    app->activateDetailAndFocus(false, false);
    QScrollBar* bar = app->textView()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 100);
    struct Row
    {
        const char* name;
        int position;
        bool topShown, bottomShown;
    };
    const Row rows[] = {
        {"at the top", 0, false, true},
        {"within the inset", 9, false, true},
        {"scrolled", 100, true, true},
        {"at the end", bar->maximum(), true, false},
    };
    for (const Row& row : rows) {
        bar->setValue(row.position);
        app->updateDividersAnimated(false);
        EXPECT_EQ(app->window()->dividerTopView()->alpha(), row.topShown ? 1.0 : 0.0) << row.name;
        EXPECT_EQ(app->window()->dividerView()->alpha(), row.bottomShown ? 1.0 : 0.0) << row.name;
        EXPECT_EQ(app->window()->searchDividerView()->alpha(), 0.0) << row.name;
    }

    // Animated, the line fades to its target.
    bar->setValue(0);
    app->updateDividersAnimated(true);
    QTRY_COMPARE(app->window()->dividerTopView()->alpha(), 0.0);
}

// Leaving the editor saves the typing, which moves its note to the top of
// the list between the button going down and the row being picked.
class RowClickTest : public WindowModesTest
{
protected:
    void clickTopRowWhileTyping(Qt::MouseButton button)
    {
        QList<Note*> notes;
        for (int i = 0; i < 3; ++i) {
            advance(10);
            notes << app->saveItem(item(QString("AAAAAAAA-0000-0000-0000-00000000000%1").arg(i + 1),
                                        QString("note %1").arg(i + 1)),
                                   false);
        }
        ASSERT_EQ(rows(), (QStringList{"note 3", "note 2", "note 1"}));
        app->selectNote(notes[0]);
        app->window()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(app->window()));
        typeInEditor("typed ");
        ASSERT_TRUE(app->textView()->hasFocus());
        advance(10);

        QListView* list = app->tableView();
        const QRect target = list->visualRect(app->listModel()->index(0));
        const QPoint inWindow = list->viewport()->mapTo(app->window(), target.center());
        QTest::mousePress(app->window()->windowHandle(), button, {}, inWindow);
        QTest::mouseRelease(app->window()->windowHandle(), button, {}, inWindow);

        EXPECT_EQ(rows(), (QStringList{"typed note 1", "note 3", "note 2"}));
        EXPECT_EQ(selectedUuid(), notes[2]->uuid()) << "the row under the pointer was note 3";
    }
};

TEST_F(RowClickTest, LeftClickOnAnotherRowWhileTypingPicksTheRowUnderThePointer)
{
    clickTopRowWhileTyping(Qt::LeftButton);
}

TEST_F(RowClickTest, RightClickOnAnotherRowWhileTypingPicksTheRowUnderThePointer)
{
    clickTopRowWhileTyping(Qt::RightButton);
}

TEST_F(WindowModesTest, CommandKeysWorkInMenuBarModeWithoutAMenuBar)
{
    addNotes(1);
    app->setMenuBarMode(true);
    ASSERT_FALSE(app->window()->menuBar()->isVisible());
    app->window()->show();
    app->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(app->window()));
    Note* note = app->selectedNote();
    ASSERT_NE(note, nullptr);

    // Keys of commands with a condition, and of one without.
    app->tableView()->setFocus();
    QTest::keyClick(app->tableView(), Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_TRUE(note->archived().toBool()) << "Delete";
    QTest::keyClick(app->tableView(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(note->archived().toBool()) << "Undo";
    ASSERT_FALSE(app->searchShowing());
    QTest::keyClick(app->tableView(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(app->searchShowing()) << "Find";
}

// A second tray click while the window fades out (two quick clicks) used to
// find the window still active and leave it to close.
TEST_F(WindowModesTest, TrayClickWhileFadingOutOpensTheWindowAgain)
{
    app->setMenuBarMode(true);
    NoteWindow* window = app->window();
    activate(window);
    app->statusBarButtonAction();
    ASSERT_TRUE(window->isVisible()) << "fading out";
    // The icon's menu offers to show it, as a click would.
    QMenu* menu = app->trayMenu();
    emit menu->aboutToShow();
    EXPECT_TRUE(actionTexts(menu).contains("Show Quillary"));
    app->statusBarButtonAction();
    window->finishAnimations();
    EXPECT_TRUE(window->isVisible());
    EXPECT_DOUBLE_EQ(window->windowOpacity(), 1.0);

    // Once it is open and active, the next click closes it.
    activate(window);
    app->statusBarButtonAction();
    window->finishAnimations();
    EXPECT_FALSE(window->isVisible());
}

// Escape in the list used to do nothing in menu-bar mode.
TEST_F(WindowModesTest, EscapeInTheListClosesTheWindowInMenuBarModeOnly)
{
    addNotes(2);
    for (const bool menuBar : {false, true}) {
        app->setMenuBarMode(menuBar);
        NoteWindow* window = app->window();
        activate(window);
        app->tableView()->setFocus();
        QTest::keyClick(app->tableView(), Qt::Key_Escape);
        window->finishAnimations();
        EXPECT_EQ(window->isVisible(), !menuBar) << (menuBar ? "menu bar" : "Dock");
        EXPECT_NE(app->selectedNote(), nullptr) << (menuBar ? "menu bar" : "Dock");
    }
}

// A right-click on the empty part of the list, below its last row, used to
// clear the selection.
TEST_F(WindowModesTest, RightClickBelowTheLastRowKeepsTheSelection)
{
    addNotes(3);
    NoteWindow* window = app->window();
    activate(window);
    QListView* list = app->tableView();
    const auto click = [&](Qt::MouseButton button, const QPoint& position) {
        const QPoint inWindow = list->viewport()->mapTo(window, position);
        QTest::mousePress(window->windowHandle(), button, {}, inWindow);
        QTest::mouseRelease(window->windowHandle(), button, {}, inWindow);
        QCoreApplication::processEvents();
    };
    click(Qt::LeftButton, list->visualRect(app->listModel()->index(1)).center());
    Note* selected = app->selectedNote();
    ASSERT_EQ(selected, app->listModel()->noteAt(1));
    const QRect last = list->visualRect(app->listModel()->index(2));
    const QPoint below(last.center().x(), last.bottom() + 30);
    ASSERT_LT(below.y(), list->viewport()->height());
    ASSERT_FALSE(list->indexAt(below).isValid());
    click(Qt::RightButton, below);
    EXPECT_EQ(app->selectedNote(), selected);
    EXPECT_EQ(list->selectionModel()->selectedRows().value(0).row(), 1);
    EXPECT_EQ(window->findChild<QMenu*>("noteContextMenu"), nullptr) << "no menu off the rows";
}

// The View menu had no full-screen command, and menu-bar mode was entered
// with the window still in full screen.
TEST_F(WindowModesTest, FullScreenIsDockModesAndLeftForMenuBarMode)
{
    NoteWindow* window = app->window();
    // Full screen however entered (by the window manager's own key too) is
    // left before the mode changes.
    window->setWindowState(Qt::WindowFullScreen);
    app->setMenuBarMode(true);
    EXPECT_FALSE(window->isFullScreen());
    app->setMenuBarMode(false);

    QAction* command = app->commands()->action("toggleFullScreenMenuItem");
    ASSERT_NE(command, nullptr);
    QMenu* view = window->findChild<QMenu*>("viewMenu");
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->actions().contains(command));
    EXPECT_EQ(command->shortcut(), QKeySequence(Qt::Key_F11));
    app->menuValidator()->menuNeedsUpdate(view);
    EXPECT_EQ(command->text(), "Enter Full Screen");
    EXPECT_TRUE(command->isEnabled());

    command->trigger();
    EXPECT_TRUE(window->isFullScreen());
    app->menuValidator()->menuNeedsUpdate(view);
    EXPECT_EQ(command->text(), "Exit Full Screen");
    command->trigger();
    EXPECT_FALSE(window->isFullScreen());

    command->trigger();
    ASSERT_TRUE(window->isFullScreen());
    app->setMenuBarMode(true);
    EXPECT_FALSE(window->isFullScreen()) << "left before the mode changes";
    // No full screen in menu-bar mode, neither from the menu nor by its key.
    app->menuValidator()->menuNeedsUpdate(view);
    EXPECT_FALSE(command->isVisible());
    command->trigger();
    EXPECT_FALSE(window->isFullScreen());

    app->setMenuBarMode(false);
    app->menuValidator()->menuNeedsUpdate(view);
    EXPECT_TRUE(command->isVisible());
    EXPECT_EQ(window->maximumWidth(), NoteWindow::MaximumWidth);
}

// Ctrl+Q (and the other keys of the application's own commands) used to do
// nothing while the About or the Preferences window was the active one.
TEST_F(WindowModesTest, QuitKeyWorksFromEveryWindowOfOurs)
{
    struct Row
    {
        const char* name;
        std::function<QWidget*()> open;
    };
    const Row rows[] = {
        {"main window", [this]() -> QWidget* { return app->window(); }},
        {"about window",
         [this]() -> QWidget* {
             app->showAbout();
             return app->aboutWindowController();
         }},
        {"preferences window",
         [this]() -> QWidget* {
             app->showPreferences();
             return app->preferencesWindowController()->window();
         }},
    };
    for (const Row& row : rows) {
        QWidget* window = row.open();
        ASSERT_NE(window, nullptr) << row.name;
        activate(window);
        QSignalSpy quit(app.get(), &QuillaryAppDelegate::quitRequested);
        QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(quit.count(), 1) << row.name;
    }
}

// The relative dates of the list and the status line used to stay as they
// were first drawn.
TEST_F(WindowModesTest, RelativeDatesAreRedrawnEveryMinuteAndWhenTheWindowReopens)
{
    addNotes(1);
    NoteWindow* window = app->window();
    activate(window);
    auto* timer = app->findChild<QTimer*>("listRefreshTimer");
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 60000);
    EXPECT_FALSE(timer->isSingleShot());
    const auto fire = [timer] {
        QTimerEvent tick(timer->timerId());
        QCoreApplication::sendEvent(timer, &tick);
    };
    QSignalSpy redrawn(app->listModel(), &QAbstractItemModel::dataChanged);
    const QString fresh = app->currentStatus();
    ASSERT_TRUE(fresh.contains(QChar(0x2022))) << fresh.toStdString() << ": the status shows the date";

    advance(3 * 3600);
    fire();
    ASSERT_EQ(redrawn.count(), 1);
    EXPECT_TRUE(redrawn.first().at(2).value<QList<int>>().contains(NoteListModel::DateTextRole));
    EXPECT_NE(app->currentStatus(), fresh);

    // Giving the activation away keeps the timer; closing stops it.
    QWidget other;
    activate(&other);
    EXPECT_TRUE(timer->isActive());
    window->closeWithAnimation();
    ASSERT_FALSE(window->isVisible());
    EXPECT_FALSE(timer->isActive());

    // Back after a day: redrawn at once, and every minute again.
    advance(24 * 3600);
    const QString closed = app->currentStatus();
    redrawn.clear();
    window->openWithAnimation();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_GE(redrawn.count(), 1);
    EXPECT_NE(app->currentStatus(), closed);
    EXPECT_TRUE(timer->isActive());
}
