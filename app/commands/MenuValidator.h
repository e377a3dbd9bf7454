#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>

class QAction;
class QMenu;

// Enabling of menu items and the guard around their commands.
//
// Qt asks nothing before a menu shows or a shortcut fires, so the two halves
// of "validation" are done here by hand:
// - when a watched menu opens, the open note is saved, the menu's update
//   hook runs (titles, visibility), then every item of the menu that has a
//   condition is enabled or disabled by it;
// - when the menu closes, those items are enabled again, so that their
//   shortcuts keep reaching the command (a disabled action's shortcut is
//   dead until the menu opens again);
// - a command added with addCommand() saves the open note and re-checks its
//   condition before it runs, because its shortcut fired without any of this.
//
// The menu commands reach it through CommandRegistry, where a command is
// declared; watchMenu() is for menus made on the fly. Main thread only.
class MenuValidator : public QObject
{
    Q_OBJECT

public:
    using Condition = std::function<bool()>;

    // `save` stores the note being edited; it runs before every validation.
    explicit MenuValidator(std::function<void()> save, QObject* parent = nullptr);

    // Validates `menu` as it opens; `update` runs after the save and before
    // the items' conditions (the place for retitling and hiding items).
    void watchMenu(QMenu* menu, std::function<void()> update = {});
    // `action` is enabled in an opening menu only while `condition` holds.
    void setCondition(QAction* action, Condition condition);
    // The condition plus the command: a trigger saves, re-checks and only
    // then runs `command`. A null condition means always.
    void addCommand(QAction* action, Condition condition, std::function<void()> command);

    // Saves, then answers whether the action's condition holds (true for an
    // action without one).
    bool validate(QAction* action);
    // The condition alone, without the save.
    bool conditionHolds(QAction* action) const;
    // What opening `menu` does, callable directly (tests, menus shown by code).
    void menuNeedsUpdate(QMenu* menu);

private:
    void menuDidClose(QMenu* menu);

    std::function<void()> m_save;
    QHash<QAction*, Condition> m_conditions;
    QHash<QMenu*, std::function<void()>> m_updates;
};
