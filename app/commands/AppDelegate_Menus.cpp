// The application's commands and the menus that show them: the menu bar, the
// gear, list and editor context menus and the recent-notes menu, and the small
// commands behind them. Each command is declared once in declareCommands()
// and placed by identifier (see CommandRegistry for how to add one).
#include "app/QuillaryAppDelegate.h"
#include "app/commands/CommandRegistry.h"
#include "app/list/NoteListModel.h"
#include "app/window/NoteWindow.h"
#include "app/window/QVRAboutWindowController.h"

#include "platform/core/UserDefaults.h"
#include "platform/core/Variant.h"
#include "platform/ui/UndoManager.h"
#include "store/Note.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRObjectController.h"
#include "store/QVRUtilities.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTextEdit>
#include <QUrl>

namespace {

// Recent-notes items: at most this many, and titles of 41 units or more are
// cut to 39 and an ellipsis.
constexpr int RecentNoteCount = 10;
constexpr int LongestWholeTitle = 40;
constexpr int CutTitleLength = 39;

bool isArchived(const Note* note)
{
    return note && platform::variantBoolValue(note->archived());
}

// A text field with the focus copies its own selection; true when one did.
bool copyFocusedSelection()
{
    QWidget* focus = QApplication::focusWidget();
    if (auto* text = qobject_cast<QTextEdit*>(focus); text && text->textCursor().hasSelection()) {
        text->copy();
        return true;
    }
    if (auto* text = qobject_cast<QPlainTextEdit*>(focus); text && text->textCursor().hasSelection()) {
        text->copy();
        return true;
    }
    if (auto* line = qobject_cast<QLineEdit*>(focus); line && line->hasSelectedText()) {
        line->copy();
        return true;
    }
    return false;
}

} // namespace

