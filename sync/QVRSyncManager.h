#pragma once

#include "platform/core/NotificationCenter.h"
#include "platform/data/ObjectID.h"
#include "store/QVRNoteAttributes.h"
#include "sync/QVRQuorvaneOperation.h"
#include "sync/QVRSyncAccount.h"
#include "sync/QVRSyncQueue.h"
#include "sync/QVRSyncSettings.h"
#include "sync/QVRSyncStep.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTimer;
class QVRDataStore;
class QVRSyncObject;
class QVRURLSession;
namespace platform {
class ManagedObject;
class ManagedObjectContext;
class OperationQueue;
struct Error;
} // namespace platform

extern const QString QVRSyncChangeNotification;
extern const QString QVRSyncCompleteNotification;
extern const QString QVRSyncFailureNotification;
extern const QString QVRSyncSettingsErrorNotification;
extern const QString QVRSyncSuccessNotification;
extern const QString QVRTimeChangeNotification;
extern const QString QVRLocaleChangeNotification;
extern const QString QVRSyncStatusKey;

// The note side of sync, implemented by the application. Every call comes on
// the main thread, except additionalQueryForQuorvaneSync.
class QVRSyncManagerDelegate
{
public:
    virtual ~QVRSyncManagerDelegate() = default;
    // Main thread. Inserts or updates the note with that uuid; `sync` hands
    // it back to syncObject(). Attribute values from the service are strings.
    virtual void saveObjectWithAttributes(const QVRNoteAttributes& attributes, bool sync) = 0;
    // Main thread, while a reply is being applied.
    virtual void unknownObjectNamed(const QString& name, const QVariantMap& attributes) = 0;
    // Main thread. Archives the note without syncing it back.
    virtual void deleteObjectWithUUID(const QString& uuid) = 0;
    // Main thread, at the start of every cycle.
    virtual void willStartSyncing() {}
    // Main thread, once old archived notes have been deleted from the file;
    // `objectIDs` names them. Never called when there was none to delete.
    virtual void didDeleteOldObjects(const std::vector<platform::ObjectID>& objectIDs) { (void)objectIDs; }
    // Main thread, when another computer changed a key of the cloud
    // key-value store.
    virtual void ubiquitousKeyUpdated(const QString& key, const QVariant& value) { (void)key, (void)value; }
    // The queue's thread, while a request is built: must not touch the
    // application's objects. Appended to every request body.
    virtual QString additionalQueryForQuorvaneSync() { return QString(); }
    // Main thread.
    virtual bool shouldQuorvaneUpdate() { return false; }
};

// Prompts and the application's state, implemented by the application. Both
// calls come on the main thread.
class QVRSyncInterfaceDelegate
{
public:
    virtual ~QVRSyncInterfaceDelegate() = default;
    virtual QVRApplicationState applicationState() = 0;
    // Asks the user; calls `handler` once, on the main thread, true for the
    // accept button.
    virtual void shouldPromptWithTitle(const QString& title, const QString& message, const QString& accept,
                                       const QString& cancel, std::function<void(bool)> handler) = 0;
};

// The cloud-folder half of the manager. Without one installed, every enabling
// pass ends at once with cloud sync off, so web sync still starts.
class QVRSyncManageriCloud
{
public:
    virtual ~QVRSyncManageriCloud() = default;
    // Called by start(): decides on the first run or enables.
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool iCloudAvailable() const = 0;
    virtual void enableiCloud() = 0;
    virtual void disableiCloud() = 0;
    virtual void restartMetadataQuery() = 0;
    virtual void stopMetadataQuery() = 0;
    virtual void saveObjectToiCloud(const QString& uuid) = 0;
    // True while a batch of operations is being added: an empty queue then
    // does not end the cycle.
    virtual bool addingToOperationQueue() const = 0;
    // The method chosen on this computer ("iCloud" or "Quorvane"), for the
    // key-value store that other computers read.
    virtual void syncTypeChosen(const QString& type) { (void)type; }
};

