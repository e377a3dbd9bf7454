#include "sync/QVRiCloudSyncInstaller.h"

#include "platform/cloud/UbiquitousKeyValueStore.h"
#include "store/QVRDefaultsKeys.h"

QVRiCloudSyncInstaller* QVRiCloudSyncInstaller::install(QVRSyncManager* manager)
{
    auto installer = std::make_unique<QVRiCloudSyncInstaller>(manager);
    QVRiCloudSyncInstaller* raw = installer.get();
    manager->setICloud(std::move(installer));
    return raw;
}

QVRiCloudSyncInstaller::QVRiCloudSyncInstaller(QVRSyncManager* manager)
    : m_manager(manager), m_cloud(std::make_unique<QVRiCloudSync>(this))
{
}

QVRiCloudSyncInstaller::~QVRiCloudSyncInstaller() = default;

void QVRiCloudSyncInstaller::syncTypeChosen(const QString& type)
{
    m_cloud->keyValueStore()->set(QVRDefaultsKeys::SyncType, type);
}

void QVRiCloudSyncInstaller::saveObjectWithAttributes(const QVRNoteAttributes& attributes)
{
    if (QVRSyncManagerDelegate* delegate = m_manager->delegate())
        delegate->saveObjectWithAttributes(attributes, false);
}

bool QVRiCloudSyncInstaller::promptWithTitle(const QString& title, const QString& message,
                                             const QString& accept, const QString& cancel,
                                             std::function<void(bool)> handler)
{
    QVRSyncInterfaceDelegate* delegate = m_manager->interfaceDelegate();
    if (!delegate)
        return false;
    delegate->shouldPromptWithTitle(title, message, accept, cancel, std::move(handler));
    return true;
}

void QVRiCloudSyncInstaller::ubiquitousKeyUpdated(const QString& key, const QVariant& value)
{
    if (QVRSyncManagerDelegate* delegate = m_manager->delegate())
        delegate->ubiquitousKeyUpdated(key, value);
}
