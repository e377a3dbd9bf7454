// The menu bar, the gear, list and editor context menus, the recent-notes
// menu and the small commands behind them. Qt checks nothing before a
// shortcut fires, so every command saves the open note and checks its own
// condition first (MenuValidator).
#include "app/QuillaryAppDelegate.h"
#include "app/commands/MenuValidator.h"
#include "app/list/NoteListModel.h"
#include "app/window/NoteWindow.h"
#include "app/window/QVRAboutWindowController.h"

#include "platform/core/UserDefaults.h"
#include "platform/core/Variant.h"
#include "platform/ui/UndoManager.h"
#include "store/Note.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRObjectController.h"
#include "store/QVRUtilities.h"

#include <QAction>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QUrl>

namespace {

const QString HideAutomaticallyKey = QStringLiteral("Hide Automatically");

// Recent-notes items: at most this many, and titles of 41 units or more are
// cut to 39 and an ellipsis.
constexpr int RecentNoteCount = 10;
constexpr int LongestWholeTitle = 40;
constexpr int CutTitleLength = 39;

QAction* namedAction(QMenu* menu, const QString& title, const char* name, const QKeySequence& keys = {})
{
    QAction* action = menu->addAction(QVRLocalizedString(title));
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(keys);
    return action;
}

QMenu* namedMenu(QMenuBar* bar, const QString& title, const char* name)
{
    QMenu* menu = bar->addMenu(QVRLocalizedString(title));
    menu->setObjectName(QString::fromLatin1(name));
    return menu;
}

bool isArchived(const Note* note)
{
    return note && platform::variantBoolValue(note->archived());
}

} // namespace