// The sync engine: the step machine, the notifications, the persisted sync
// state, the one operation queue, and the web service protocol. Lives on the
// main thread; only the request builder runs on the queue's thread.
class QVRSyncManager : public QObject, public QVRQuorvaneOperationDelegate
{
    Q_OBJECT
public:
    // The services root's manager while one is installed; otherwise one over
    // the shared store, built on first call.
    static QVRSyncManager* sharedManager();
    // Installs the manager sharedManager() answers; null uninstalls (the
    // services root only).
    static void setSharedManager(QVRSyncManager* manager);
    // A manager over `store` (tests make their own). The store is left as it
    // is until attachToStore().
    explicit QVRSyncManager(QVRDataStore* store, QObject* parent = nullptr);
    ~QVRSyncManager() override;
    // Takes the store over for sync: its objects are then refreshed whenever
    // a cycle completes, which a store delegate could refuse, so the store's
    // delegate is removed (and a delegate found there is logged). The shared
    // manager does this when it is made.
    void attachToStore();

    void setDelegate(QVRSyncManagerDelegate* delegate) { m_delegate = delegate; }
    QVRSyncManagerDelegate* delegate() const { return m_delegate; }
    void setInterfaceDelegate(QVRSyncInterfaceDelegate* delegate) { m_interfaceDelegate = delegate; }
    QVRSyncInterfaceDelegate* interfaceDelegate() const { return m_interfaceDelegate; }
    // Installs the cloud-folder half (owned).
    void setICloud(std::unique_ptr<QVRSyncManageriCloud> cloud);
    QVRSyncManageriCloud* iCloud() const { return m_iCloud.get(); }
    static QString syncHelpURL();

    // --- driving --------------------------------------------------------------
    void start();
    void sync();
    void refresh();
    void syncObject(QVRSyncObject* object);
    void prepareToStop();
    bool busy();
    void stop();
    void applicationDidBecomeActive();
    void localeOrTimeChanged(const QString& notificationName);
    void registerWithNotificationCenter();
    // The end of an enabling pass: started and ready; the first one offers
    // web sign-in or syncs, then watches for system events.
    void enablePassEnded();

    // --- state ------------------------------------------------------------------
    QVRSyncStep step() const { return m_step; }
    void setStep(QVRSyncStep step);
    void setStepWait();
    void setStepComplete() { setStep(QVRSyncStep::Complete); }
    bool active() const { return m_active; }
    QString status() const;
    QString syncType() const;
    // Background without an interface delegate.
    QVRApplicationState applicationState() const;

    bool firstRun() const;
    void setFirstRun(bool firstRun);
    bool quorvaneEnabled() const;
    void setQuorvaneEnabled(bool enabled);
    QString quorvaneEmail() const;
    void setQuorvaneEmail(const QString& email);
    QString quorvaneClient() const;
    void setQuorvaneClient(const QString& client);
    double quorvaneUpdated() const;
    void setQuorvaneUpdated(double updated);
    double quorvaneOffset() const;
    void setQuorvaneOffset(double offset);
    bool iCloudEnabled() const { return m_iCloudEnabled; }
    void setICloudEnabled(bool enabled);
    bool iCloudAvailable() const { return m_iCloud && m_iCloud->iCloudAvailable(); }
    bool forceUpdate() const { return m_forceUpdate; }
    void setForceUpdate(bool force);
    bool started() const { return m_started; }
    void setStarted(bool started) { m_started = started; }
    bool ready() const { return m_ready; }
    void setReady(bool ready) { m_ready = ready; }
    bool delaySync() const { return m_delaySync; }
    QString quorvaneMessage() const { return m_quorvaneMessage; }
    std::optional<double> quorvaneErrorDate() const { return m_quorvaneErrorDate; }

    quint64 historyDays() const { return m_historyDays; }
    bool deleteOldObjects() const { return m_deleteOldObjects; }
    double historyDate();
    void userDefaultsDidChange(const platform::Notification& notification);
    // Deletes archived notes older than the history date, in a temporary
    // context on a thread of the manager's own, which stop() and the
    // destructor cancel and wait for.
    void pruneHistory();
    // Called inside the prune, between reading the old notes and removing
    // them, with whether the prune has been cancelled; null removes it.
    static void setPruneHookForTesting(std::function<void(const std::function<bool()>& cancelled)> hook);

    void postNotificationName(const QString& name, const std::optional<QString>& status = std::nullopt);
    // The manager's delayed perform: one pending call per name.
    void performAfterDelay(const QString& name, std::function<void()> fn, double seconds);
    void cancelPerform(const QString& name);

    platform::OperationQueue* operationQueue();
    platform::OperationQueue* operationQueueWithCount(int count);
    void operationQueueComplete();
    void resetOperationQueue();
    QVRDataStore* dataStore() const { return m_store; }
    std::vector<QVRNoteAttributes> allObjects();

