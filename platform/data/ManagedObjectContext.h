#pragma once

#include "platform/core/Error.h"
#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectModel.h"
#include "platform/data/SortDescriptor.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace platform {

class PersistentStoreCoordinator;
class ManagedObjectModel;
struct EntityDescription;
class Predicate;
struct StoreChanges;

enum class ConcurrencyType
{
    PrivateQueue,
    MainQueue
};
enum class MergePolicy
{
    Error,
    PropertyObjectTrump
};

struct FetchRequest
{
    QString entityName;
    std::shared_ptr<const Predicate> predicate;
    std::vector<SortDescriptor> sortDescriptors;
    int fetchLimit = 0; // 0 = no limit
    // Stored keys the fetch leaves unloaded in the objects it loads (an
    // object already loaded keeps what it holds); each is read from the file
    // when first needed. Rows are still matched by the predicate and sorted
    // on every key.
    QStringList deferredKeys = {};
    // Transient keys filled from the file's texts (see FirstLineKey), for
    // objects the fetch loads from the file.
    std::vector<FirstLineKey> firstLines = {};
    // fetchObjectIDs() only: just the rows whose keys lie from `first` to
    // `second`, both included.
    std::optional<std::pair<qint64, qint64>> keyRange = {};
    // fetch() only: just the records with these keys (sorted).
    std::optional<std::vector<qint64>> keys = {};
};

// Posted with the saving context as sender, synchronously on the saving thread,
// after a save that had changes. User info: "inserted", "updated", "deleted"
// (lists of object IDs as URI strings).
extern const QString ContextDidSaveNotification;
// Posted by processPendingChanges() with the context as sender. User info:
// "inserted", "updated", "deleted" (lists of ManagedObject*).
extern const QString ContextObjectsDidChangeNotification;

// A scratch pad of records over a file (root) or over another context (child).
// A child's save moves its changes into its parent; only a root writes the
// file. Lock order: a context may wait on its parent, never on a child, and a
// root never waits on any other context.
class ManagedObjectContext
{
public:
    explicit ManagedObjectContext(ConcurrencyType type);
    ~ManagedObjectContext();
    ManagedObjectContext(const ManagedObjectContext&) = delete;
    ManagedObjectContext& operator=(const ManagedObjectContext&) = delete;

    ConcurrencyType concurrencyType() const { return m_type; }

    void setPersistentStoreCoordinator(std::shared_ptr<PersistentStoreCoordinator> coordinator);
    PersistentStoreCoordinator* persistentStoreCoordinator() const;
    // Not owned: the parent must outlive the child.
    void setParentContext(ManagedObjectContext* parent);
    ManagedObjectContext* parentContext() const { return m_parent; }

    // Runs `fn` on the context's queue later.
    void perform(std::function<void()> fn);
    // Runs `fn` on the context's queue and returns when it has run. Re-entrant.
    void performAndWait(const std::function<void()>& fn);

    double stalenessInterval() const { return m_staleness; }
    void setStalenessInterval(double seconds) { m_staleness = seconds; } // negative = no limit
    MergePolicy mergePolicy() const { return m_mergePolicy; }
    void setMergePolicy(MergePolicy policy) { m_mergePolicy = policy; }

    // A new object with the model's default values and a permanent ID. It is
    // announced to list controllers by the next processPendingChanges().
    ManagedObject* insert(const QString& entityName);
    void remove(ManagedObject* object);
    // Deletes the records by key: a registered object is removed as by
    // remove(); the others are deleted without an object being made for them
    // (an object asked for later comes back deleted). Saved like any deletion.
    void removeObjectsWithIDs(const std::vector<ObjectID>& ids);
    // Every record deleted and not saved yet, objects and keys alike.
    std::vector<ObjectID> deletedObjectIDs() const;

    bool hasChanges() const;
    std::vector<ManagedObject*> insertedObjects() const;
    std::vector<ManagedObject*> updatedObjects() const;
    std::vector<ManagedObject*> deletedObjects() const;
    std::vector<ManagedObject*> registeredObjects() const;
    // The object registered for `id`, or null (none is made).
    ManagedObject* registeredObject(const ObjectID& id) const;

    // The object for `id` (a fault when not loaded yet), or null with an error
    // when no such record exists for this context.
    ManagedObject* existingObject(const ObjectID& id, Error* error = nullptr);
    // The registered object for `id`, or a new fault, without checking the file.
    ManagedObject* objectWithID(const ObjectID& id);

