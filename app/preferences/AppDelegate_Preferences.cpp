// The preferences window (its menu command is declared with the others), and
// the Sync pane brought up when the service refuses the account.
#include "app/QuillaryAppDelegate.h"
#include "app/commands/CommandRegistry.h"
#include "app/preferences/QVRGeneralPreferencesViewController.h"
#include "app/preferences/QVRPreferencesWindowController.h"
#include "app/preferences/QVRSyncPreferencesViewController.h"
#include "app/window/NoteWindow.h"

#include "store/QVRLocalizedString.h"

void QuillaryAppDelegate::buildPreferencesCommands()
{
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
        m_commands->shareWith(m_preferencesWindowController->window());
    }
    if (!identifier.isEmpty())
        m_preferencesWindowController->selectControllerWithIdentifier(identifier);
    m_preferencesWindowController->showWindow();
}

QVRPreferencesWindowController* QuillaryAppDelegate::preferencesWindowController() const
{
    return m_preferencesWindowController;
}
