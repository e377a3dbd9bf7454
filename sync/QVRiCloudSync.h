#pragma once

#include "store/QVRNoteAttributes.h"
#include "sync/QVRSyncStep.h"

#include "platform/core/NotificationCenter.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QVariant>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QVRDataStore;
class QVRSyncInOperationDelegate;

namespace platform {
class MetadataQuery;
class OperationQueue;
class UbiquitousKeyValueStore;
struct Notification;
} // namespace platform

// What the cloud-folder half of the sync manager needs from the manager
// core: its steps, flags, queue, store and delegates. QVRSyncManager
// implements it; tests use a fake.
class QVRiCloudSyncHost
{
public:
    virtual ~QVRiCloudSyncHost() = default;

    virtual QVRSyncStep step() const = 0;
    virtual void setStep(QVRSyncStep step) = 0;
    virtual void setStepWait() = 0;
    virtual bool active() const = 0;

    virtual bool iCloudEnabled() const = 0;
    // Also clears firstRun and writes "QVRSyncType" = "iCloud" when true.
    virtual void setICloudEnabled(bool enabled) = 0;
    virtual bool quorvaneEnabled() const = 0;
    virtual QString quorvaneEmail() const = 0;
    // Offers web sign-in; true when the offer was shown.
    virtual bool promptForQuorvane() = 0;

    virtual bool firstRun() const = 0;
    virtual bool started() const = 0;
    virtual void setStarted(bool started) = 0;
    virtual bool ready() const = 0;
    virtual void setReady(bool ready) = 0;
    virtual bool forceUpdate() const = 0;
    virtual void setForceUpdate(bool forceUpdate) = 0;
    virtual QVRApplicationState applicationState() const = 0;
    // Seconds since 1970 of the oldest archived note kept.
    virtual double historyDate() = 0;

    virtual void registerWithNotificationCenter() = 0;
    virtual void sync() = 0;

    virtual QVRDataStore* dataStore() const = 0;
    // The manager's one queue, with its width set to `count`.
    virtual platform::OperationQueue* operationQueueWithCount(int count) = 0;
    virtual platform::OperationQueue* operationQueue() const = 0;
    // The attributes of every note that is not archived.
    virtual std::vector<QVRNoteAttributes> allObjects() = 0;

    // Hands imported attributes to the manager delegate's
    // saveObjectWithAttributes(attributes, false), when there is a delegate.
    virtual void saveObjectWithAttributes(const QVRNoteAttributes& attributes) = 0;
    // Asks the interface delegate; false (and no call of the handler) when
    // there is none.
    virtual bool promptWithTitle(const QString& title, const QString& message, const QString& accept,
                                 const QString& cancel, std::function<void(bool)> handler) = 0;
    // Tells the manager delegate of a key-value change it may care for.
    virtual void ubiquitousKeyUpdated(const QString& key, const QVariant& value)
    {
        (void)key;
        (void)value;
    }

    // The manager's delayed perform (which honours preparing-to-stop),
    // cancelled by name.
    virtual void performAfterDelay(const QString& name, std::function<void()> fn, double seconds) = 0;
    virtual void cancelPerform(const QString& name) = 0;
};

// The cloud-folder half of QVRSyncManager: choosing the method, enabling and
// disabling, the folder query, the identity token, import and export, reset.
// Lives on the main thread.
class QVRiCloudSync : public QObject
{
    Q_OBJECT
public:
    explicit QVRiCloudSync(QVRiCloudSyncHost* host, QObject* parent = nullptr);
    ~QVRiCloudSync() override;

    // Tests point these at their own key-value store and debounce.
    void setKeyValueStore(platform::UbiquitousKeyValueStore* store);
    platform::UbiquitousKeyValueStore* keyValueStore() const;
    platform::MetadataQuery* metadataQuery() const { return m_metadataQuery.get(); }

    // Start: subscribe to the key-value store, decide on the first run.
    void start();
    void stop();

    bool iCloudAvailable() const { return m_iCloudAvailable; }
    QString iCloudDataURL();
    double metadataQueryDate() const { return m_metadataQueryDate; }
    // Read by the queue observer on whatever thread the queue reports from.
    bool addingToOperationQueue() const { return m_addingToOperationQueue.load(); }

    void enableiCloud();
    void disableiCloud();
    void promptForiCloudReset();
    void resetiCloud();

    void startMetadataQuery();
    void stopMetadataQuery();
    void restartMetadataQuery();
    bool timeToRestartMetadataQuery() const;

    void updateStoreItems(const platform::Notification& notification);
    void compareSyncType(const QVariant& type);
    void compareiCloudToken();
    static bool tokenIsEqualToToken(const QByteArray& token, const QByteArray& otherToken);
    bool updateiCloudToken(const QByteArray& token, bool force);

    void updateUbiquitousData(const platform::Notification& notification);
    void saveObjectToiCloud(const QString& uuid);
    void saveAllObjectsToiCloud();
    void saveObjectWithAttributes(const QVRNoteAttributes& attributes);

    void operationQueueComplete();
    void resetOperationQueue();

    // Reads the identity token; the cloud-folder layer by default.
    void setTokenReader(std::function<QByteArray()> reader) { m_tokenReader = std::move(reader); }

    QVRSyncInOperationDelegate* inOperationDelegate() const { return m_inDelegate.get(); }

private:
    void finishEnabling(bool folderEmpty, const QByteArray& token);
    void finishPass();
    void runInBackground(std::function<void()> work);

    QVRiCloudSyncHost* m_host;
    std::shared_ptr<QVRSyncInOperationDelegate> m_inDelegate;
    std::unique_ptr<platform::MetadataQuery> m_metadataQuery;
    platform::UbiquitousKeyValueStore* m_keyValueStore = nullptr;
    std::function<QByteArray()> m_tokenReader;
    bool m_iCloudAvailable = false;
    QString m_iCloudDataURL;
    // The cloud folder the Notes folder above lies in.
    QString m_iCloudRootURL;
    double m_metadataQueryDate = 0;
    std::atomic<bool> m_addingToOperationQueue{false};
    platform::ObserverToken m_storeObserver;
    platform::ObserverToken m_identityObserver;
    platform::ObserverToken m_gatheringObserver;
    platform::ObserverToken m_updateObserver;
    std::shared_ptr<bool> m_alive;
    // Token reads and folder moves; waited for before the manager goes.
    QThreadPool m_pool;
};
