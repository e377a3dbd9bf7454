#pragma once

#include "platform/core/Error.h"
#include "platform/core/NotificationCenter.h"
#include "platform/data/ManagedObjectContext.h"

#include <QSet>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {
class UserDefaults;
class PersistentStoreCoordinator;
class ManagedObjectModel;
} // namespace platform

class QVRDataStore;

// Consulted by a store about its owner's state. Every operation is optional.
class QVRDataStoreDelegate
{
public:
    virtual ~QVRDataStoreDelegate() = default;
    // True while the store's objects must not be refreshed.
    virtual bool dataStoreInUse(QVRDataStore* store)
    {
        (void)store;
        return false;
    }
    // True lets this child save when the root asks its children to.
    virtual bool dataStoreShouldSave(QVRDataStore* store)
    {
        (void)store;
        return false;
    }
    virtual void dataStoreRefreshed(QVRDataStore* store, bool refreshed)
    {
        (void)store;
        (void)refreshed;
    }
};

// The note store: one root per process that owns the file and writes it, child
// stores whose contexts save into the root's, and temporary contexts for batch
// work. Keeps the save stamps that decide when cached objects are refreshed.
class QVRDataStore
{
public:
    ~QVRDataStore();
    QVRDataStore(const QVRDataStore&) = delete;
    QVRDataStore& operator=(const QVRDataStore&) = delete;

    // The root of the process's services (QVRServices) while one is
    // installed; otherwise a root over the default file, built once per
    // process (from whichever thread asks first).
    static QVRDataStore* sharedStore();
    // Installs the store sharedStore() answers; null uninstalls. Only the
    // services root calls this, when it is made current and torn down.
    static void setSharedStore(QVRDataStore* store);
    // A new root over `storeURL` (the default location when empty). Only
    // sharedStore() uses the default; tests open their own files.
    static std::unique_ptr<QVRDataStore> makeRootStore(const QString& storeURL = {});
    // A child whose context saves into the parent's, or null when the parent
    // has no context. Shared by the parent's list (until close()) and the
    // caller; its saves reach the parent for as long as it lives.
    static std::shared_ptr<QVRDataStore> storeWithParent(QVRDataStore* parent,
                                                         platform::ConcurrencyType concurrencyType);
    static platform::UserDefaults& sharedDefaults();

    static QString privateContainerURL();
    static QString sharedContainerURL();
    static QString storeURL();
    static QString sharedCachesURL();
    static QString cachesURL();
    static QString externalRecordsURL();
    // Removes whatever exists under the name, then re-creates the folder when
    // `create` is set. A name that would reach outside the caches folder is
    // refused (logged, nothing removed).
    static QString cacheURLNamed(const QString& name, bool shared, bool create);

    static std::shared_ptr<const platform::ManagedObjectModel> managedObjectModel();
    static std::shared_ptr<platform::PersistentStoreCoordinator>
    persistentStoreCoordinatorWithModel(std::shared_ptr<const platform::ManagedObjectModel> model,
                                        const QString& storeURL, platform::Error* error = nullptr);

    static quint64 bundleCurrentVersion();
    static quint64 recordedPreviousVersion();

    QVRDataStoreDelegate* delegate() const { return m_delegate; }
    void setDelegate(QVRDataStoreDelegate* delegate) { m_delegate = delegate; }
    QVRDataStore* parentStore() const { return m_parentStore; }
    // A snapshot, safe to walk while another thread adds or closes a child.
    std::vector<std::shared_ptr<QVRDataStore>> childStores() const;
    platform::ManagedObjectContext* context() const { return m_context.get(); }
    QString identifier() const;
    void setIdentifier(const QString& identifier);
    quint64 currentVersion() const;
    quint64 previousVersion() const;
    std::optional<platform::Error> error() const;
    // Why the last save that failed failed, as the layer below reported it
    // (a child whose save could not be written to the file gives its
    // parent's reason); nothing once a save succeeds again.
    std::optional<platform::Error> lastSaveError() const;
    QString updatedKey() const;
    double refreshDate() const { return m_refreshDate.load(); }

    void registerCurrentVersion();

    // Saves the children that agree, then the root (on the root), or this
    // store (on a child). False when a save failed, also when a child's save
    // reached the root but the file could not be written; every change is
    // kept for the next save. The root asks a main-queue child on the main
    // thread, so never call this from inside a block on the root's context.
    bool saveData();
    // Saves this store's own context.
    bool saveData(const platform::Notification& notification);
    // Saves when the delegate agrees; false only when that save failed.
    bool requestSave();

    bool refreshObjects(bool force);
    bool refreshAllObjects();
    bool refreshUnchangedObjects();
    // Like refreshAllObjects(), for the records `ids` names only: the
    // other objects keep their values.
    bool refreshObjectsWithIDs(const std::vector<platform::ObjectID>& ids);
    bool inUse();

    // A private-queue context over this store's context; the caller owns it.
    std::unique_ptr<platform::ManagedObjectContext> temporaryContext();
    // Saves it into this store; with `commit`, writes the file and refreshes
    // the copies the process's stores hold of the records it changed or
    // deleted (a deleted one then reads as gone).
    bool saveTemporaryContext(platform::ManagedObjectContext* context, bool commit);

    void close();
    // `reason` says what went wrong below (the store file is read-only, was
    // written by a newer version...): the user sees it beside the text.
    void fatalErrorWithDescription(const QString& description, const QString& suggestion = {},
                                   const QString& reason = {});

    static QString defaultRecoverySuggestion();
    static QString supportURL();

    // Every object of `entityName` (notes, queued changes) with that uuid in
    // `context`, at most `limit` of them (0: all). Call on the context's queue.
    static std::vector<platform::ManagedObject*> objectsWithUUID(platform::ManagedObjectContext* context,
                                                                 const QString& entityName,
                                                                 const QString& uuid, int limit = 0,
                                                                 platform::Error* error = nullptr);
    // The note with that uuid in `context`, or null. Call on the context's queue.
    static platform::ManagedObject* noteWithUUID(platform::ManagedObjectContext* context, const QString& uuid,
                                                 platform::Error* error = nullptr);

private:
    QVRDataStore() = default;
    void detachFromParent();
    // Turns this context's unchanged objects back into faults (only those
    // `only` names, when given); how many.
    int refreshUnchanged(const QSet<platform::ObjectID>* only);

    QVRDataStoreDelegate* m_delegate = nullptr;
    QVRDataStore* m_parentStore = nullptr;
    std::vector<std::shared_ptr<QVRDataStore>> m_childStores;
    std::vector<std::weak_ptr<QVRDataStore>>
        m_everyChild; // also the closed ones still saving into this store
    std::unique_ptr<platform::ManagedObjectContext> m_context;
    std::shared_ptr<platform::PersistentStoreCoordinator> m_coordinator;
    QString m_identifier;
    quint64 m_currentVersion = 0;
    quint64 m_previousVersion = 0;
    std::optional<platform::Error> m_error;
    std::optional<platform::Error> m_lastSaveError;
    std::atomic<double> m_refreshDate{0};
    platform::ObserverToken m_childSaveObserver; // the parent's watch of this child's saves
    mutable std::recursive_mutex m_mutex;        // children, identifier, errors
};
