#pragma once

#include "sync/QVRSyncManager.h"
#include "sync/QVRiCloudSync.h"

#include <memory>

// Joins the cloud-folder half to the sync manager: the manager reaches it as
// its QVRSyncManageriCloud, and the half reaches the manager as its host.
class QVRiCloudSyncInstaller : public QVRSyncManageriCloud, public QVRiCloudSyncHost {
public:
    // Makes the half and hands it to `manager`, which owns it from then on.
    static QVRiCloudSyncInstaller* install(QVRSyncManager* manager);

    explicit QVRiCloudSyncInstaller(QVRSyncManager* manager);
    ~QVRiCloudSyncInstaller() override;

    QVRiCloudSync* cloud() const { return cloud_.get(); }

    // QVRSyncManageriCloud
    void start() override { cloud_->start(); }
    void stop() override { cloud_->stop(); }
    bool iCloudAvailable() const override { return cloud_->iCloudAvailable(); }
    void enableiCloud() override { cloud_->enableiCloud(); }
    void disableiCloud() override { cloud_->disableiCloud(); }
    void restartMetadataQuery() override { cloud_->restartMetadataQuery(); }
    void stopMetadataQuery() override { cloud_->stopMetadataQuery(); }
    void saveObjectToiCloud(const QString& uuid) override { cloud_->saveObjectToiCloud(uuid); }
    bool addingToOperationQueue() const override { return cloud_->addingToOperationQueue(); }
    void syncTypeChosen(const QString& type) override;

    // QVRiCloudSyncHost
    unsigned step() const override { return manager_->step(); }
    void setStep(unsigned step) override { manager_->setStep(step); }
    void setStepWait() override { manager_->setStepWait(); }
    bool active() const override { return manager_->active(); }
    bool iCloudEnabled() const override { return manager_->iCloudEnabled(); }
    void setICloudEnabled(bool enabled) override { manager_->setICloudEnabled(enabled); }
    bool quorvaneEnabled() const override { return manager_->quorvaneEnabled(); }
    QString quorvaneEmail() const override { return manager_->quorvaneEmail(); }
    bool promptForQuorvane() override { return manager_->promptForQuorvane(); }
    bool firstRun() const override { return manager_->firstRun(); }
    bool started() const override { return manager_->started(); }
    void setStarted(bool started) override { manager_->setStarted(started); }
    bool ready() const override { return manager_->ready(); }
    void setReady(bool ready) override { manager_->setReady(ready); }
    bool forceUpdate() const override { return manager_->forceUpdate(); }
    void setForceUpdate(bool forceUpdate) override { manager_->setForceUpdate(forceUpdate); }
    int applicationState() const override { return manager_->applicationState(); }
    double historyDate() override { return manager_->historyDate(); }
    void registerWithNotificationCenter() override { manager_->registerWithNotificationCenter(); }
    void sync() override { manager_->sync(); }
    QVRDataStore* dataStore() const override { return manager_->dataStore(); }
    platform::OperationQueue* operationQueueWithCount(int count) override { return manager_->operationQueueWithCount(count); }
    platform::OperationQueue* operationQueue() const override { return manager_->operationQueue(); }
    std::vector<QVRNoteAttributes> allObjects() override { return manager_->allObjects(); }
    void saveObjectWithAttributes(const QVRNoteAttributes& attributes) override;
    bool promptWithTitle(const QString& title, const QString& message, const QString& accept, const QString& cancel,
                         std::function<void(bool)> handler) override;
    void ubiquitousKeyUpdated(const QString& key, const QVariant& value) override;
    void performAfterDelay(const QString& name, std::function<void()> fn, double seconds) override
    {
        manager_->performAfterDelay(name, std::move(fn), seconds);
    }
    void cancelPerform(const QString& name) override { manager_->cancelPerform(name); }

private:
    QVRSyncManager* manager_; // owns this
    std::unique_ptr<QVRiCloudSync> cloud_;
};
