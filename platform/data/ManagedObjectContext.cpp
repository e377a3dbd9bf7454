#include "platform/data/ManagedObjectContext.h"

#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/core/NotificationCenter.h"
#include "platform/data/MainQueue.h"
#include "platform/data/ManagedObjectModel.h"
#include "platform/data/PersistentStoreCoordinator.h"
#include "platform/predicate/Predicate.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace platform {

const QString ContextDidSaveNotification = QStringLiteral("NSManagedObjectContextDidSaveNotification");
const QString ContextObjectsDidChangeNotification =
    QStringLiteral("NSManagedObjectContextObjectsDidChangeNotification");

namespace {

const QString ErrorDomain = QStringLiteral("QuillaryStore");

// The main queue is Qt's event loop when there is one; without an application
// object (tools, tests) it behaves like a private queue.
bool hasEventLoop()
{
    return QCoreApplication::instance() != nullptr;
}

QVariantMap storedValues(const EntityDescription* entity, const QVariantMap& values)
{
    QVariantMap stored;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const AttributeDescription* attribute = entity ? entity->attribute(it.key()) : nullptr;
        if (attribute && !attribute->transient)
            stored.insert(it.key(), it.value());
    }
    return stored;
}

QVariantList objectList(const std::vector<ManagedObject*>& objects)
{
    QVariantList list;
    list.reserve(qsizetype(objects.size()));
    for (auto* object : objects)
        list << QVariant::fromValue(object);
    return list;
}

} // namespace

ManagedObjectContext::ManagedObjectContext(ConcurrencyType type) : m_type(type)
{
    // Main-queue contexts are made on the main thread; making the dispatcher
    // there too keeps its setup ordered before any use from other threads.
    if (type == ConcurrencyType::MainQueue && hasEventLoop())
        MainQueue::instance();
}

ManagedObjectContext::~ManagedObjectContext()
{
    {
        std::lock_guard lock(m_workMutex);
        m_stopping = true;
    }
    m_workCondition.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void ManagedObjectContext::setPersistentStoreCoordinator(
    std::shared_ptr<PersistentStoreCoordinator> coordinator)
{
    m_coordinator = std::move(coordinator);
}

PersistentStoreCoordinator* ManagedObjectContext::persistentStoreCoordinator() const
{
    return rootCoordinator();
}

void ManagedObjectContext::setParentContext(ManagedObjectContext* parent)
{
    m_parent = parent;
}

PersistentStoreCoordinator* ManagedObjectContext::rootCoordinator() const
{
    if (m_coordinator)
        return m_coordinator.get();
    return m_parent ? m_parent->rootCoordinator() : nullptr;
}

const ManagedObjectModel* ManagedObjectContext::model() const
{
    auto* coordinator = rootCoordinator();
    return coordinator ? &coordinator->model() : nullptr;
}

bool ManagedObjectContext::isOnQueue() const
{
    const bool inBlock = m_queueDepth.load() > 0 && m_queueOwner.load() == std::this_thread::get_id();
    if (m_type == ConcurrencyType::MainQueue)
        return inBlock || isMainThread();
    return inBlock;
}

void ManagedObjectContext::performAndWait(const std::function<void()>& fn)
{
    if (m_type == ConcurrencyType::MainQueue && hasEventLoop() && !isMainThread()) {
        MainQueue::instance().postAndWait(fn);
        return;
    }
    std::lock_guard lock(m_queueLock);
    const auto previousOwner = m_queueOwner.exchange(std::this_thread::get_id());
    ++m_queueDepth;
    fn();
    --m_queueDepth;
    m_queueOwner.store(previousOwner);
}

void ManagedObjectContext::perform(std::function<void()> fn)
{
    if (m_type == ConcurrencyType::MainQueue && hasEventLoop()) {
        // Dropped if the context is gone by the time the main loop gets to it.
        MainQueue::instance().post([this, alive = std::weak_ptr<int>(m_alive), fn = std::move(fn)] {
            if (alive.lock())
                performAndWait(fn);
        });
        return;
    }
    std::lock_guard lock(m_workMutex);
    m_work.push_back(std::move(fn));
    if (!m_worker.joinable())
        m_worker = std::thread([this] { workerLoop(); });
    m_workCondition.notify_one();
}

void ManagedObjectContext::workerLoop()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_workMutex);
            m_workCondition.wait(lock, [this] { return m_stopping || !m_work.empty(); });
            if (m_work.empty())
                return; // stopping, and everything queued has run
            job = std::move(m_work.front());
            m_work.pop_front();
        }
        performAndWait(job);
    }
}

