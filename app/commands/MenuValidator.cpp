#include "app/commands/MenuValidator.h"

#include <QAction>
#include <QMenu>

MenuValidator::MenuValidator(std::function<void()> save, QObject* parent)
    : QObject(parent), m_save(std::move(save))
{
}

void MenuValidator::watchMenu(QMenu* menu, std::function<void()> update)
{
    if (!menu || m_updates.contains(menu))
        return;
    m_updates.insert(menu, std::move(update));
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { menuNeedsUpdate(menu); });
    connect(menu, &QMenu::aboutToHide, this, [this, menu] { menuDidClose(menu); });
    connect(menu, &QObject::destroyed, this, [this, menu] { m_updates.remove(menu); });
}

void MenuValidator::setCondition(QAction* action, Condition condition)
{
    if (!action)
        return;
    if (!m_conditions.contains(action))
        connect(action, &QObject::destroyed, this, [this, action] { m_conditions.remove(action); });
    m_conditions.insert(action, std::move(condition));
}

void MenuValidator::addCommand(QAction* action, Condition condition, std::function<void()> command)
{
    if (!action)
        return;
    setCondition(action, std::move(condition));
    connect(action, &QAction::triggered, this, [this, action, command = std::move(command)] {
        if (validate(action) && command)
            command();
    });
}

bool MenuValidator::conditionHolds(QAction* action) const
{
    const Condition condition = m_conditions.value(action);
    return !condition || condition();
}

bool MenuValidator::validate(QAction* action)
{
    if (m_save)
        m_save();
    return conditionHolds(action);
}

void MenuValidator::menuNeedsUpdate(QMenu* menu)
{
    if (m_save)
        m_save();
    if (const auto update = m_updates.value(menu))
        update();
    for (QAction* action : menu->actions()) {
        if (m_conditions.contains(action))
            action->setEnabled(conditionHolds(action));
    }
}

void MenuValidator::menuDidClose(QMenu* menu)
{
    // The shortcuts of the items are live again; each command checks its own
    // condition when it runs.
    for (QAction* action : menu->actions()) {
        if (m_conditions.contains(action)) {
            action->setEnabled(true);
            action->setVisible(true);
        }
    }
}