// Every command of the menus, once. Restore stands in Delete's place and has
// no key of its own: two enabled actions with one key would both stay silent.
void QuillaryAppDelegate::declareCommands()
{
    auto noteHasTextNow = [this] { return noteHasText(selectedNote()); };
    m_commands->declare({
        {.id = QStringLiteral("aboutMenuItem"),
         .title = QStringLiteral("About Quillary"),
         .handler = [this] { showAbout(); }},
        {.id = QStringLiteral("preferencesAction"),
         .title = QStringLiteral("Preferences…"),
         .keys = QKeySequence(Qt::CTRL | Qt::Key_Comma),
         .handler = [this] { showPreferences(); },
         .everyWindow = true},
        {.id = QStringLiteral("newNoteMenuItem"),
         .title = QStringLiteral("New Note"),
         .keys = QKeySequence::New,
         .handler = [this] { newNote(); },
         .everyWindow = true},
        {.id = QStringLiteral("openAction"),
         .title = QStringLiteral("Open\u2026"),
         .keys = QKeySequence::Open,
         .handler = [this] { promptForOpenFiles(); }},
        {.id = QStringLiteral("deleteMenuItem"),
         .title = QStringLiteral("Delete"),
         .keys = QKeySequence(Qt::CTRL | Qt::Key_Backspace),
         .condition = [this] { return selectedNote() && !isArchived(selectedNote()); },
         .handler = [this] { deleteSelectedNote(); },
         .update = [this](QAction* item) { item->setVisible(!isArchived(selectedNote())); }},
        {.id = QStringLiteral("restoreMenuItem"),
         .title = QStringLiteral("Restore"),
         .condition = [this] { return isArchived(selectedNote()); },
         .handler = [this] { restoreSelectedNote(); },
         .update = [this](QAction* item) { item->setVisible(isArchived(selectedNote())); }},
        {.id = QStringLiteral("exportMenuItem"),
         .title = QStringLiteral("Export\u2026"),
         .keys = QKeySequence(Qt::CTRL | Qt::Key_E),
         .condition = noteHasTextNow,
         .handler = [this] { exportSelectedNote(); }},
        {.id = QStringLiteral("exportAllAction"),
         .title = QStringLiteral("Export All\u2026"),
         .keys = QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E),
         .condition = [this] { return noteCount() > 0; },
         .handler = [this] { exportAllNotes(); }},
        {.id = QStringLiteral("pageSetupAction"),
         .title = QStringLiteral("Page Setup\u2026"),
         .keys = QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P),
         .handler = [this] { showPageSetup(); }},
        {.id = QStringLiteral("printMenuItem"),
         .title = QStringLiteral("Print\u2026"),
         .keys = QKeySequence::Print,
         .condition = noteHasTextNow,
         .handler = [this] { print(); }},
        {.id = QStringLiteral("quitMenuItem"),
         .title = QStringLiteral("Quit Quillary"),
         .keys = QKeySequence(Qt::CTRL | Qt::Key_Q),
         .handler = [this] { emit quitRequested(); },
         .everyWindow = true},
        // Undo and Redo are titled after what they would undo.
        {.id = QStringLiteral("undoMenuItem"),
         .title = QStringLiteral("Undo"),
         .keys = QKeySequence::Undo,
         .condition = [this] { return m_undoManager->canUndo(); },
         .handler = [this] { m_undoManager->undo(); },
         .update = [this](QAction* item) { item->setText(m_undoManager->undoMenuItemTitle()); }},
        {.id = QStringLiteral("redoMenuItem"),
         .title = QStringLiteral("Redo"),
         .keys = QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
         .condition = [this] { return m_undoManager->canRedo(); },
         .handler = [this] { m_undoManager->redo(); },
         .update = [this](QAction* item) { item->setText(m_undoManager->redoMenuItemTitle()); }},
        {.id = QStringLiteral("findMenuItem"),
         .title = QStringLiteral("Find"),
         .keys = QKeySequence::Find,
         .handler = [this] { toggleSearch(); }},
        {.id = QStringLiteral("calculateMenuItem"),
         .title = QStringLiteral("Calculate"),
         .keys = QKeySequence(Qt::CTRL | Qt::Key_Equal),
         .condition = [this] { return selectionLooksLikeMath(); },
         .handler = [this] { calculateSelection(); }},
        // Copy: a text field's own selection, else the selected note whole.
        {.id = QStringLiteral("copyMenuItem"),
         .title = QStringLiteral("Copy"),
         .keys = QKeySequence::Copy,
         .handler =
             [this] {
                 if (!copyFocusedSelection())
                     copy();
             }},
        {.id = QStringLiteral("toggleListViewMenuItem"),
         .title = QStringLiteral("Hide Sidebar"),
         .condition = [this] { return m_fitsTwoPane; },
         .handler = [this] { toggleListView(); },
         .update =
             [this](QAction* item) {
                 item->setText(QVRLocalizedString(m_twoPane ? QStringLiteral("Hide Sidebar")
                                                            : QStringLiteral("Show Sidebar")));
             }},
        // Dock mode only: the window of menu-bar mode opens from the tray as
        // a menu does, and entering that mode leaves full screen.
        {.id = QStringLiteral("toggleFullScreenMenuItem"),
         .title = QStringLiteral("Enter Full Screen"),
         .keys = QKeySequence(Qt::Key_F11),
         .condition = [this] { return !m_window->menuBarMode(); },
         .handler = [this] { m_window->setFullScreen(!m_window->isFullScreen()); },
         .update =
             [this](QAction* item) {
                 item->setVisible(!m_window->menuBarMode());
                 item->setText(QVRLocalizedString(m_window->isFullScreen()
                                                      ? QStringLiteral("Exit Full Screen")
                                                      : QStringLiteral("Enter Full Screen")));
             }},
        {.id = QStringLiteral("helpMenuItem"),
         .title = QStringLiteral("Quillary Help"),
         .keys = QKeySequence(Qt::CTRL | Qt::Key_Question),
         .handler = [] { QDesktopServices::openUrl(QUrl(QVRDataStore::supportURL())); },
         .everyWindow = true},
        // The click has flipped the check mark already; the command stores it.
        {.id = QStringLiteral("hideAutoMenuItem"),
         .title = QStringLiteral("Hide Automatically"),
         .handler =
             [this] {
                 QVRDefaultsKeys::set(*m_defaults, QVRDefaultsKeys::HideAutomatically,
                                      m_commands->action(QStringLiteral("hideAutoMenuItem"))->isChecked(),
                                      true);
             },
         .update =
             [this](QAction* item) {
                 item->setChecked(QVRDefaultsKeys::value(*m_defaults, QVRDefaultsKeys::HideAutomatically));
             },
         .checkable = true},
    });
    // Sharing needs xdg-email; the Share menu and the note's menu hold one
    // item per way of sharing.
    auto canShare = [this] {
        return noteHasText(selectedNote()) &&
               !QStandardPaths::findExecutable(QStringLiteral("xdg-email")).isEmpty();
    };
    m_commands->declare({
        {.id = QStringLiteral("emailMenuItem"),
         .title = QStringLiteral("Email"),
         .condition = canShare,
         .handler = [this] { share(EmailService); }},
        {.id = QStringLiteral("emailAttachmentMenuItem"),
         .title = QStringLiteral("Email as Attachment"),
         .condition = canShare,
         .handler = [this] { share(AttachmentService); }},
    });
    QMenu* share = m_commands->declareSubmenu(QStringLiteral("shareMenu"), QStringLiteral("Share"), canShare);
    connect(share, &QMenu::aboutToShow, this, [this, share] { refillShareMenu(share); });
}

