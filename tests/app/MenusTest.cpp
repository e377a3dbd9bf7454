// The menus: enabling as each menu opens, commands that check again when
// their key fires, the recent-notes menu, and the gear, list and editor
// context menus.
#include "AppTestSupport.h"

#include "app/commands/MenuValidator.h"
#include "platform/core/NotificationCenter.h"
#include "store/QVRUtilities.h"
#include "tests/support/Wait.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include <functional>
#include <memory>

using apptest::AppTest;

namespace {

const QString A = QStringLiteral("AAAAAAAA-0000-0000-0000-000000000001");
const QString B = QStringLiteral("AAAAAAAA-0000-0000-0000-000000000002");
const QString C = QStringLiteral("AAAAAAAA-0000-0000-0000-000000000003");
const QChar Ellipsis(0x2026);

QString uuidNumber(int n)
{
    return QStringLiteral("BBBBBBBB-0000-0000-0000-%1").arg(n, 12, 10, QLatin1Char('0'));
}

class MenusTest : public AppTest
{
protected:
    QMenu* menu(const char* name) const
    {
        return app->window()->findChild<QMenu*>(QString::fromLatin1(name));
    }
    QAction* action(const char* name) const
    {
        return app->window()->findChild<QAction*>(QString::fromLatin1(name));
    }

    // Opens the menu as a user would, runs `check` while it is open, closes it.
    void whileOpen(QMenu* shown, const std::function<void()>& check = {})
    {
        ASSERT_NE(shown, nullptr);
        shown->popup(QPoint(0, 0));
        ASSERT_TRUE(shown->isVisible());
        if (check)
            check();
        shown->hide();
    }

    void addNote(const QString& uuid, const QString& text, double date)
    {
        app->saveItem({{"uuid", uuid}, {"text", text}, {"date", date}}, false);
    }

    void openNote(const QString& uuid)
    {
        app->selectNote(app->noteWithId(uuid));
        app->activateDetailAndFocus(true, false);
    }

    // The recent-notes items: those before the separator.
    QList<QAction*> dockNotes(QMenu& dock) const
    {
        QList<QAction*> notes;
        for (QAction* item : dock.actions()) {
            if (item->isSeparator())
                break;
            if (item->data().isValid())
                notes << item;
        }
        return notes;
    }

    bool archived(const QString& uuid) { return app->noteWithId(uuid)->archived().toBool(); }

    void activate()
    {
        app->window()->show();
        app->window()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(app->window()));
    }
};

} // namespace

TEST_F(MenusTest, DockMenuHoldsTheFirstTenLiveNotesThenASeparatorAndNewNote)
{
    struct Row
    {
        int notes;
        int archivedNewest;
        int items;
    };
    int made = 0;
    for (const Row row : {Row{0, 0, 0}, Row{9, 0, 9}, Row{10, 0, 10}, Row{25, 0, 10}, Row{25, 3, 10}}) {
        for (; made < row.notes; ++made)
            addNote(uuidNumber(made), QStringLiteral("note %1").arg(made), 1000.0 + made);
        for (int i = 0; i < row.archivedNewest; ++i)
            app->deleteItemWithUUID(uuidNumber(made - 1 - i), true);
        QMenu dock;
        app->populateDockMenu(&dock);
        const QList<QAction*> notes = dockNotes(dock);
        ASSERT_EQ(notes.size(), row.items) << row.notes;
        // Newest first, archived notes left out.
        for (int i = 0; i < notes.size(); ++i)
            EXPECT_EQ(notes[i]->text(), QStringLiteral("note %1").arg(made - 1 - row.archivedNewest - i));
        const QList<QAction*> all = dock.actions();
        EXPECT_EQ(all.last()->text(), "New Note");
        EXPECT_EQ(all.last()->shortcut(), QKeySequence::New);
        EXPECT_EQ(all.size(), row.items == 0 ? 1 : row.items + 2) << "one separator only after notes";
        if (row.items > 0) {
            EXPECT_TRUE(all[row.items]->isSeparator());
        }
    }
}

