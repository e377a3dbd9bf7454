// The menu items of the outside commands: Open, Export, Export All, Page
// Setup, Print, Copy and Share. They go into the menu bar's existing menus,
// found by object name (or else by title), each enabled as its menu opens
// and re-checked in its command, since a shortcut fires unchecked.
#include "app/QuillaryAppDelegate.h"
#include "app/commands/MenuValidator.h"
#include "app/window/NoteWindow.h"

#include "store/QVRLocalizedString.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStandardPaths>
#include <QTextEdit>

namespace {

QMenu* findMenu(QMenuBar* bar, const QString& objectName, const QString& title)
{
    if (auto* menu = bar->findChild<QMenu*>(objectName))
        return menu;
    for (QAction* action : bar->actions()) {
        if (action->menu() && action->menu()->title().remove(QLatin1Char('&')) == title)
            return action->menu();
    }
    return nullptr;
}

QAction* actionWithShortcut(QMenu* menu, const QKeySequence& shortcut)
{
    for (QAction* action : menu->actions()) {
        if (action->shortcut() == shortcut)
            return action;
    }
    return nullptr;
}

// The action that follows `action` in `menu`, or null at the end.
QAction* actionAfter(QMenu* menu, QAction* action)
{
    const QList<QAction*> actions = menu->actions();
    const qsizetype index = actions.indexOf(action);
    return index >= 0 && index + 1 < actions.size() ? actions.at(index + 1) : nullptr;
}

} // namespace

void QuillaryAppDelegate::installCommands()
{
    installCommandMenus();
    installDropTarget();
}

void QuillaryAppDelegate::installCommandMenus()
{
    QMenuBar* bar = m_window ? m_window->menuBar() : nullptr;
    if (!bar)
        return;
    QMenu* file = findMenu(bar, QStringLiteral("fileMenu"), QVRLocalizedString(QStringLiteral("File")));
    QMenu* edit = findMenu(bar, QStringLiteral("editMenu"), QVRLocalizedString(QStringLiteral("Edit")));
    QMenu* shareMenu =
        findMenu(bar, QStringLiteral("shareMenu"), QVRLocalizedString(QStringLiteral("Share")));
    if (!file)
        file = bar->addMenu(QVRLocalizedString(QStringLiteral("File")));

    auto make = [this](const QString& title, const QString& name, const QKeySequence& shortcut, auto slot) {
        auto* action = new QAction(QVRLocalizedString(title), m_window);
        action->setObjectName(name);
        action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, slot);
        m_window->addAction(action);
        return action;
    };
    QAction* open = make(QStringLiteral("Open\u2026"), QStringLiteral("openAction"), QKeySequence::Open,
                         [this] { promptForOpenFiles(); });
    QAction* exportNote = make(QStringLiteral("Export\u2026"), QStringLiteral("exportMenuItem"),
                               QKeySequence(Qt::CTRL | Qt::Key_E), [this] { exportSelectedNote(); });
    QAction* exportAll = make(QStringLiteral("Export All\u2026"), QStringLiteral("exportAllAction"),
                              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), [this] { exportAllNotes(); });
    QAction* pageSetup = make(QStringLiteral("Page Setup\u2026"), QStringLiteral("pageSetupAction"),
                              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P), [this] { showPageSetup(); });
    QAction* printNote = make(QStringLiteral("Print\u2026"), QStringLiteral("printMenuItem"),
                              QKeySequence::Print, [this] { print(); });

    // Open after New; export and printing in a group of their own before the
    // group that ends the menu (Quit), or at the end.
    QAction* newNote = actionWithShortcut(file, QKeySequence::New);
    file->insertAction(newNote ? actionAfter(file, newNote)
                               : (file->actions().isEmpty() ? nullptr : file->actions().first()),
                       open);
    QAction* quit = actionWithShortcut(file, QKeySequence(Qt::CTRL | Qt::Key_Q));
    QAction* before = quit;
    if (quit) {
        const QList<QAction*> actions = file->actions();
        const qsizetype index = actions.indexOf(quit);
        if (index > 0 && actions.at(index - 1)->isSeparator())
            before = actions.at(index - 1);
    }
    file->insertSeparator(before);
    file->insertActions(before, {exportNote, exportAll});
    QAction* ownShareMenu = nullptr;
    if (!shareMenu) {
        shareMenu = new QMenu(QVRLocalizedString(QStringLiteral("Share")), file);
        shareMenu->setObjectName(QStringLiteral("shareMenu"));
        ownShareMenu = file->insertMenu(before, shareMenu);
    }
    file->insertSeparator(before);
    file->insertActions(before, {pageSetup, printNote});
    // Enabled by the menu validator as the File menu opens (and enabled again
    // as it closes, so the shortcuts keep working); each command re-checks.
    MenuValidator* validator = menuValidator();
    auto noteHasTextNow = [this] { return noteHasText(selectedNote()); };
    validator->setCondition(exportNote, noteHasTextNow);
    validator->setCondition(printNote, noteHasTextNow);
    validator->setCondition(exportAll, [this] { return noteCount() > 0; });
    // Without xdg-email there is no way to share.
    if (ownShareMenu)
        validator->setCondition(ownShareMenu, [this] {
            return noteHasText(selectedNote()) &&
                   !QStandardPaths::findExecutable(QStringLiteral("xdg-email")).isEmpty();
        });

    // The Share menu holds one item per way of sharing, made afresh each time
    // it opens; items others put there stay.
    connect(shareMenu, &QMenu::aboutToShow, this, [this, shareMenu] {
        saveCurrentNote();
        for (QAction* action : shareMenu->actions()) {
            if (action->property("quillaryShareItem").toBool()) {
                shareMenu->removeAction(action);
                action->deleteLater();
            }
        }
        const bool hasText = noteHasText(selectedNote());
        for (QAction* item : sharingMenuItemsForNote(selectedNote(), shareMenu)) {
            item->setProperty("quillaryShareItem", true);
            item->setEnabled(hasText);
            shareMenu->addAction(item);
        }
    });

    // Copy: a text field with the focus copies its own selection; otherwise
    // the selected note is copied whole.
    if (edit && !actionWithShortcut(edit, QKeySequence::Copy)) {
        QAction* copyNote =
            make(QStringLiteral("Copy"), QStringLiteral("copyMenuItem"), QKeySequence::Copy, [this] {
                QWidget* focus = QApplication::focusWidget();
                if (auto* text = qobject_cast<QTextEdit*>(focus); text && text->textCursor().hasSelection())
                    text->copy();
                else if (auto* line = qobject_cast<QLineEdit*>(focus); line && line->hasSelectedText())
                    line->copy();
                else
                    copy();
            });
        edit->addSeparator();
        edit->addAction(copyNote);
    }
}