// Objects and contexts are not locked: using one off its queue is a race.
#define QUILLARY_ASSERT_ON_QUEUE() Q_ASSERT_X(isOnQueue(), Q_FUNC_INFO, "context used off its queue")

ManagedObject* ManagedObjectContext::registerObject(const ObjectID& id, const EntityDescription* entity)
{
    auto object = entity->factory();
    object->m_objectID = id;
    object->m_entity = entity;
    object->m_values.setEntity(entity);
    object->m_context = this;
    auto* raw = object.get();
    m_registry.emplace(id, std::move(object));
    return raw;
}

ManagedObject* ManagedObjectContext::insert(const QString& entityName)
{
    QUILLARY_ASSERT_ON_QUEUE();
    auto* coordinator = rootCoordinator();
    const EntityDescription* entity = coordinator ? coordinator->model().entity(entityName) : nullptr;
    if (!entity) {
        log(QStringLiteral("Cannot insert a record of unknown kind %1").arg(entityName));
        return nullptr;
    }
    auto* object = registerObject(coordinator->newObjectID(entityName), entity);
    for (const auto& attribute : entity->attributes) {
        if (attribute.defaultValue.isValid())
            object->m_values.insert(attribute.name, attribute.defaultValue);
    }
    object->m_fault = false;
    object->m_inserted = true;
    m_changed.emplace(object->m_objectID, object);
    m_pendingInserted.push_back(object);
    object->awakeFromInsert();
    return object;
}

void ManagedObjectContext::remove(ManagedObject* object)
{
    QUILLARY_ASSERT_ON_QUEUE();
    if (!object || object->m_context != this || object->m_deleted)
        return;
    object->m_deleted = true;
    object->m_changedKeys.clear();
    m_changed.emplace(object->m_objectID, object);
    m_pendingDeleted.push_back(object);
}

void ManagedObjectContext::removeObjectsWithIDs(const std::vector<ObjectID>& ids)
{
    QUILLARY_ASSERT_ON_QUEUE();
    for (const ObjectID& id : ids) {
        if (auto found = m_registry.find(id); found != m_registry.end())
            remove(found->second.get());
        else if (model() && model()->entity(id.entity))
            m_deletedKeys.insert(id);
    }
}

std::vector<ObjectID> ManagedObjectContext::deletedObjectIDs() const
{
    std::vector<ObjectID> ids(m_deletedKeys.begin(), m_deletedKeys.end());
    for (const ManagedObject* object : deletedObjects())
        ids.push_back(object->objectID());
    return ids;
}

void ManagedObjectContext::noteChanged(ManagedObject* object)
{
    m_changed.emplace(object->m_objectID, object);
    if (object->m_inserted || object->m_updated)
        return;
    object->m_updated = true;
    m_pendingUpdated.push_back(object);
}

bool ManagedObjectContext::hasChanges() const
{
    if (!m_pendingInserted.empty() || !m_pendingDeleted.empty() || !m_deletedKeys.empty())
        return true;
    for (const auto& [id, object] : m_changed) {
        if (object->hasChanges())
            return true;
    }
    return false;
}

std::vector<ManagedObject*> ManagedObjectContext::insertedObjects() const
{
    std::vector<ManagedObject*> objects;
    for (const auto& [id, object] : m_changed) {
        if (object->m_inserted && !object->m_deleted)
            objects.push_back(object);
    }
    return objects;
}

