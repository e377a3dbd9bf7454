// The menu bar's first commands: new note, delete, quit, undo and redo. Qt
// checks nothing before a shortcut fires, so every command saves the open
// note and checks its own condition first.
#include "app/NoteListModel.h"
#include "app/NoteWindow.h"
#include "app/QVRAboutWindowController.h"
#include "app/QuillaryAppDelegate.h"

#include "platform/ui/UndoManager.h"
#include "store/QVRLocalizedString.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

void QuillaryAppDelegate::buildMenus()
{
    QMenuBar* bar = m_window->menuBar();
    QMenu* application = bar->addMenu(QStringLiteral("Quillary"));
    application->addAction(QVRLocalizedString(QStringLiteral("About Quillary")), this,
                           &QuillaryAppDelegate::showAbout);
    QMenu* file = bar->addMenu(QVRLocalizedString(QStringLiteral("File")));
    QAction* newNote =
        file->addAction(QVRLocalizedString(QStringLiteral("New Note")), this, &QuillaryAppDelegate::newNote);
    newNote->setShortcut(QKeySequence::New);
    QAction* deleteNote = file->addAction(QVRLocalizedString(QStringLiteral("Delete")), this,
                                          &QuillaryAppDelegate::deleteSelectedNote);
    deleteNote->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Backspace));
    file->addSeparator();
    QAction* quit = file->addAction(QVRLocalizedString(QStringLiteral("Quit Quillary")), this,
                                    &QuillaryAppDelegate::quitRequested);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(file, &QMenu::aboutToShow, this, [this, deleteNote] {
        saveCurrentNote();
        deleteNote->setEnabled(m_selectedNote != nullptr);
    });

    QMenu* edit = bar->addMenu(QVRLocalizedString(QStringLiteral("Edit")));
    QAction* find = edit->addAction(QVRLocalizedString(QStringLiteral("Find")), this, [this] {
        saveCurrentNote();
        toggleSearch();
    });
    find->setShortcut(QKeySequence::Find);
    edit->addSeparator();
    QAction* undo = edit->addAction(QVRLocalizedString(QStringLiteral("Undo")), this, [this] {
        if (m_undoManager->canUndo())
            m_undoManager->undo();
    });
    undo->setShortcut(QKeySequence::Undo);
    QAction* redo = edit->addAction(QVRLocalizedString(QStringLiteral("Redo")), this, [this] {
        if (m_undoManager->canRedo())
            m_undoManager->redo();
    });
    redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    connect(edit, &QMenu::aboutToShow, this, [this, undo, redo] {
        saveCurrentNote();
        undo->setText(m_undoManager->undoMenuItemTitle());
        undo->setEnabled(m_undoManager->canUndo());
        redo->setText(m_undoManager->redoMenuItemTitle());
        redo->setEnabled(m_undoManager->canRedo());
    });
    for (QAction* action : {newNote, deleteNote, quit, find, undo, redo})
        m_window->addAction(action);
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
    if (!m_selectedNote)
        return;
    m_window->tableView()->setFocus();
    archive(true, m_selectedNote, true);
}

QVRAboutWindowController* QuillaryAppDelegate::aboutWindowController() const
{
    return m_aboutWindowController;
}

// Dock menu (recent notes and New Note).
void QuillaryAppDelegate::populateDockMenu(QMenu* menu)
{
    menu->addAction(QVRLocalizedString(QStringLiteral("New Note")), this, [this] {
        bringToFront();
        newNote();
    });
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