void QuillaryAppDelegate::buildMenus()
{
    m_menuValidator = new MenuValidator([this] { saveCurrentNote(); }, this);
    MenuValidator* validator = m_menuValidator;
    QMenuBar* bar = m_window->menuBar();

    QMenu* application = namedMenu(bar, QStringLiteral("Quillary"), "applicationMenu");
    QAction* about = namedAction(application, QStringLiteral("About Quillary"), "aboutMenuItem");
    validator->addCommand(about, {}, [this] { showAbout(); });

    QMenu* file = namedMenu(bar, QStringLiteral("File"), "fileMenu");
    m_newNoteItem = namedAction(file, QStringLiteral("New Note"), "newNoteMenuItem", QKeySequence::New);
    validator->addCommand(m_newNoteItem, {}, [this] { newNote(); });
    file->addSeparator();
    m_deleteMenuItem = namedAction(file, QStringLiteral("Delete"), "deleteMenuItem",
                                   QKeySequence(Qt::CTRL | Qt::Key_Backspace));
    validator->addCommand(
        m_deleteMenuItem, [this] { return selectedNote() && !isArchived(selectedNote()); },
        [this] { deleteSelectedNote(); });
    // Restore stands in Delete's place and has no key of its own: two enabled
    // actions with one shortcut would both stay silent.
    m_restoreMenuItem = namedAction(file, QStringLiteral("Restore"), "restoreMenuItem");
    validator->addCommand(
        m_restoreMenuItem, [this] { return isArchived(selectedNote()); }, [this] { restoreSelectedNote(); });
    file->addSeparator();
    QAction* quit = namedAction(file, QStringLiteral("Quit Quillary"), "quitMenuItem",
                                QKeySequence(Qt::CTRL | Qt::Key_Q));
    validator->addCommand(quit, {}, [this] { emit quitRequested(); });
    validator->watchMenu(file, [this] {
        const bool archived = isArchived(selectedNote());
        m_deleteMenuItem->setVisible(!archived);
        m_restoreMenuItem->setVisible(archived);
    });

    // Undo and Redo stay the first two items: their titles follow the undo
    // manager each time the menu opens.
    QMenu* edit = namedMenu(bar, QStringLiteral("Edit"), "editMenu");
    QAction* undo = namedAction(edit, QStringLiteral("Undo"), "undoMenuItem", QKeySequence::Undo);
    validator->addCommand(
        undo, [this] { return m_undoManager->canUndo(); }, [this] { m_undoManager->undo(); });
    QAction* redo = namedAction(edit, QStringLiteral("Redo"), "redoMenuItem",
                                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    validator->addCommand(
        redo, [this] { return m_undoManager->canRedo(); }, [this] { m_undoManager->redo(); });
    edit->addSeparator();
    QAction* find = namedAction(edit, QStringLiteral("Find"), "findMenuItem", QKeySequence::Find);
    validator->addCommand(find, {}, [this] { toggleSearch(); });
    edit->addSeparator();
    m_calculateItem = namedAction(edit, QStringLiteral("Calculate"), "calculateMenuItem",
                                  QKeySequence(Qt::CTRL | Qt::Key_Equal));
    validator->addCommand(
        m_calculateItem, [this] { return selectionLooksLikeMath(); }, [this] { calculateSelection(); });
    validator->watchMenu(edit, [this, undo, redo] {
        undo->setText(m_undoManager->undoMenuItemTitle());
        redo->setText(m_undoManager->redoMenuItemTitle());
    });

    QMenu* view = namedMenu(bar, QStringLiteral("View"), "viewMenu");
    QAction* sidebar = namedAction(view, QStringLiteral("Hide Sidebar"), "toggleListViewMenuItem");
    validator->addCommand(
        sidebar, [this] { return m_fitsTwoPane; }, [this] { toggleListView(); });
    validator->watchMenu(view, [this, sidebar] {
        sidebar->setText(
            QVRLocalizedString(m_twoPane ? QStringLiteral("Hide Sidebar") : QStringLiteral("Show Sidebar")));
    });

    QMenu* help = namedMenu(bar, QStringLiteral("Help"), "helpMenu");
    QAction* helpItem = namedAction(help, QStringLiteral("Quillary Help"), "helpMenuItem",
                                    QKeySequence(Qt::CTRL | Qt::Key_Question));
    validator->addCommand(helpItem, {}, [this] { openHelp(); });

    validator->watchMenu(application);
    validator->watchMenu(help);
    for (QAction* action : {about, m_newNoteItem.data(), m_deleteMenuItem.data(), m_restoreMenuItem.data(),
                            quit, undo, redo, find, m_calculateItem.data(), sidebar, helpItem})
        m_window->addAction(action);

    buildGearMenu();
    connect(m_window->gearButton(), &QPushButton::pressed, this, [this] {
        QPushButton* button = m_window->gearButton();
        openGearMenu(button);
        button->setDown(false);
    });

    // The "More" button shows the selected note's menu below itself.
    connect(m_window->moreButton(), &QPushButton::pressed, this, [this] {
        QPushButton* button = m_window->moreButton();
        saveCurrentNote();
        if (QMenu* menu = contextualMenuForNote(selectedNote(), m_window)) {
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(button->mapToGlobal(QPoint(0, 21)));
        }
        button->setDown(false);
    });

    m_window->tableView()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_window->tableView(), &QWidget::customContextMenuRequested, this,
            &QuillaryAppDelegate::showListContextMenu);
    NoteTextView* editor = m_window->textView();
    editor->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(editor, &QWidget::customContextMenuRequested, this, [this, editor](const QPoint& position) {
        QMenu* menu = editorContextMenu(position);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(editor->viewport()->mapToGlobal(position));
    });
}

