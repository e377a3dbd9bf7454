#pragma once

#include "app/commands/MenuValidator.h"

#include <QHash>
#include <QKeySequence>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <initializer_list>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

// The application's menu commands, each declared once and placed by its
// identifier in every menu that shows it.
//
// Adding a command: add one Command to the table in
// QuillaryAppDelegate::declareCommands() (app/commands/AppDelegate_Menus.cpp)
// with its identifier, title, keys, condition and handler, then write the
// identifier into the layout of each menu that shows it (buildMenus() in the
// same file; addEcho() for a context menu). Nothing else is needed: the
// registry makes the action, gives it to the window, so its keys work while
// the window shows no menu bar (menu-bar mode), and hands it to the
// MenuValidator, which saves the open note and enables the item by its
// condition as a menu opens, and re-checks the condition before the handler
// runs when the keys fire.
class CommandRegistry : public QObject
{
    Q_OBJECT

public:
    struct Command
    {
        // The action's object name, by which menus, tests and other areas
        // find it.
        QString id;
        // Untranslated; the registry localizes it.
        QString title;
        QKeySequence keys = {};
        // When the command may run; null means always.
        MenuValidator::Condition condition = {};
        std::function<void()> handler = {};
        // Runs as a menu holding the item opens, before the condition:
        // retitling, hiding, checking.
        std::function<void(QAction*)> update = {};
        bool checkable = false;
        // The command belongs to the application rather than to the main
        // window's content (Quit, Preferences): its keys work in each of our
        // windows that shareWith() was given, not only in the main window.
        bool everyWindow = false;
    };

    // The actions are children of `window`; `validator` enables them.
    CommandRegistry(MenuValidator* validator, QWidget* window);

    void declare(std::initializer_list<Command> commands);
    // A submenu that layouts can place like a command (its item is enabled
    // by `condition`).
    QMenu* declareSubmenu(const QString& id, const QString& title, MenuValidator::Condition condition = {});

    // The command's action (a submenu's item for a submenu); null for an
    // unknown identifier.
    QAction* action(const QString& id) const;
    MenuValidator* validator() const { return m_validator; }

    // Appends the commands named in `layout` to `menu` ("-" is a separator)
    // and has the menu validated as it opens.
    void fill(QMenu* menu, const QStringList& layout);
    // A new menu of `bar`, filled from `layout`.
    QMenu* addMenu(QMenuBar* bar, const QString& name, const QString& title, const QStringList& layout);
    // An item of `menu` standing for the command, without its keys (they
    // belong to the command's own action): a context menu's item. It is
    // enabled by the command's condition and triggers the command.
    QAction* addEcho(QMenu* menu, const QString& id);
    // Gives `window`, another top-level window of ours, the actions of the
    // application's own commands (everyWindow), so their keys work while it
    // is the active window. A modal alert is not given them: its keys are
    // its own.
    void shareWith(QWidget* window);

private:
    void updateItems(QMenu* menu);

    MenuValidator* m_validator;
    QPointer<QWidget> m_window;
    QHash<QString, QAction*> m_actions;
    QList<QAction*> m_everyWindow;
    QHash<QAction*, std::function<void(QAction*)>> m_updates;
};