std::vector<ManagedObject*> ManagedObjectContext::updatedObjects() const
{
    std::vector<ManagedObject*> objects;
    for (const auto& [id, object] : m_changed) {
        if (!object->m_inserted && !object->m_deleted && !object->m_changedKeys.isEmpty())
            objects.push_back(object);
    }
    return objects;
}

std::vector<ManagedObject*> ManagedObjectContext::deletedObjects() const
{
    std::vector<ManagedObject*> objects;
    for (const auto& [id, object] : m_changed) {
        if (object->m_deleted && object->hasChanges())
            objects.push_back(object);
    }
    return objects;
}

std::vector<ManagedObject*> ManagedObjectContext::registeredObjects() const
{
    std::vector<ManagedObject*> objects;
    objects.reserve(m_registry.size());
    for (const auto& [id, object] : m_registry)
        objects.push_back(object.get());
    return objects;
}

ManagedObject* ManagedObjectContext::registeredObject(const ObjectID& id) const
{
    const auto found = m_registry.find(id);
    return found == m_registry.end() ? nullptr : found->second.get();
}

void ManagedObjectContext::processPendingChanges()
{
    if (m_pendingInserted.empty() && m_pendingUpdated.empty() && m_pendingDeleted.empty())
        return;
    QVariantMap userInfo{
        {QStringLiteral("inserted"), objectList(m_pendingInserted)},
        {QStringLiteral("updated"), objectList(m_pendingUpdated)},
        {QStringLiteral("deleted"), objectList(m_pendingDeleted)},
    };
    m_pendingInserted.clear();
    m_pendingUpdated.clear();
    m_pendingDeleted.clear();
    NotificationCenter::defaultCenter().post(ContextObjectsDidChangeNotification, this, userInfo);
}

std::optional<QVariantMap> ManagedObjectContext::visibleValues(const ObjectID& id)
{
    if (m_deletedKeys.contains(id))
        return std::nullopt;
    if (auto found = m_registry.find(id); found != m_registry.end()) {
        ManagedObject* object = found->second.get();
        if (object->m_deleted)
            return std::nullopt;
        if (!object->m_fault) {
            QVariantMap values = object->m_values.storedValues();
            if (!object->m_unloadedKeys.isEmpty()) {
                // What this context never read comes from below, without
                // being kept here.
                if (const auto below = valuesBelow(id)) {
                    for (const auto& key : object->m_unloadedKeys) {
                        if (const auto value = below->constFind(key); value != below->constEnd())
                            values.insert(key, *value);
                    }
                }
            }
            return values;
        }
    }
    return valuesBelow(id);
}

std::optional<QVariantMap> ManagedObjectContext::valuesBelow(const ObjectID& id)
{
    if (m_coordinator)
        return m_coordinator->rowValues(id, m_staleness);
    if (!m_parent)
        return std::nullopt;
    std::optional<QVariantMap> values;
    m_parent->performAndWait([&] { values = m_parent->visibleValues(id); });
    return values;
}

void ManagedObjectContext::loadUnloadedKeys(ManagedObject* object)
{
    if (object->m_unloadedKeys.isEmpty())
        return;
    const QStringList keys = std::exchange(object->m_unloadedKeys, QStringList());
    const auto values = valuesBelow(object->m_objectID);
    if (!values) {
        // Removed underneath since the fetch: as when a fault is filled, the
        // object is deleted without that being a change of this context's,
        // and an edit brings it back.
        log(QStringLiteral("Record %1 is no longer in the store")
                .arg(object->m_objectID.uriRepresentation()));
        if (!object->m_inserted && !object->m_deleted) {
            object->m_deleted = true;
            object->m_deletionSaved = true;
            object->m_vanished = true;
        }
    } else {
        for (const auto& key : keys) {
            if (const auto value = values->constFind(key); value != values->constEnd())
                object->m_values.insert(key, *value);
        }
    }
    object->didLoadValues(keys);
}

