// The preferences window: its menu command, and the Sync pane brought up when
// the service refuses the account.
#include "app/QuillaryAppDelegate.h"
#include "app/preferences/QVRGeneralPreferencesViewController.h"
#include "app/preferences/QVRPreferencesWindowController.h"
#include "app/preferences/QVRSyncPreferencesViewController.h"
#include "app/window/NoteWindow.h"

#include "store/QVRLocalizedString.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

void QuillaryAppDelegate::buildPreferencesCommands()
{
    // "Preferences…" follows "About Quillary" in the application menu.
    QMenuBar* bar = m_window->menuBar();
    const QString aboutTitle = QVRLocalizedString(QStringLiteral("About Quillary"));
    QMenu* application = bar->findChild<QMenu*>(QStringLiteral("applicationMenu"));
    QAction* about = nullptr;
    const QList<QMenu*> menus = application ? QList<QMenu*>{application} : bar->findChildren<QMenu*>();
    for (QMenu* menu : menus) {
        for (QAction* action : menu->actions()) {
            if (action->text() == aboutTitle) {
                application = menu;
                about = action;
                break;
            }
        }
        if (about)
            break;
    }
    if (!application && !bar->actions().isEmpty())
        application = bar->actions().first()->menu();
    auto* preferences = new QAction(QVRLocalizedString(QStringLiteral("Preferences…")), this);
    preferences->setObjectName(QStringLiteral("preferencesAction"));
    preferences->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(preferences, &QAction::triggered, this, &QuillaryAppDelegate::showPreferences);
    if (application) {
        const QList<QAction*> actions = application->actions();
        const qsizetype at = about ? actions.indexOf(about) + 1 : actions.size();
        application->insertAction(at < actions.size() ? actions[at] : nullptr, preferences);
    }
    // The gear menu has it too, after "Hide Automatically".
    if (m_gearMenu && m_hideAutoMenuItem) {
        const QList<QAction*> gear = m_gearMenu->actions();
        const qsizetype at = gear.indexOf(m_hideAutoMenuItem) + 1;
        m_gearMenu->insertAction(at > 0 && at < gear.size() ? gear[at] : nullptr, preferences);
    }
    // The shortcut also works while the menu bar is hidden.
    m_window->addAction(preferences);

    m_syncSettingsErrorObserver = platform::NotificationCenter::defaultCenter().addObserver(
        QVRSyncSettingsErrorNotification, nullptr, this,
        [this](const platform::Notification&) { showPreferencesWithIdentifier(QStringLiteral("Sync")); });
}

void QuillaryAppDelegate::showPreferences()
{
    showPreferencesWithIdentifier(QString());
}

void QuillaryAppDelegate::showPreferencesWithIdentifier(const QString& identifier)
{
    if (!m_preferencesWindowController) {
        std::vector<QVRPreferencesViewController*> panes{new QVRGeneralPreferencesViewController(this)};
        if (m_syncManager)
            panes.push_back(new QVRSyncPreferencesViewController(m_syncManager));
        m_preferencesWindowController = new QVRPreferencesWindowController(panes, this);
    }
    if (!identifier.isEmpty())
        m_preferencesWindowController->selectControllerWithIdentifier(identifier);
    m_preferencesWindowController->showWindow();
}

QVRPreferencesWindowController* QuillaryAppDelegate::preferencesWindowController() const
{
    return m_preferencesWindowController;
}