void QuillaryAppDelegate::buildMenus()
{
    m_commands = new CommandRegistry(new MenuValidator([this] { saveCurrentNote(); }, this), m_window);
    declareCommands();

    QMenuBar* bar = m_window->menuBar();
    m_commands->addMenu(bar, QStringLiteral("applicationMenu"), QStringLiteral("Quillary"),
                        {"aboutMenuItem", "preferencesAction"});
    m_commands->addMenu(bar, QStringLiteral("fileMenu"), QStringLiteral("File"),
                        {"newNoteMenuItem", "openAction", "-", "deleteMenuItem", "restoreMenuItem", "-",
                         "exportMenuItem", "exportAllAction", "shareMenu", "-", "pageSetupAction",
                         "printMenuItem", "-", "quitMenuItem"});
    m_commands->addMenu(
        bar, QStringLiteral("editMenu"), QStringLiteral("Edit"),
        {"undoMenuItem", "redoMenuItem", "-", "findMenuItem", "-", "calculateMenuItem", "-", "copyMenuItem"});
    m_commands->addMenu(bar, QStringLiteral("viewMenu"), QStringLiteral("View"),
                        {"toggleListViewMenuItem", "-", "toggleFullScreenMenuItem"});
    m_commands->addMenu(bar, QStringLiteral("helpMenu"), QStringLiteral("Help"), {"helpMenuItem"});
    // The gear shares the bar's actions, so each key belongs to one action.
    m_gearMenu = new QMenu(QVRLocalizedString(QStringLiteral("Settings")), m_window);
    m_gearMenu->setObjectName(QStringLiteral("gearMenu"));
    m_commands->fill(m_gearMenu, {"findMenuItem", "-", "hideAutoMenuItem", "preferencesAction", "-",
                                  "aboutMenuItem", "helpMenuItem", "-", "quitMenuItem"});

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

void QuillaryAppDelegate::installCommands()
{
    installDropTarget();
}

// Made afresh each time the menu opens; items others put there stay.
void QuillaryAppDelegate::refillShareMenu(QMenu* menu)
{
    saveCurrentNote();
    for (QAction* action : menu->actions()) {
        if (action->property("quillaryShareItem").toBool()) {
            menu->removeAction(action);
            action->deleteLater();
        }
    }
    const bool hasText = noteHasText(selectedNote());
    for (QAction* item : sharingMenuItemsForNote(selectedNote(), menu)) {
        item->setProperty("quillaryShareItem", true);
        item->setEnabled(hasText);
    }
}

CommandRegistry* QuillaryAppDelegate::commands() const
{
    return m_commands;
}

MenuValidator* QuillaryAppDelegate::menuValidator() const
{
    return m_commands ? m_commands->validator() : nullptr;
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
    m_gearMenu->popup(sender->mapToGlobal(QPoint(0, sender->height() - 21)));
}

void QuillaryAppDelegate::showAbout()
{
    if (!m_aboutWindowController) {
        m_aboutWindowController = new QVRAboutWindowController(m_window);
        m_commands->shareWith(m_aboutWindowController);
    }
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
    for (const char* id : {"copyMenuItem", "exportMenuItem", "printMenuItem"})
        m_commands->addEcho(menu, QString::fromLatin1(id));
    menu->addSeparator();
    m_commands->addEcho(menu, isArchived(note) ? QStringLiteral("restoreMenuItem")
                                               : QStringLiteral("deleteMenuItem"));
    if (const QList<QAction*> sharing = sharingMenuItemsForNote(note, menu); !sharing.isEmpty())
        menu->insertSeparator(sharing.first());
    menuValidator()->watchMenu(menu);
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
    QMenu* menu = editor->createContextMenu(position);
    menu->setObjectName(QStringLiteral("editorContextMenu"));
    menu->addSeparator();
    m_commands->fill(menu, {"calculateMenuItem"});
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
    // New Note's title and key, the key shown only (it belongs to the
    // command). The window comes to the front first, where the tray puts it.
    const QAction* command = m_commands->action(QStringLiteral("newNoteMenuItem"));
    QAction* newItem = menu->addAction(command->text(), this, [this] {
        bringToFront();
        newNote();
    });
    newItem->setShortcut(command->shortcut());
    newItem->setShortcutContext(Qt::WidgetShortcut);
}