bool ManagedObjectContext::loadFirstLine(ManagedObject* object, const FirstLineKey& firstLine)
{
    QUILLARY_ASSERT_ON_QUEUE();
    if (!object || object->m_context != this || object->m_fault ||
        !object->m_unloadedKeys.contains(firstLine.sourceKey))
        return false;
    FetchRequest request;
    request.entityName = object->m_objectID.entity;
    request.keys = std::vector<qint64>{object->m_objectID.key};
    request.deferredKeys = object->m_unloadedKeys;
    request.firstLines = {firstLine};
    RowMap rows;
    if (!visibleRows(request, &rows, nullptr))
        return false;
    const auto found = rows.find(object->m_objectID);
    if (found == rows.end())
        return false;
    ObjectValues row;
    row.setEntity(object->m_entity);
    if (!found->second.slotValues.empty())
        row.assignSlots(std::move(found->second.slotValues));
    else
        row = found->second.values;
    // A context above holding the record changed gives its text instead.
    if (!row.find(firstLine.key))
        return false;
    object->m_values.insert(firstLine.key, row.value(firstLine.key));
    return true;
}

void ManagedObjectContext::fulfillFault(ManagedObject* object)
{
    if (!object->m_fault)
        return;
    auto values = visibleValues(object->m_objectID);
    object->m_fault = false;
    object->m_unloadedKeys.clear();
    if (!values) {
        // Removed underneath (pruned through another context, or by another
        // process): the object is deleted, and that deletion is no change of
        // this context's. An edit brings it back (see setValue).
        log(QStringLiteral("Record %1 is no longer in the store")
                .arg(object->m_objectID.uriRepresentation()));
        object->m_values.clear();
        object->m_deleted = true;
        object->m_deletionSaved = true;
        object->m_vanished = true;
    } else {
        object->m_values = *values;
    }
    object->awakeFromFetch();
}

ManagedObject* ManagedObjectContext::objectWithID(const ObjectID& id)
{
    if (auto found = m_registry.find(id); found != m_registry.end())
        return found->second.get();
    const ManagedObjectModel* objectModel = model();
    const EntityDescription* entity = objectModel ? objectModel->entity(id.entity) : nullptr;
    if (!entity)
        return nullptr;
    ManagedObject* object = registerObject(id, entity);
    if (m_deletedKeys.erase(id)) {
        // Deleted by key before it had an object: it comes as a deletion of
        // this context's, as remove() would have made it.
        object->m_fault = false;
        object->m_deleted = true;
        m_changed.emplace(id, object);
        m_pendingDeleted.push_back(object);
    }
    return object;
}

ManagedObject* ManagedObjectContext::existingObject(const ObjectID& id, Error* error)
{
    if (auto found = m_registry.find(id); found != m_registry.end() && !found->second->m_deleted) {
        ManagedObject* object = found->second.get();
        if (!object->m_fault || visibleValues(id))
            return object;
    } else if (found == m_registry.end()) {
        if (auto values = visibleValues(id)) {
            if (ManagedObject* object = objectWithID(id)) {
                object->m_values = *values;
                object->m_unloadedKeys.clear();
                object->m_fault = false;
                object->awakeFromFetch();
                return object;
            }
        }
    }
    if (error)
        *error = Error{ErrorDomain,
                       133000,
                       QStringLiteral("The record %1 does not exist").arg(id.uriRepresentation()),
                       {},
                       {}};
    return nullptr;
}

void ManagedObjectContext::putRow(RowMap* rows, const ObjectID& id, VisibleRow&& row)
{
    // Rows mostly come in the order of their keys: each then goes at the
    // end without a search from the top.
    if (rows->empty() || rows->rbegin()->first < id)
        rows->emplace_hint(rows->end(), id, std::move(row));
    else
        (*rows)[id] = std::move(row);
}

void ManagedObjectContext::overlayChanges(const FetchRequest& request, RowMap* rows) const
{
    for (const ObjectID& id : m_deletedKeys)
        rows->erase(id);
    for (const auto& [id, object] : m_changed) {
        if (id.entity != request.entityName || !object->hasChanges())
            continue;
        if (request.keys && !std::binary_search(request.keys->begin(), request.keys->end(), id.key))
            continue;
        if (object->m_deleted) {
            rows->erase(id);
            continue;
        }
        const QVariantMap values = object->m_values.storedValues();
        const bool matches = !request.predicate || request.predicate->evaluate(
                                                       [&](const QString& key) { return values.value(key); });
        if (matches)
            (*rows)[id] = VisibleRow{values, object->m_unloadedKeys};
        else
            rows->erase(id);
    }
}