    void processPendingChanges();

    // On failure: no objects (count -1) and `error` filled in (its domain is
    // never empty then).
    std::vector<ManagedObject*> fetch(const FetchRequest& request, Error* error = nullptr);
    qint64 count(const FetchRequest& request, Error* error = nullptr);
    // The keys of the records a fetch would return, in key order, without
    // making objects for them or reading their values (sort and limit are
    // not applied).
    std::vector<ObjectID> fetchObjectIDs(const FetchRequest& request, Error* error = nullptr);

    // Fills `firstLine.key` of a loaded object whose text under
    // `firstLine.sourceKey` is still unread, as a fetch with that first line
    // would, without reading the text into memory. False (nothing done)
    // when the text is read already or the record is gone.
    bool loadFirstLine(ManagedObject* object, const FirstLineKey& firstLine);

    // On failure every change stays in the context.
    bool save(Error* error = nullptr);

    // Turns the object back into a fault (dropping its values) unless
    // `mergeChanges` is set and it has changes.
    void refresh(ManagedObject* object, bool mergeChanges = false);
    // How many objects refresh() has turned into faults: their values, read
    // again, may differ from what they were.
    quint64 refreshCount() const { return m_refreshCount; }

    const ManagedObjectModel* model() const;
    bool isOnQueue() const;

private:
    friend class ManagedObject;
    struct VisibleRow
    {
        QVariantMap values;
        QStringList unloaded;               // stored keys not in `values`, still to be read
        std::vector<QVariant> slotValues{}; // instead of `values` (see StoredRow)
    };
    using RowMap = std::map<ObjectID, VisibleRow>;

    PersistentStoreCoordinator* rootCoordinator() const;
    ManagedObject* registerObject(const ObjectID& id, const EntityDescription* entity);
    void fulfillFault(ManagedObject* object);
    void loadUnloadedKeys(ManagedObject* object);
    std::optional<QVariantMap> visibleValues(const ObjectID& id);
    // The record as the parent, or the file, has it.
    std::optional<QVariantMap> valuesBelow(const ObjectID& id);
    bool visibleRows(const FetchRequest& request, RowMap* rows, Error* error);
    static void putRow(RowMap* rows, const ObjectID& id, VisibleRow&& row);
    void overlayChanges(const FetchRequest& request, RowMap* rows) const;
    bool visibleKeys(const FetchRequest& request, std::vector<ObjectID>* ids, Error* error);
    void noteChanged(ManagedObject* object);
    bool saveToParent(Error* error);
    bool saveToStore(Error* error);
    // Every unsaved change, as a save hands it on (updates with the changed
    // keys and the whole record); `changed` receives the objects saved.
    StoreChanges pendingChanges(std::vector<ManagedObject*>* changed) const;
    void acceptChildChanges(const StoreChanges& changes);
    void forgetSavedChanges();
    // After the changes reached the parent or the file: the objects carry no
    // changes any more, and the did-save notice goes out.
    void didSave(const std::vector<ManagedObject*>& changed);
    void workerLoop();

    const ConcurrencyType m_type;
    std::shared_ptr<PersistentStoreCoordinator> m_coordinator;
    ManagedObjectContext* m_parent = nullptr;
    double m_staleness = -1;
    MergePolicy m_mergePolicy = MergePolicy::Error;

    std::map<ObjectID, std::unique_ptr<ManagedObject>> m_registry;
    // Every registered object that may have unsaved changes (and a few that
    // no longer have), in the registry's order, so that fetches and saves look
    // at the changes rather than at everything ever loaded.
    std::map<ObjectID, ManagedObject*> m_changed;
    std::vector<ManagedObject*> m_pendingInserted, m_pendingUpdated, m_pendingDeleted;
    // Records deleted by key that have no object here, until saved.
    std::set<ObjectID> m_deletedKeys;
    quint64 m_refreshCount = 0;

    // Private queue: a recursive lock held while a block runs (so blocks nest
    // and a waiting caller runs the block on its own thread), plus a worker
    // thread for perform().
    mutable std::recursive_mutex m_queueLock;
    std::atomic<std::thread::id> m_queueOwner{};
    std::atomic<int> m_queueDepth{0};
    std::mutex m_workMutex;
    std::condition_variable m_workCondition;
    std::deque<std::function<void()>> m_work;
    std::thread m_worker;
    bool m_stopping = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace platform