TEST_F(MenusTest, DockMenuCutsLongTitlesWithoutSplittingACharacter)
{
    struct Row
    {
        QString title;
        QString shown;
    };
    const QString face = QString::fromUtf8("\U0001F600"); // two UTF-16 units
    const Row rows[] = {
        {QString(40, 'a'), QString(40, 'a')},
        {QString(41, 'b'), QString(39, 'b') + Ellipsis},
        {QString(38, 'c') + face, QString(38, 'c') + face},
        // The 39-unit cut falls inside the pair: the whole pair goes.
        {QString(38, 'd') + face + "x", QString(38, 'd') + Ellipsis},
        // ... or between a letter and its accent: both go.
        {QString(38, 'e') + QString::fromUtf8("e\u0301") + "xx", QString(38, 'e') + Ellipsis},
    };
    for (int i = 0; i < int(std::size(rows)); ++i)
        addNote(uuidNumber(i), rows[i].title, 1000.0 - i);
    QMenu dock;
    app->populateDockMenu(&dock);
    const QList<QAction*> notes = dockNotes(dock);
    ASSERT_EQ(notes.size(), int(std::size(rows)));
    for (int i = 0; i < int(std::size(rows)); ++i) {
        EXPECT_EQ(notes[i]->data().toString(), uuidNumber(i));
        EXPECT_EQ(notes[i]->text(), rows[i].shown) << rows[i].title.toStdString();
    }
}

TEST_F(MenusTest, DockItemOpensItsOwnNoteWhenTheSaveBeforeItReordersTheList)
{
    addNote(A, "Alpha", 300);
    addNote(B, "Bravo", 200);
    addNote(C, "Charlie", 100);
    openNote(C);
    typeInEditor("More ");
    QMenu dock;
    app->populateDockMenu(&dock);
    const QList<QAction*> notes = dockNotes(dock);
    ASSERT_EQ(notes.size(), 3);
    ASSERT_EQ(notes[1]->text(), "Bravo");

    // Choosing stores the typing first, which moves Charlie to the top.
    notes[1]->trigger();
    EXPECT_EQ(rows().value(0), "More Charlie");
    EXPECT_EQ(selectedUuid(), B);
    EXPECT_EQ(app->textView()->toPlainText(), "Bravo");

    // A note deleted since the menu was built is not shown.
    app->deleteItemWithUUID(A, true);
    const QString before = selectedUuid();
    notes[0]->trigger();
    EXPECT_EQ(selectedUuid(), before);
}

TEST_F(MenusTest, DeleteAndRestoreFollowTheSelectedNoteInTheMenuAndWhenTheirKeyFires)
{
    addNote(A, "live", 200);
    addNote(B, "gone", 100);
    app->deleteItemWithUUID(B, true);
    struct Row
    {
        QString select;
        bool deleteShown, deleteEnabled, restoreShown;
        const char* command; // triggered as its key would: the command checks again
        QString uuid;
        bool archivedAfter;
    };
    const Row rows[] = {
        {QString(), true, false, false, "deleteMenuItem", A, false},
        {QString(), true, false, false, "restoreMenuItem", B, true},
        {A, true, true, false, "restoreMenuItem", A, false},
        {B, false, false, true, "deleteMenuItem", B, true},
        {B, false, false, true, "restoreMenuItem", B, false},
        {A, true, true, false, "deleteMenuItem", A, true},
    };
    QAction* deleteItem = action("deleteMenuItem");
    QAction* restoreItem = action("restoreMenuItem");
    for (const Row& row : rows) {
        const std::string name = row.command + (" with " + row.select.toStdString());
        app->selectNote(app->noteWithId(row.select));
        whileOpen(menu("fileMenu"), [&] {
            EXPECT_EQ(deleteItem->isVisible(), row.deleteShown) << name;
            EXPECT_EQ(deleteItem->isEnabled(), row.deleteEnabled) << name;
            EXPECT_EQ(restoreItem->isVisible(), row.restoreShown) << name;
            EXPECT_EQ(restoreItem->isEnabled(), row.restoreShown) << name;
        });
        action(row.command)->trigger();
        EXPECT_EQ(archived(row.uuid), row.archivedAfter) << name;
    }
}