bool ManagedObjectContext::visibleRows(const FetchRequest& request, RowMap* rows, Error* error)
{
    if (m_coordinator) {
        auto stored =
            m_coordinator->fetchRows(request.entityName, request.predicate.get(), error, request.deferredKeys,
                                     request.firstLines, request.keys ? &*request.keys : nullptr, true);
        if (!stored)
            return false;
        for (auto& row : *stored) {
            // A loaded object keeps what this context already holds; what it
            // never read is taken from the row, as far as the fetch read it.
            auto found = m_registry.find(row.objectID);
            if (found != m_registry.end() && !found->second->m_fault && !found->second->hasChanges()) {
                const ManagedObject* object = found->second.get();
                if (!row.slotValues.empty()) {
                    ObjectValues values;
                    values.setEntity(object->m_entity);
                    values.assignSlots(std::move(row.slotValues));
                    row.values = values.toMap();
                }
                VisibleRow visible{object->m_values.storedValues(), {}};
                for (const auto& key : object->m_unloadedKeys) {
                    if (row.unread.contains(key))
                        visible.unloaded << key;
                    else if (const auto value = row.values.constFind(key); value != row.values.constEnd())
                        visible.values.insert(key, *value);
                }
                for (const auto& firstLine : request.firstLines) {
                    const auto value = row.values.constFind(firstLine.key);
                    if (visible.unloaded.contains(firstLine.sourceKey) && value != row.values.constEnd())
                        visible.values.insert(firstLine.key, *value);
                }
                putRow(rows, row.objectID, std::move(visible));
            } else {
                putRow(rows, row.objectID,
                       VisibleRow{std::move(row.values), std::move(row.unread), std::move(row.slotValues)});
            }
        }
    } else if (m_parent) {
        bool ok = false;
        m_parent->performAndWait([&] { ok = m_parent->visibleRows(request, rows, error); });
        if (!ok)
            return false;
    } else {
        if (error)
            *error = Error{ErrorDomain, 134060, QStringLiteral("The context has no store"), {}, {}};
        return false;
    }
    overlayChanges(request, rows);
    return true;
}

std::vector<ManagedObject*> ManagedObjectContext::fetch(const FetchRequest& request, Error* error)
{
    QUILLARY_ASSERT_ON_QUEUE();
    processPendingChanges();
    const ManagedObjectModel* objectModel = model();
    const EntityDescription* entity = objectModel ? objectModel->entity(request.entityName) : nullptr;
    if (!entity) {
        if (error)
            *error = Error{ErrorDomain,
                           134060,
                           QStringLiteral("No such kind of record: %1").arg(request.entityName),
                           {},
                           {}};
        return {};
    }
    RowMap rows;
    if (!visibleRows(request, &rows, error))
        return {};
    std::vector<ManagedObject*> objects;
    objects.reserve(rows.size());
    for (auto& [id, row] : rows) {
        ManagedObject* object = objectWithID(id);
        if (!object)
            continue;
        if (object->m_fault) {
            if (!row.slotValues.empty())
                object->m_values.assignSlots(std::move(row.slotValues));
            else
                object->m_values = std::exchange(row.values, {});
            object->m_unloadedKeys = std::move(row.unloaded);
            object->m_fault = false;
            object->awakeFromFetch();
        }
        objects.push_back(object);
    }
    sortObjects(objects, request.sortDescriptors);
    if (request.fetchLimit > 0 && objects.size() > size_t(request.fetchLimit))
        objects.resize(size_t(request.fetchLimit));
    return objects;
}

