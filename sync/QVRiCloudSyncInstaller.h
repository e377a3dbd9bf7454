#pragma once

#include "sync/QVRSyncManager.h"
#include "sync/QVRiCloudSync.h"

#include <memory>

// Joins the cloud-folder half to the sync manager: the manager reaches it as
// its QVRSyncManageriCloud, and the half reaches the manager as its host.
class QVRiCloudSyncInstaller : public QVRSyncManageriCloud, public QVRiCloudSyncHost
{
public:
    // Makes the half and hands it to `manager`, which owns it from then on.
    static QVRiCloudSyncInstaller* install(QVRSyncManager* manager);

    explicit QVRiCloudSyncInstaller(QVRSyncManager* manager);
    ~QVRiCloudSyncInstaller() override;

    QVRiCloudSync* cloud() const { return m_cloud.get(); }

    // QVRSyncManageriCloud
    void start() override { m_cloud->start(); }
    void stop() override { m_cloud->stop(); }
    bool iCloudAvailable() const override { return m_cloud->iCloudAvailable(); }
    void enableiCloud() override { m_cloud->enableiCloud(); }
    void disableiCloud() override { m_cloud->disableiCloud(); }
    void restartMetadataQuery() override { m_cloud->restartMetadataQuery(); }
    void stopMetadataQuery() override { m_cloud->stopMetadataQuery(); }
    void saveObjectToiCloud(const QString& uuid) override { m_cloud->saveObjectToiCloud(uuid); }
    bool addingToOperationQueue() const override { return m_cloud->addingToOperationQueue(); }
    void syncTypeChosen(const QString& type) override;

    // QVRiCloudSyncHost
    QVRSyncStep step() const override { return m_manager->step(); }
    void setStep(QVRSyncStep step) override { m_manager->setStep(step); }
    void setStepWait() override { m_manager->setStepWait(); }
    bool active() const override { return m_manager->active(); }
    bool iCloudEnabled() const override { return m_manager->iCloudEnabled(); }
    void setICloudEnabled(bool enabled) override { m_manager->setICloudEnabled(enabled); }
    bool quorvaneEnabled() const override { return m_manager->quorvaneEnabled(); }
    QString quorvaneEmail() const override { return m_manager->quorvaneEmail(); }
    bool promptForQuorvane() override { return m_manager->promptForQuorvane(); }
    bool firstRun() const override { return m_manager->firstRun(); }
    bool started() const override { return m_manager->started(); }
    void setStarted(bool started) override { m_manager->setStarted(started); }
    bool ready() const override { return m_manager->ready(); }
    void setReady(bool ready) override { m_manager->setReady(ready); }
    bool forceUpdate() const override { return m_manager->forceUpdate(); }
    void setForceUpdate(bool forceUpdate) override { m_manager->setForceUpdate(forceUpdate); }
    QVRApplicationState applicationState() const override { return m_manager->applicationState(); }
    double historyDate() override { return m_manager->historyDate(); }
    void registerWithNotificationCenter() override { m_manager->registerWithNotificationCenter(); }
    void sync() override { m_manager->sync(); }
    QVRDataStore* dataStore() const override { return m_manager->dataStore(); }
    platform::OperationQueue* operationQueueWithCount(int count) override
    {
        return m_manager->operationQueueWithCount(count);
    }
    platform::OperationQueue* operationQueue() const override { return m_manager->operationQueue(); }
    std::vector<QVRNoteAttributes> allObjects() override { return m_manager->allObjects(); }
    void saveObjectWithAttributes(const QVRNoteAttributes& attributes) override;
    bool promptWithTitle(const QString& title, const QString& message, const QString& accept,
                         const QString& cancel, std::function<void(bool)> handler) override;
    void ubiquitousKeyUpdated(const QString& key, const QVariant& value) override;
    void performAfterDelay(const QString& name, std::function<void()> fn, double seconds) override
    {
        m_manager->performAfterDelay(name, std::move(fn), seconds);
    }
    void cancelPerform(const QString& name) override { m_manager->cancelPerform(name); }

private:
    QVRSyncManager* m_manager; // owns this
    std::unique_ptr<QVRiCloudSync> m_cloud;
};
