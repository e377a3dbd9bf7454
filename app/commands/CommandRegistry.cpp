#include "app/commands/CommandRegistry.h"

#include "platform/core/Log.h"
#include "store/QVRLocalizedString.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

CommandRegistry::CommandRegistry(MenuValidator* validator, QWidget* window)
    : QObject(window), m_validator(validator), m_window(window)
{
}

void CommandRegistry::declare(std::initializer_list<Command> commands)
{
    for (const Command& command : commands) {
        auto* action = new QAction(QVRLocalizedString(command.title), m_window);
        action->setObjectName(command.id);
        action->setShortcut(command.keys);
        action->setCheckable(command.checkable);
        // The window's own action: its keys work wherever the window has the
        // focus, with or without a menu bar.
        m_window->addAction(action);
        m_validator->addCommand(action, command.condition, command.handler);
        if (command.update)
            m_updates.insert(action, command.update);
        if (command.everyWindow)
            m_everyWindow.append(action);
        m_actions.insert(command.id, action);
    }
}

QMenu* CommandRegistry::declareSubmenu(const QString& id, const QString& title,
                                       MenuValidator::Condition condition)
{
    auto* menu = new QMenu(QVRLocalizedString(title), m_window);
    menu->setObjectName(id);
    m_validator->setCondition(menu->menuAction(), std::move(condition));
    m_actions.insert(id, menu->menuAction());
    return menu;
}

QAction* CommandRegistry::action(const QString& id) const
{
    return m_actions.value(id);
}

void CommandRegistry::fill(QMenu* menu, const QStringList& layout)
{
    for (const QString& id : layout) {
        if (id == QLatin1String("-"))
            menu->addSeparator();
        else if (QAction* command = action(id))
            menu->addAction(command);
        else
            platform::log(QStringLiteral("No command %1 for menu %2").arg(id, menu->objectName()));
    }
    m_validator->watchMenu(menu, [this, menu] { updateItems(menu); });
}

QMenu* CommandRegistry::addMenu(QMenuBar* bar, const QString& name, const QString& title,
                                const QStringList& layout)
{
    QMenu* menu = bar->addMenu(QVRLocalizedString(title));
    menu->setObjectName(name);
    fill(menu, layout);
    return menu;
}

QAction* CommandRegistry::addEcho(QMenu* menu, const QString& id)
{
    QAction* command = action(id);
    if (!command)
        return nullptr;
    QAction* item = menu->addAction(command->text());
    m_validator->setCondition(item, [this, command] { return m_validator->conditionHolds(command); });
    connect(item, &QAction::triggered, command, &QAction::trigger);
    return item;
}

void CommandRegistry::shareWith(QWidget* window)
{
    // A window-scoped key of an action held by several windows fires in
    // whichever of them is active; an application-wide one would also fire
    // from a dialog that is modal over another window of ours.
    if (window)
        window->addActions(m_everyWindow);
}

void CommandRegistry::updateItems(QMenu* menu)
{
    for (QAction* item : menu->actions()) {
        if (const auto update = m_updates.value(item))
            update(item);
    }
}