bool ManagedObjectContext::visibleKeys(const FetchRequest& request, std::vector<ObjectID>* ids, Error* error)
{
    if (m_coordinator) {
        auto keys =
            m_coordinator->fetchKeys(request.entityName, request.predicate.get(), error, request.keyRange);
        if (!keys)
            return false;
        ids->reserve(keys->size());
        for (qint64 key : *keys)
            ids->push_back(ObjectID{request.entityName, key});
    } else if (m_parent) {
        bool ok = false;
        m_parent->performAndWait([&] { ok = m_parent->visibleKeys(request, ids, error); });
        if (!ok)
            return false;
    } else {
        if (error)
            *error = Error{ErrorDomain, 134060, QStringLiteral("The context has no store"), {}, {}};
        return false;
    }
    // This context's unsaved changes over what is below, as overlayChanges
    // makes them for rows.
    std::set<ObjectID> dropped(m_deletedKeys.begin(), m_deletedKeys.end());
    std::vector<ObjectID> added;
    for (const auto& [id, object] : m_changed) {
        if (id.entity != request.entityName || !object->hasChanges())
            continue;
        if (request.keyRange && (id.key < request.keyRange->first || id.key > request.keyRange->second))
            continue;
        dropped.insert(id);
        if (object->m_deleted)
            continue;
        const QVariantMap values = object->m_values.storedValues();
        if (!request.predicate ||
            request.predicate->evaluate([&](const QString& key) { return values.value(key); }))
            added.push_back(id);
    }
    if (dropped.empty())
        return true;
    std::erase_if(*ids, [&](const ObjectID& id) { return dropped.contains(id); });
    if (!added.empty()) {
        ids->insert(ids->end(), added.begin(), added.end());
        std::sort(ids->begin(), ids->end());
    }
    return true;
}

std::vector<ObjectID> ManagedObjectContext::fetchObjectIDs(const FetchRequest& request, Error* error)
{
    QUILLARY_ASSERT_ON_QUEUE();
    processPendingChanges();
    const ManagedObjectModel* objectModel = model();
    if (!objectModel || !objectModel->entity(request.entityName)) {
        if (error)
            *error = Error{ErrorDomain,
                           134060,
                           QStringLiteral("No such kind of record: %1").arg(request.entityName),
                           {},
                           {}};
        return {};
    }
    std::vector<ObjectID> ids;
    if (!visibleKeys(request, &ids, error))
        return {};
    return ids;
}

qint64 ManagedObjectContext::count(const FetchRequest& request, Error* error)
{
    QUILLARY_ASSERT_ON_QUEUE();
    processPendingChanges();
    RowMap rows;
    if (!visibleRows(request, &rows, error))
        return -1;
    const qint64 found = qint64(rows.size());
    return request.fetchLimit > 0 ? std::min<qint64>(found, request.fetchLimit) : found;
}

void ManagedObjectContext::refresh(ManagedObject* object, bool mergeChanges)
{
    if (!object || object->m_context != this || object->m_inserted || object->m_deleted || object->m_fault)
        return;
    if (mergeChanges && object->hasChanges())
        return;
    object->m_changedKeys.clear();
    object->m_updated = false;
    object->m_values.clear();
    object->m_unloadedKeys.clear();
    object->m_foldedTexts.clear();
    object->m_fault = true;
    ++m_refreshCount;
}