// The gear menu shares its actions with the menu bar, so each shortcut
// belongs to one action. "Preferences…" joins it after hideAutoMenuItem.
void QuillaryAppDelegate::buildGearMenu()
{
    QMenuBar* bar = m_window->menuBar();
    m_gearMenu = new QMenu(QVRLocalizedString(QStringLiteral("Settings")), m_window);
    m_gearMenu->setObjectName(QStringLiteral("gearMenu"));
    auto shared = [bar](const char* name) { return bar->findChild<QAction*>(QString::fromLatin1(name)); };
    m_gearMenu->addAction(shared("findMenuItem"));
    m_gearMenu->addSeparator();
    m_hideAutoMenuItem = namedAction(m_gearMenu, QStringLiteral("Hide Automatically"), "hideAutoMenuItem");
    m_hideAutoMenuItem->setCheckable(true);
    // The click has flipped the check mark already; the command stores it.
    m_menuValidator->addCommand(m_hideAutoMenuItem, {}, [this] { toggleHiding(m_hideAutoMenuItem); });
    m_gearMenu->addSeparator();
    m_gearMenu->addAction(shared("aboutMenuItem"));
    m_gearMenu->addAction(shared("helpMenuItem"));
    m_gearMenu->addSeparator();
    m_gearMenu->addAction(shared("quitMenuItem"));
    m_menuValidator->watchMenu(
        m_gearMenu, [this] { m_hideAutoMenuItem->setChecked(m_defaults->boolValue(HideAutomaticallyKey)); });
}

QMenu* QuillaryAppDelegate::gearMenu() const
{
    return m_gearMenu;
}

void QuillaryAppDelegate::openGearMenu(QWidget* sender)
{
    if (!m_gearMenu || !sender)
        return;
    if (!m_gearMenuInMenuBar) {
        m_window->menuBar()->addMenu(m_gearMenu);
        m_gearMenuInMenuBar = true;
    }
    m_hideAutoMenuItem->setChecked(m_defaults->boolValue(HideAutomaticallyKey));
    m_gearMenu->popup(sender->mapToGlobal(QPoint(0, sender->height() - 21)));
}

void QuillaryAppDelegate::toggleHiding(QAction* item)
{
    if (item)
        QVRUtilities::setBool(*m_defaults, item->isChecked(), HideAutomaticallyKey, true);
}

void QuillaryAppDelegate::openHelp()
{
    QDesktopServices::openUrl(QUrl(QVRDataStore::supportURL()));
}

void QuillaryAppDelegate::showAbout()
{
    if (!m_aboutWindowController)
        m_aboutWindowController = new QVRAboutWindowController(m_window);
    m_aboutWindowController->showWindow();
}

void QuillaryAppDelegate::newNote()
{
    m_window->openWithAnimation();
    saveCurrentNote();
    selectRow(-1);
    setSelectedNote(nullptr);
    activateDetailAndFocus(true, true);
}

void QuillaryAppDelegate::deleteSelectedNote()
{
    saveCurrentNote();
    if (!selectedNote() || isArchived(selectedNote()))
        return;
    m_window->tableView()->setFocus();
    archive(true, selectedNote(), true);
}

void QuillaryAppDelegate::restoreSelectedNote()
{
    saveCurrentNote();
    if (!isArchived(selectedNote()))
        return;
    m_window->tableView()->setFocus();
    archive(false, selectedNote(), true);
}

void QuillaryAppDelegate::toggleListView()
{
    saveCurrentNote();
    if (!m_fitsTwoPane)
        return;
    // Hiding the list leaves the editor alone in the window.
    m_wantsTwoPane = !m_wantsTwoPane;
    if (m_twoPane)
        hideSidebarWithAnimation();
    else
        showSidebarWithAnimation();
}

QMenu* QuillaryAppDelegate::contextualMenuForNote(Note* note, QWidget* parent)
{
    if (!note)
        return nullptr;
    auto* menu = new QMenu(QVRLocalizedString(QStringLiteral("More")), parent);
    menu->setObjectName(QStringLiteral("noteContextMenu"));
    // The items carry no keys here: each stands for the menu bar's command,
    // with its condition.
    auto addCommand = [this, menu](QAction* command) {
        QAction* item = menu->addAction(command->text());
        m_menuValidator->setCondition(item,
                                      [this, command] { return m_menuValidator->conditionHolds(command); });
        connect(item, &QAction::triggered, command, &QAction::trigger);
    };
    bool commands = false;
    for (const char* name : {"copyMenuItem", "exportMenuItem", "printMenuItem"}) {
        if (QAction* command = m_window->findChild<QAction*>(QString::fromLatin1(name))) {
            addCommand(command);
            commands = true;
        }
    }
    if (commands)
        menu->addSeparator();
    addCommand(isArchived(note) ? m_restoreMenuItem : m_deleteMenuItem);
    m_menuValidator->watchMenu(menu);
    return menu;
}