    // --- web service ----------------------------------------------------------
    void syncWithQuorvane();
    void syncWithQuorvaneContinue(bool continuing, bool retry);
    void saveObjectToQuorvane(QVRSyncObject* object, const QString& cmd);
    void saveAllObjectsToQuorvane();
    void queueObject(QVRSyncObject* object, const QString& cmd);
    // Queued change of that uuid: {uuid, cmd, query, date}, or empty.
    QVariantMap queueItemWithUUID(const QString& uuid);
    std::vector<QVariantMap> queueItems();
    bool removeFromQueue(const QString& uuid, double time, bool force);
    std::vector<std::shared_ptr<QVRQuorvaneOperation>> operationsWithUUID(const QString& uuid);
    void resetQuorvaneQueue();
    QVRURLSession* quorvaneSession();
    void resetQuorvaneSession();
    bool timeToSync();
    double secondsSinceQuorvaneError() const;
    void quorvaneSyncFailedWithConnectionError(bool connectionError);
    void quorvaneUpdate();

    // Returns false for an accepted form too: the outcome arrives later as a
    // notification. `error` is filled only for a refused form.
    bool validateQuorvaneSettings(const QVariantMap& form, platform::Error* error = nullptr);
    static QString validationMessageForFields(const QStringList& fields);
    void discardQuorvaneSettings();
    void disableQuorvaneAndDeletePassword(bool deletePassword);
    // The first-run offer of an account found in the keyring. True when it
    // takes over: the keyring is searched on its own thread, then either the
    // offer is shown or, with no account there, it does what its caller does
    // on false (enable the cloud folder, or sync).
    bool promptForQuorvane();
    void promptReturnedAccount(const std::optional<QString>& account);
    void registerQuorvaneAccount();
    void saveQuorvaneSettings();
    void saveQuorvaneCode(const std::optional<QString>& code);
    bool quorvaneSettingsInProgress() const;

    // Called on the queue's thread.
    std::optional<QVRURLRequest> quorvaneRequestURL(const std::optional<QUrl>& url, const QString& query,
                                                    bool login) override;
    void operationEncounteredName(QVRQuorvaneOperation* operation, const QString& name,
                                  const std::optional<QString>& value,
                                  const std::optional<QVRXMLAttributes>& attributes) override;
    void operationSucceeded(QVRQuorvaneOperation* operation) override;
    void operationFailed(QVRQuorvaneOperation* operation) override;

private slots:
    // logind's notice; false means the machine has woken up.
    void prepareForSleep(bool sleeping);

private:
    void setActive(bool active);
    void addRequest(const QString& uuid, const QString& query, bool requiresLogin);
    void finishLogout();
    // The first-run offer once the keyring has answered.
    void offerAccount(const std::optional<QString>& account);
    void applyNote(const QVRXMLAttributes& attributes);
    void watchForWake();
    // Cancels the history pruning under way and waits for it.
    void finishBackgroundWork();

    QVRDataStore* m_store;
    QVRSyncSettings m_settings;
    QVRSyncQueue m_queue;
    QVRSyncManagerDelegate* m_delegate = nullptr;            // not owned
    QVRSyncInterfaceDelegate* m_interfaceDelegate = nullptr; // not owned
    std::unique_ptr<QVRSyncManageriCloud> m_iCloud;
    QVRSyncStep m_step = QVRSyncStep::Starting;
    bool m_iCloudEnabled = false;
    bool m_forceUpdate = false;
    bool m_delaySync = false;
    bool m_started = false;
    bool m_ready = false;
    bool m_active = false;
    bool m_preparingToStop = false;
    bool m_startCalled = false;
    bool m_firstPassDone = false;
    bool m_registered = false;
    std::optional<double> m_quitDate;
    QString m_quorvaneMessage;
    std::optional<double> m_quorvaneErrorDate;
    bool m_moreToSync = false;
    quint64 m_historyDays = 90;
    bool m_deleteOldObjects = true;
    std::optional<double> m_historyDate;
    std::optional<bool> m_pendingLogout; // the delete-password flag while a log-out drains

    // Also used by the request builder on the queue's thread.
    QVRSyncAccount m_account;

    std::unique_ptr<platform::OperationQueue> m_operationQueue;
    std::unique_ptr<platform::OperationQueue> m_background; // history pruning
    QPointer<QVRURLSession> m_session;
    QHash<QString, QTimer*> m_performs;
    std::vector<platform::ObserverToken> m_observers;
    platform::ObserverToken m_defaultsObserver;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