void ManagedObjectContext::acceptChildChanges(const StoreChanges& changes)
{
    for (const auto& row : changes.inserted) {
        ManagedObject* object = objectWithID(row.objectID);
        if (!object)
            continue;
        object->m_values = row.values;
        object->m_unloadedKeys.clear();
        object->m_fault = false;
        object->m_deleted = false;
        object->m_deletionSaved = false;
        object->m_vanished = false;
        object->m_inserted = true;
        m_changed.emplace(object->m_objectID, object);
        m_pendingInserted.push_back(object);
    }
    for (const auto& row : changes.updated) {
        ManagedObject* object = objectWithID(row.objectID);
        if (!object)
            continue;
        if (!object->m_deleted)
            object->fulfill(); // a record gone from the file shows as deleted now
        if (object->m_deleted) {
            // Deleted here, edited there: the edit wins, so nothing is lost.
            // The child's copy is whole, so the record comes back with every
            // value, also when this context held it only as a fault; values
            // this context holds are the newer ones for the keys the child
            // did not change.
            QVariantMap whole = row.fullValues;
            const QVariantMap held = object->m_values.storedValues();
            for (auto it = held.cbegin(); it != held.cend(); ++it)
                whole.insert(it.key(), it.value());
            object->m_deleted = false;
            object->m_deletionSaved = false;
            object->m_vanished = false;
            object->m_fault = false;
            object->m_values = whole;
            object->m_unloadedKeys.clear();
            object->m_foldedTexts.clear();
            for (auto it = whole.cbegin(); it != whole.cend(); ++it)
                object->m_changedKeys.insert(it.key());
            m_changed.emplace(object->m_objectID, object);
        }
        for (auto it = row.values.cbegin(); it != row.values.cend(); ++it)
            object->setValue(it.key(), it.value());
    }
    // What the child deleted without an object gets none here either.
    removeObjectsWithIDs(changes.deleted);
    processPendingChanges();
}

void ManagedObjectContext::forgetSavedChanges()
{
    std::erase_if(m_changed, [](const auto& entry) { return !entry.second->hasChanges(); });
}

StoreChanges ManagedObjectContext::pendingChanges(std::vector<ManagedObject*>* changed) const
{
    StoreChanges changes;
    changes.deleted.assign(m_deletedKeys.begin(), m_deletedKeys.end());
    for (const auto& [id, o] : m_changed) {
        if (!o->hasChanges())
            continue;
        changed->push_back(o);
        if (o->m_deleted) {
            if (!o->m_inserted)
                changes.deleted.push_back(id);
        } else if (o->m_inserted) {
            changes.inserted.push_back({id, o->m_values.storedValues(), {}});
        } else {
            changes.updated.push_back(
                {id, storedValues(o->m_entity, o->changedValues()), o->m_values.storedValues()});
        }
    }
    return changes;
}

void ManagedObjectContext::didSave(const std::vector<ManagedObject*>& changed)
{
    QStringList insertedIDs, updatedIDs, deletedIDs;
    for (ManagedObject* o : changed) {
        (o->m_deleted    ? deletedIDs
         : o->m_inserted ? insertedIDs
                         : updatedIDs)
            << o->m_objectID.uriRepresentation();
        o->m_inserted = false;
        o->m_updated = false;
        o->m_changedKeys.clear();
        o->m_deletionSaved = o->m_deleted;
    }
    for (const ObjectID& id : std::exchange(m_deletedKeys, {}))
        deletedIDs << id.uriRepresentation();
    forgetSavedChanges();
    NotificationCenter::defaultCenter().post(ContextDidSaveNotification, this,
                                             {{QStringLiteral("inserted"), insertedIDs},
                                              {QStringLiteral("updated"), updatedIDs},
                                              {QStringLiteral("deleted"), deletedIDs}});
}

bool ManagedObjectContext::saveToParent(Error* error)
{
    (void)error;
    std::vector<ManagedObject*> changed;
    const StoreChanges changes = pendingChanges(&changed);
    m_parent->performAndWait([&] { m_parent->acceptChildChanges(changes); });
    didSave(changed);
    return true;
}

bool ManagedObjectContext::saveToStore(Error* error)
{
    std::vector<ManagedObject*> changed;
    const StoreChanges changes = pendingChanges(&changed);
    if (!m_coordinator->write(changes, error))
        return false;
    didSave(changed);
    return true;
}

bool ManagedObjectContext::save(Error* error)
{
    QUILLARY_ASSERT_ON_QUEUE();
    processPendingChanges();
    if (!hasChanges())
        return true;
    if (m_coordinator)
        return saveToStore(error);
    if (m_parent)
        return saveToParent(error);
    if (error)
        *error = Error{ErrorDomain, 134060, QStringLiteral("The context has no store"), {}, {}};
    return false;
}

} // namespace platform