void QuillaryAppDelegate::showListContextMenu(const QPoint& position)
{
    QListView* list = m_window->tableView();
    QModelIndex index = list->indexAt(position);
    // Off the rows there is no menu, and the selection stays.
    if (!index.isValid())
        return;
    // A right press has picked its row already, and the editor's save before
    // it may have moved that row from under the pointer.
    if (QGuiApplication::mouseButtons() != Qt::NoButton && list->currentIndex().isValid())
        index = list->currentIndex();
    // Typing in the open note is stored before another row is selected.
    saveCurrentNote();
    Note* note = selectNoteWithIndex(quint64(index.row()), true);
    if (note && m_twoPane)
        activateDetailAndFocus(false, true);
    QMenu* menu = contextualMenuForNote(note, m_window);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(list->viewport()->mapToGlobal(position));
}

QMenu* QuillaryAppDelegate::editorContextMenu(const QPoint& position)
{
    NoteTextView* editor = m_window->textView();
    // The standard menu takes document coordinates (for its link items).
    const QPoint documentPosition =
        position + QPoint(editor->horizontalScrollBar()->value(), editor->verticalScrollBar()->value());
    QMenu* menu = editor->createStandardContextMenu(documentPosition);
    menu->setObjectName(QStringLiteral("editorContextMenu"));
    menu->addSeparator();
    menu->addAction(m_calculateItem);
    m_menuValidator->watchMenu(menu);
    return menu;
}

QVRAboutWindowController* QuillaryAppDelegate::aboutWindowController() const
{
    return m_aboutWindowController;
}

void QuillaryAppDelegate::showNoteForMenuItem(const QString& uuid)
{
    bringToFront();
    saveCurrentNote();
    // The item names its note by uuid: the save above (or a sync since the
    // menu was built) may have moved every note to another place in the list.
    Note* note = noteWithId(uuid);
    if (!note || isArchived(note) || platform::variantBoolValue(note->removed()))
        return;
    selectNote(note);
    activateDetailAndFocus(false, true);
}

// Moving to the list and away from it (the window's swipes).
void QuillaryAppDelegate::showListView()
{
    if (!m_twoPane)
        hideDetailsAndSave(true, false);
}

void QuillaryAppDelegate::hideListView()
{
    if (m_fitsTwoPane && m_twoPane) {
        m_wantsTwoPane = false;
        hideSidebarWithAnimation();
    }
}

// Dock menu (recent notes and New Note).
void QuillaryAppDelegate::populateDockMenu(QMenu* menu)
{
    if (!menu)
        return;
    menu->setTitle(QVRLocalizedString(QStringLiteral("Quillary")));
    int added = 0;
    if (QVRObjectController* controller = noteController()) {
        for (platform::ManagedObject* object : controller->objectsFiltered(false)) {
            if (added == RecentNoteCount)
                break;
            auto* note = static_cast<Note*>(object);
            QString title = note->title();
            if (title.size() > LongestWholeTitle)
                title = QVRUtilities::leftOnCharacterBoundary(title, CutTitleLength) + QChar(0x2026);
            QAction* item = menu->addAction(title);
            const QString uuid = note->uuid();
            item->setData(uuid);
            connect(item, &QAction::triggered, this, [this, uuid] { showNoteForMenuItem(uuid); });
            ++added;
        }
    }
    if (added > 0)
        menu->addSeparator();
    // The key is shown only: it belongs to the menu bar's New Note.
    QAction* newItem = menu->addAction(QVRLocalizedString(QStringLiteral("New Note")), this, [this] {
        bringToFront();
        newNote();
    });
    newItem->setShortcut(QKeySequence::New);
    newItem->setShortcutContext(Qt::WidgetShortcut);
}