TEST_F(MenusTest, ShortcutsStillWorkAfterTheirMenuShowedThemDisabled)
{
    activate();
    addNote(A, "keep me", 100);
    app->selectNote(nullptr);
    whileOpen(menu("fileMenu"), [&] { EXPECT_FALSE(action("deleteMenuItem")->isEnabled()); });
    whileOpen(menu("editMenu"), [&] { EXPECT_FALSE(action("undoMenuItem")->isEnabled()); });

    app->selectNote(app->noteWithId(A));
    app->tableView()->setFocus();
    QTest::keyClick(app->tableView(), Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_TRUE(archived(A));
    QTest::keyClick(app->tableView(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(archived(A));
}

TEST_F(MenusTest, OpeningAnyMenuStoresTheNoteBeingTyped)
{
    for (const char* name : {"applicationMenu", "fileMenu", "editMenu", "viewMenu", "helpMenu", "gearMenu"}) {
        typeInEditor(QString::fromLatin1(name));
        ASSERT_TRUE(app->noteNeedsSaving());
        whileOpen(menu(name));
        EXPECT_FALSE(app->noteNeedsSaving()) << name;
        ASSERT_NE(app->selectedNote(), nullptr) << name;
        EXPECT_EQ(app->selectedNote()->text(), app->textView()->toPlainText()) << name;
    }
}

TEST_F(MenusTest, SidebarItemFollowsTheLayoutAndNeedsRoomForTwoPanes)
{
    QAction* sidebar = action("toggleListViewMenuItem");
    whileOpen(menu("viewMenu"), [&] {
        EXPECT_EQ(sidebar->text(), "Hide Sidebar");
        EXPECT_TRUE(sidebar->isEnabled());
    });
    sidebar->trigger();
    EXPECT_FALSE(app->twoPane());
    whileOpen(menu("viewMenu"), [&] { EXPECT_EQ(sidebar->text(), "Show Sidebar"); });
    sidebar->trigger();
    EXPECT_TRUE(app->twoPane());

    app->window()->resize(380, 500);
    app->adjustWindowContent();
    whileOpen(menu("viewMenu"), [&] { EXPECT_FALSE(sidebar->isEnabled()); });
    sidebar->trigger(); // by its key: refused, the wish stays
    app->window()->resize(1000, 600);
    app->adjustWindowContent();
    EXPECT_TRUE(app->twoPane());
}

TEST_F(MenusTest, GearJoinsTheMenuBarOnceAndShowsTheHideSetting)
{
    auto settingsItems = [&] {
        int count = 0;
        for (QAction* item : app->window()->menuBar()->actions())
            count += item->menu() == app->gearMenu();
        return count;
    };
    EXPECT_EQ(settingsItems(), 0);
    QAction* hide = action("hideAutoMenuItem");
    for (bool stored : {true, false, true}) {
        // The General pane writes the same setting.
        QVRUtilities::setBool(*defaults, stored, QStringLiteral("Hide Automatically"), true);
        app->openGearMenu(app->window()->gearButton());
        EXPECT_EQ(hide->isChecked(), stored);
        app->gearMenu()->hide();
    }
    EXPECT_EQ(settingsItems(), 1);

    QStringList posted;
    const platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        QVRUserDefaultsDidChangeNotification, nullptr, [&](const platform::Notification& notification) {
            posted << notification.userInfo.value(QVRUserDefaultsKey).toString();
        });
    hide->trigger(); // from checked
    EXPECT_FALSE(defaults->boolValue(QStringLiteral("Hide Automatically")));
    hide->trigger();
    EXPECT_TRUE(defaults->boolValue(QStringLiteral("Hide Automatically")));
    EXPECT_EQ(posted, QStringList({"Hide Automatically", "Hide Automatically"}));
}

TEST_F(MenusTest, ListContextMenuStoresTypingThenActsOnTheRowClicked)
{
    addNote(A, "first", 200);
    addNote(B, "second", 100);
    openNote(A);
    typeInEditor("Edited ");

    // Off the rows: no menu, the selection stays.
    QListView* list = app->tableView();
    emit list->customContextMenuRequested(QPoint(5, list->viewport()->height() - 2));
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(selectedUuid(), A);

    emit list->customContextMenuRequested(list->visualRect(app->listModel()->index(1)).center());
    auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(selectedUuid(), B);
    EXPECT_EQ(app->noteWithId(A)->text(), "Edited first");
    EXPECT_EQ(app->textView()->toPlainText(), "second");
    // Delete ends the note's own items; the share items may follow.
    QAction* deleteItem = nullptr;
    for (QAction* item : popup->actions()) {
        if (item->text() == QLatin1String("Delete"))
            deleteItem = item;
    }
    ASSERT_NE(deleteItem, nullptr);
    EXPECT_TRUE(deleteItem->shortcut().isEmpty());
    EXPECT_TRUE(deleteItem->isEnabled());
    deleteItem->trigger();
    popup->close();
    EXPECT_TRUE(archived(B));
    EXPECT_FALSE(archived(A));
}

// --- Where each command shows ----------------------------------------------------------

namespace {

// A menu as its user reads it: "Title  Keys" per item, "-" per separator and
// "Title >" per submenu.
QStringList readMenu(const QMenu* shown)
{
    QStringList items;
    for (const QAction* item : shown->actions()) {
        if (item->isSeparator())
            items << QStringLiteral("-");
        else if (item->menu())
            items << item->text() + QStringLiteral(" >");
        else if (item->shortcut().isEmpty())
            items << item->text();
        else
            items << item->text() + QStringLiteral("  ") + item->shortcut().toString();
    }
    return items;
}

} // namespace

TEST_F(MenusTest, EveryMenuKeepsItsItemsOrderSeparatorsAndKeys)
{
    addNote(A, "note", 100);
    openNote(A);
    struct Row
    {
        const char* menu;
        QStringList items;
    };
    const Row rows[] = {
        {"applicationMenu", {"About Quillary", "Preferences…  Ctrl+,"}},
        {"fileMenu",
         {"New Note  Ctrl+N", "Open…  Ctrl+O", "-", "Delete  Ctrl+Backspace", "Restore", "-",
          "Export…  Ctrl+E", "Export All…  Ctrl+Shift+E", "Share >", "-", "Page Setup…  Ctrl+Shift+P",
          "Print…  Ctrl+P", "-", "Quit Quillary  Ctrl+Q"}},
        {"editMenu",
         {"Undo  Ctrl+Z", "Redo  Ctrl+Shift+Z", "-", "Find  Ctrl+F", "-", "Calculate  Ctrl+=", "-",
          "Copy  Ctrl+C"}},
        {"viewMenu", {"Hide Sidebar", "-", "Enter Full Screen  F11"}},
        {"helpMenu", {"Quillary Help  Ctrl+?"}},
        {"gearMenu",
         {"Find  Ctrl+F", "-", "Hide Automatically", "Preferences…  Ctrl+,", "-", "About Quillary",
          "Quillary Help  Ctrl+?", "-", "Quit Quillary  Ctrl+Q"}},
    };
    QStringList bar;
    for (QAction* item : app->window()->menuBar()->actions())
        bar << item->menu()->objectName();
    EXPECT_EQ(bar, QStringList({"applicationMenu", "fileMenu", "editMenu", "viewMenu", "helpMenu"}));
    for (const Row& row : rows)
        EXPECT_EQ(readMenu(menu(row.menu)).join(" | ").toStdString(), row.items.join(" | ").toStdString())
            << row.menu;

    // The note's own menu repeats menu-bar commands without their keys.
    apptest::FakeXdgEmail noMail(dir.filePath(QStringLiteral("nomail")), false);
    QMenu* more = app->contextualMenuForNote(app->selectedNote(), app->window());
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(readMenu(more).join(" | ").toStdString(), "Copy | Export… | Print… | - | Delete");
    delete more;
    app->deleteItemWithUUID(A, true);
    more = app->contextualMenuForNote(app->noteWithId(A), app->window());
    EXPECT_EQ(readMenu(more).last(), "Restore");
    delete more;
    EXPECT_EQ(app->contextualMenuForNote(nullptr, app->window()), nullptr);

    QMenu* editor = app->editorContextMenu(QPoint(1, 1));
    EXPECT_EQ(readMenu(editor).mid(readMenu(editor).size() - 2), QStringList({"-", "Calculate  Ctrl+="}));
    delete editor;
}

// The row's context menu and the More button's menu ended at Delete: a
// note could be e-mailed only from the File menu.
TEST_F(MenusTest, NoteMenuOffersEmailAfterASeparatorWhenXdgEmailExists)
{
    addNote(A, "Mailed note", 100);
    openNote(A);
    struct Row
    {
        bool mailProgram;
        const char* items;
    };
    const Row rows[] = {
        {true, "Copy | Export… | Print… | - | Delete | - | Email | Email as Attachment"},
        {false, "Copy | Export… | Print… | - | Delete"},
    };
    for (const Row& row : rows) {
        apptest::FakeXdgEmail mail(dir.filePath(QStringLiteral("mail%1").arg(row.mailProgram)),
                                   row.mailProgram);
        std::unique_ptr<QMenu> more(app->contextualMenuForNote(app->selectedNote(), app->window()));
        ASSERT_NE(more, nullptr);
        EXPECT_EQ(readMenu(more.get()).join(" | ").toStdString(), row.items) << row.mailProgram;
        whileOpen(more.get(), [&] {
            for (QAction* item : more->actions())
                EXPECT_TRUE(item->isEnabled() || item->isSeparator()) << item->text().toStdString();
        });
        QStringList shareItems;
        whileOpen(menu("shareMenu"), [&] {
            for (QAction* item : menu("shareMenu")->actions())
                shareItems << item->text();
        });
        EXPECT_EQ(shareItems.join(" | "), row.mailProgram ? "Email | Email as Attachment" : "")
            << row.mailProgram;
        if (!row.mailProgram)
            continue;
        // The item e-mails the selected note.
        more->actions().at(6)->trigger();
        ASSERT_TRUE(testsupport::waitFor([&] { return mail.calls().endsWith("--\n"); }, 10000));
        EXPECT_EQ(mail.calls(), "--subject\nMailed note\n--body\nMailed note\n--\n");
    }
}

TEST_F(MenusTest, EveryKeyedCommandBelongsToTheWindowSoItsKeyWorksWithoutTheMenuBar)
{
    // In menu-bar mode the window shows no menu bar; its keys must still
    // reach the commands, which they do only through the window's actions.
    QStringList keyed;
    for (QAction* item : app->window()->findChildren<QAction*>()) {
        if (item->shortcut().isEmpty() || item->shortcutContext() != Qt::WindowShortcut)
            continue;
        keyed << item->objectName();
        EXPECT_TRUE(app->window()->actions().contains(item)) << item->objectName().toStdString();
    }
    keyed.sort();
    EXPECT_EQ(keyed.join(' ').toStdString(),
              "calculateMenuItem copyMenuItem deleteMenuItem exportAllAction exportMenuItem findMenuItem "
              "helpMenuItem newNoteMenuItem openAction pageSetupAction preferencesAction printMenuItem "
              "quitMenuItem redoMenuItem toggleFullScreenMenuItem undoMenuItem");
}

TEST_F(MenusTest, EachCommandIsEnabledByItsOwnConditionAsItsMenuOpens)
{
    struct Row
    {
        const char* command;
        const char* menu;
        bool withoutNotes;
        bool withANote;
    };
    const Row rows[] = {
        {"newNoteMenuItem", "fileMenu", true, true},
        {"openAction", "fileMenu", true, true},
        {"deleteMenuItem", "fileMenu", false, true},
        {"exportMenuItem", "fileMenu", false, true},
        {"exportAllAction", "fileMenu", false, true},
        {"printMenuItem", "fileMenu", false, true},
        {"pageSetupAction", "fileMenu", true, true},
        {"undoMenuItem", "editMenu", false, false},
        {"redoMenuItem", "editMenu", false, false},
        {"calculateMenuItem", "editMenu", false, false},
        {"copyMenuItem", "editMenu", true, true},
        {"toggleListViewMenuItem", "viewMenu", true, true},
        {"preferencesAction", "applicationMenu", true, true},
    };
    for (const bool withNote : {false, true}) {
        if (withNote) {
            addNote(A, "some text", 100);
            app->selectNote(app->noteWithId(A));
        }
        for (const Row& row : rows) {
            whileOpen(menu(row.menu), [&] {
                EXPECT_EQ(action(row.command)->isEnabled(), withNote ? row.withANote : row.withoutNotes)
                    << row.command << (withNote ? " with a note" : " without notes");
            });
            EXPECT_TRUE(action(row.command)->isEnabled())
                << row.command << ": its keys live again once closed";
        }
    }
}
