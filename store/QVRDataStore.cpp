#include "store/QVRDataStore.h"

#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/core/Paths.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/Variant.h"
#include "platform/data/ManagedObjectModel.h"
#include "platform/data/PersistentStoreCoordinator.h"
#include "platform/plist/PropertyList.h"
#include "platform/predicate/Predicate.h"
#include "store/Note.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRLocalizedString.h"
#include "store/Queue.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef QUILLARY_BUILD_NUMBER
#define QUILLARY_BUILD_NUMBER 620
#endif

namespace {

const QString ErrorDomain = QStringLiteral("com.quorvane.datastore");
constexpr double StalenessInterval = 60.0;

// Whether the root's file write that a child's save set off succeeded. The
// did-save notice is delivered on the saving thread, inside the child's save,
// so the child reads the answer right after.
thread_local bool t_chainedSaveSucceeded = true;

QString describe(const QVariantMap& userInfo)
{
    QStringList parts;
    for (auto it = userInfo.cbegin(); it != userInfo.cend(); ++it)
        parts << QStringLiteral("%1 = %2").arg(it.key(), it.value().toString());
    return QStringLiteral("{") + parts.join(QStringLiteral("; ")) + QStringLiteral("}");
}

// Why the store could not be opened, as the user is told it: the
// coordinator's own words, then SQLite's when they add something. The path
// is left out; it is the user's own data folder.
QString failureReason(const platform::Error& error)
{
    const QString sqlite = error.userInfo.value(QStringLiteral("reason")).toString();
    if (sqlite.isEmpty() || error.localizedDescription.isEmpty())
        return error.localizedDescription.isEmpty() ? sqlite : error.localizedDescription;
    return QStringLiteral("%1 (%2).").arg(error.localizedDescription, sqlite);
}

// A stamp is a date; a value of another type (a hand-edited settings file)
// counts as no stamp.
std::optional<double> stampValue(const QVariant& value)
{
    if (platform::isNumber(value))
        return value.toDouble();
    if (value.typeId() == QMetaType::QDateTime)
        return double(value.toDateTime().toMSecsSinceEpoch()) / 1000.0;
    // A date as the settings file holds one.
    if (value.userType() == qMetaTypeId<platform::PlistDate>())
        return value.value<platform::PlistDate>().secondsSince1970;
    return std::nullopt;
}

QString ensureFolder(const QString& path)
{
    QDir().mkpath(path);
    return path;
}

} // namespace

QVRDataStore::~QVRDataStore()
{
    std::vector<std::shared_ptr<QVRDataStore>> children;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& weak : m_everyChild) {
            if (auto child = weak.lock())
                children.push_back(child);
        }
        m_everyChild.clear();
    }
    for (const auto& child : children)
        child->detachFromParent();
}

void QVRDataStore::detachFromParent()
{
    std::lock_guard lock(m_mutex);
    m_childSaveObserver.reset();
    m_parentStore = nullptr;
    if (m_context)
        m_context->setParentContext(nullptr);
}

namespace {
std::atomic<QVRDataStore*> g_installedStore{nullptr};
}

void QVRDataStore::setSharedStore(QVRDataStore* store)
{
    g_installedStore.store(store, std::memory_order_release);
}

QVRDataStore* QVRDataStore::sharedStore()
{
    if (QVRDataStore* installed = g_installedStore.load(std::memory_order_acquire))
        return installed;
    // Built once, whichever thread asks first; it lives as long as the process.
    static QVRDataStore* const root = makeRootStore().release();
    return root;
}

std::unique_ptr<QVRDataStore> QVRDataStore::makeRootStore(const QString& storeURLOverride)
{
    std::unique_ptr<QVRDataStore> store(new QVRDataStore);
    store->m_refreshDate = platform::now();
    store->m_currentVersion = bundleCurrentVersion();
    store->m_previousVersion = recordedPreviousVersion();
    const QString url = storeURLOverride.isEmpty() ? storeURL() : storeURLOverride;
    if (!QFileInfo::exists(url) && store->m_previousVersion != 0) {
        platform::log(
            QStringLiteral("Database is missing but previous version is %1").arg(store->m_previousVersion));
        store->m_previousVersion = 0;
    }
    platform::Error openError;
    store->m_coordinator = persistentStoreCoordinatorWithModel(nullptr, url, &openError);
    if (!store->m_coordinator) {
        store->fatalErrorWithDescription(QStringLiteral("There was an error loading your data"), {},
                                         failureReason(openError));
        return store;
    }
    store->m_context =
        std::make_unique<platform::ManagedObjectContext>(platform::ConcurrencyType::PrivateQueue);
    store->m_context->setPersistentStoreCoordinator(store->m_coordinator);
    store->m_context->setMergePolicy(platform::MergePolicy::PropertyObjectTrump);
    store->m_context->setStalenessInterval(StalenessInterval);
    return store;
}

std::shared_ptr<QVRDataStore> QVRDataStore::storeWithParent(QVRDataStore* parent,
                                                            platform::ConcurrencyType concurrencyType)
{
    if (!parent || !parent->context())
        return nullptr;
    std::shared_ptr<QVRDataStore> child(new QVRDataStore);
    child->m_parentStore = parent;
    child->m_refreshDate = parent->refreshDate();
    child->m_context = std::make_unique<platform::ManagedObjectContext>(concurrencyType);
    child->m_context->setParentContext(parent->context());
    child->m_context->setStalenessInterval(StalenessInterval);
    child->m_childSaveObserver = platform::NotificationCenter::defaultCenter().addObserver(
        platform::ContextDidSaveNotification, child->m_context.get(),
        [parent](const platform::Notification& notification) {
            t_chainedSaveSucceeded = parent->saveData(notification);
        });
    std::lock_guard lock(parent->m_mutex);
    if (parent->m_childStores.empty())
        parent->m_childStores.reserve(1);
    parent->m_childStores.push_back(child);
    parent->m_everyChild.push_back(child);
    return child;
}

platform::UserDefaults& QVRDataStore::sharedDefaults()
{
    static platform::UserDefaults& defaults = platform::UserDefaults::standard();
    return defaults;
}

QString QVRDataStore::privateContainerURL()
{
    return ensureFolder(platform::applicationDataDirectory());
}

QString QVRDataStore::sharedContainerURL()
{
    return privateContainerURL();
}

QString QVRDataStore::storeURL()
{
    return sharedContainerURL() + QStringLiteral("/Quillary.sqlite");
}

QString QVRDataStore::sharedCachesURL()
{
    return ensureFolder(sharedContainerURL() + QStringLiteral("/Library/Caches"));
}

QString QVRDataStore::cachesURL()
{
    // The application's own cache folder: the user's cache root is shared by
    // every program, and cacheURLNamed() removes what it names.
    return platform::cacheDirectory();
}

QString QVRDataStore::externalRecordsURL()
{
    return ensureFolder(cachesURL() + QStringLiteral("/Metadata/CoreData/Quillary"));
}

QString QVRDataStore::cacheURLNamed(const QString& name, bool shared, bool create)
{
    if (name.isEmpty() || name == u"." || name == u".." || name.contains(QLatin1Char('/')) ||
        name.contains(QChar(0))) {
        platform::log(QStringLiteral("Refusing cache folder name \"%1\"").arg(name));
        return {};
    }
    const QString url = (shared ? sharedCachesURL() : cachesURL()) + QLatin1Char('/') + name;
    const QFileInfo info(url);
    if (info.exists() || info.isSymLink()) {
        const bool removed =
            info.isDir() && !info.isSymLink() ? QDir(url).removeRecursively() : QFile::remove(url);
        if (!removed)
            platform::log(QStringLiteral("Error removing items from cache: %1, %2")
                              .arg(QStringLiteral("could not remove %1").arg(url),
                                   describe({{QStringLiteral("path"), url}})));
    }
    if (create && !QDir().mkpath(url))
        platform::log(QStringLiteral("Error creating cache folder: %1, %2")
                          .arg(QStringLiteral("could not create %1").arg(url),
                               describe({{QStringLiteral("path"), url}})));
    return url;
}

std::shared_ptr<const platform::ManagedObjectModel> QVRDataStore::managedObjectModel()
{
    static const std::shared_ptr<const platform::ManagedObjectModel> model = [] {
        using platform::AttributeType;
        auto built = std::make_shared<platform::ManagedObjectModel>();
        built->version = 1;
        built->entities.push_back(platform::EntityDescription{
            QVRNoteEntityName,
            {
                {QStringLiteral("uuid"), AttributeType::String, {}, false, true},
                {QStringLiteral("text"), AttributeType::String, {}, false, false, true},
                {QStringLiteral("date"), AttributeType::Double, {}, false, false},
                {QStringLiteral("modified"), AttributeType::Double, {}, false, false},
                {QStringLiteral("archived"), AttributeType::Boolean, {}, false, false},
                // NO by default, so a note created archived is still found by
                // the search's "removed == NO".
                {QStringLiteral("removed"), AttributeType::Boolean, false, false, false},
                // A cache of the title rule; never written, so never stale on disk.
                {QStringLiteral("title"), AttributeType::String, {}, true, false},
            },
            &Note::create});
        built->entities.push_back(platform::EntityDescription{
            QVRQueueEntityName,
            {
                {QStringLiteral("uuid"), AttributeType::String, {}, false, true},
                {QStringLiteral("cmd"), AttributeType::String, {}, false, false},
                {QStringLiteral("query"), AttributeType::String, {}, false, false},
                {QStringLiteral("date"), AttributeType::Double, {}, false, false},
            },
            &Queue::create});
        return std::shared_ptr<const platform::ManagedObjectModel>(built);
    }();
    return model;
}

std::shared_ptr<platform::PersistentStoreCoordinator>
QVRDataStore::persistentStoreCoordinatorWithModel(std::shared_ptr<const platform::ManagedObjectModel> model,
                                                  const QString& url, platform::Error* openError)
{
    if (!model)
        model = managedObjectModel();
    if (url.isEmpty()) {
        platform::log(QStringLiteral("Unable to create persistent store without a storeURL"));
        return nullptr;
    }
    auto coordinator = std::make_shared<platform::PersistentStoreCoordinator>(model);
    platform::Error error;
    if (!coordinator->open(url, &error)) {
        platform::log(QStringLiteral("Unresolved error in persistentStoreCoordinator: %1 %2")
                          .arg(error.localizedDescription, describe(error.userInfo)));
        if (openError)
            *openError = error;
        return nullptr;
    }
    return coordinator;
}

quint64 QVRDataStore::bundleCurrentVersion()
{
    return quint64(QUILLARY_BUILD_NUMBER);
}

quint64 QVRDataStore::recordedPreviousVersion()
{
    const qint64 recorded = QVRDefaultsKeys::value(sharedDefaults(), QVRDefaultsKeys::LastInstalledVersion);
    return recorded > 0 ? quint64(recorded) : 0;
}

std::vector<std::shared_ptr<QVRDataStore>> QVRDataStore::childStores() const
{
    std::lock_guard lock(m_mutex);
    return m_childStores;
}

QString QVRDataStore::identifier() const
{
    std::lock_guard lock(m_mutex);
    return m_identifier;
}

void QVRDataStore::setIdentifier(const QString& identifier)
{
    std::lock_guard lock(m_mutex);
    m_identifier = identifier;
}

quint64 QVRDataStore::currentVersion() const
{
    return m_parentStore ? m_parentStore->currentVersion() : m_currentVersion;
}

quint64 QVRDataStore::previousVersion() const
{
    return m_parentStore ? m_parentStore->previousVersion() : m_previousVersion;
}

std::optional<platform::Error> QVRDataStore::error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

std::optional<platform::Error> QVRDataStore::lastSaveError() const
{
    std::lock_guard lock(m_mutex);
    return m_lastSaveError;
}

QString QVRDataStore::updatedKey() const
{
    return QVRDefaultsKeys::dataStoreUpdated(identifier());
}

void QVRDataStore::registerCurrentVersion()
{
    if (currentVersion() > previousVersion())
        QVRDefaultsKeys::set(sharedDefaults(), QVRDefaultsKeys::LastInstalledVersion,
                             qint64(currentVersion()));
}

bool QVRDataStore::saveData()
{
    if (m_parentStore)
        return saveData(platform::Notification{});
    bool ok = true;
    for (const auto& child : childStores())
        ok = child->requestSave() && ok;
    return saveData(platform::Notification{}) && ok;
}

bool QVRDataStore::saveData(const platform::Notification& notification)
{
    (void)notification;
    if (!m_context)
        return false;
    bool ok = true;
    m_context->performAndWait([&] {
        if (!m_context->hasChanges())
            return;
        platform::Error error;
        t_chainedSaveSucceeded = true;
        if (m_context->save(&error)) {
            // One date for both, so this store's own save never makes it
            // refresh.
            const double date = platform::now();
            sharedDefaults().set(updatedKey(), date);
            // Other processes learn from the stamp that the store changed; held
            // back, it could also land over a later stamp of theirs.
            sharedDefaults().synchronize();
            m_refreshDate = date;
            ok = t_chainedSaveSucceeded;
            std::optional<platform::Error> reason;
            if (!ok && m_parentStore)
                reason = m_parentStore->lastSaveError();
            std::lock_guard lock(m_mutex);
            m_lastSaveError = reason;
        } else {
            platform::log(QStringLiteral("Error in saveData: %1 %2")
                              .arg(error.localizedDescription, describe(error.userInfo)));
            fatalErrorWithDescription(QStringLiteral("There was an error saving your data"));
            ok = false;
            std::lock_guard lock(m_mutex);
            m_lastSaveError = error;
        }
        t_chainedSaveSucceeded = true;
    });
    return ok;
}

bool QVRDataStore::requestSave()
{
    if (m_delegate && m_delegate->dataStoreShouldSave(this))
        return saveData();
    return true;
}

bool QVRDataStore::inUse()
{
    return m_delegate && m_delegate->dataStoreInUse(this);
}

bool QVRDataStore::refreshObjects(bool force)
{
    if (inUse())
        return false;
    // The stamp may come from another process's save.
    sharedDefaults().synchronize();
    const std::optional<double> stamp = stampValue(sharedDefaults().object(updatedKey()));
    bool refreshed = false;
    if (force || (stamp && refreshDate() < *stamp)) {
        refreshUnchangedObjects();
        refreshed = true;
    }
    if (m_delegate)
        m_delegate->dataStoreRefreshed(this, refreshed);
    return refreshed;
}

bool QVRDataStore::refreshAllObjects()
{
    if (m_parentStore)
        return m_parentStore->refreshAllObjects();
    if (inUse())
        return false;
    bool refreshed = refreshUnchangedObjects();
    for (const auto& child : childStores()) {
        if (!child->inUse())
            refreshed = child->refreshUnchangedObjects() || refreshed;
    }
    return refreshed;
}

bool QVRDataStore::refreshUnchangedObjects()
{
    const int refreshed = refreshUnchanged(nullptr);
    m_refreshDate = platform::now();
    return refreshed > 0;
}

bool QVRDataStore::refreshObjectsWithIDs(const std::vector<platform::ObjectID>& ids)
{
    if (m_parentStore)
        return m_parentStore->refreshObjectsWithIDs(ids);
    if (ids.empty() || inUse())
        return false;
    const QSet<platform::ObjectID> only(ids.begin(), ids.end());
    bool refreshed = refreshUnchanged(&only) > 0;
    for (const auto& child : childStores()) {
        if (!child->inUse())
            refreshed = child->refreshUnchanged(&only) > 0 || refreshed;
    }
    return refreshed;
}

int QVRDataStore::refreshUnchanged(const QSet<platform::ObjectID>* only)
{
    int refreshed = 0;
    if (!m_context)
        return refreshed;
    // The registered objects are read on the context's own queue too:
    // another thread may be inserting into it.
    m_context->performAndWait([&] {
        // A few records (a batch another context saved) are looked up rather
        // than found among everything the context holds.
        std::vector<platform::ManagedObject*> objects;
        if (only) {
            for (const platform::ObjectID& id : *only) {
                if (platform::ManagedObject* object = m_context->registeredObject(id))
                    objects.push_back(object);
            }
        } else {
            objects = m_context->registeredObjects();
        }
        for (platform::ManagedObject* object : objects) {
            if (object->hasChanges() || object->isDeleted())
                continue;
            m_context->refresh(object, false);
            ++refreshed;
        }
    });
    return refreshed;
}

std::unique_ptr<platform::ManagedObjectContext> QVRDataStore::temporaryContext()
{
    if (!m_context)
        return nullptr;
    auto context = std::make_unique<platform::ManagedObjectContext>(platform::ConcurrencyType::PrivateQueue);
    context->setParentContext(m_context.get());
    return context;
}

bool QVRDataStore::saveTemporaryContext(platform::ManagedObjectContext* context, bool commit)
{
    if (!context)
        return false;
    bool result = false;
    context->performAndWait([&] {
        if (!context->hasChanges())
            return;
        // Copies of these elsewhere in the process are out of date once it
        // is saved; the others are not.
        std::vector<platform::ObjectID> changed = context->deletedObjectIDs();
        for (const platform::ManagedObject* object : context->updatedObjects())
            changed.push_back(object->objectID());
        platform::Error error;
        if (!context->save(&error)) {
            platform::log(QStringLiteral("Error in saveTemporaryContext: %1 %2")
                              .arg(error.localizedDescription, describe(error.userInfo)));
            return;
        }
        result = true;
        if (commit) {
            saveData();
            refreshObjectsWithIDs(changed);
        }
    });
    return result;
}

void QVRDataStore::close()
{
    if (!m_parentStore) {
        std::lock_guard lock(m_mutex);
        m_childStores.clear();
        return;
    }
    QVRDataStore* parent = m_parentStore;
    std::lock_guard lock(parent->m_mutex);
    std::erase_if(parent->m_childStores, [this](const auto& child) { return child.get() == this; });
}

QString QVRDataStore::supportURL()
{
    return QStringLiteral("https://quillary.quorvane.com/support/quillary-mac/");
}

QString QVRDataStore::defaultRecoverySuggestion()
{
    return QStringLiteral("If you continue to see this error, please try deleting and reinstalling the app, "
                          "or visit %1 for help.")
        .arg(supportURL());
}

void QVRDataStore::fatalErrorWithDescription(const QString& description, const QString& suggestion,
                                             const QString& reason)
{
    const QString localizedDescription = QVRLocalizedString(description);
    const QString localizedSuggestion =
        QVRLocalizedString(suggestion.isNull() ? defaultRecoverySuggestion() : suggestion);
    platform::Error error;
    error.domain = ErrorDomain;
    error.code = 100;
    error.localizedDescription = localizedDescription;
    error.recoverySuggestion = localizedSuggestion;
    error.userInfo = {{QStringLiteral("NSLocalizedDescription"), localizedDescription},
                      {QStringLiteral("NSLocalizedRecoverySuggestion"), localizedSuggestion}};
    if (!reason.isEmpty())
        error.userInfo.insert(QStringLiteral("NSLocalizedFailureReason"), reason);
    std::lock_guard lock(m_mutex);
    m_error = error;
}

std::vector<platform::ManagedObject*> QVRDataStore::objectsWithUUID(platform::ManagedObjectContext* context,
                                                                    const QString& entityName,
                                                                    const QString& uuid, int limit,
                                                                    platform::Error* error)
{
    if (!context || uuid.isNull())
        return {};
    platform::FetchRequest request;
    request.entityName = entityName;
    request.predicate = platform::Predicate::parse(QStringLiteral("uuid == %@"), {uuid});
    request.fetchLimit = limit;
    return context->fetch(request, error);
}

platform::ManagedObject* QVRDataStore::noteWithUUID(platform::ManagedObjectContext* context,
                                                    const QString& uuid, platform::Error* error)
{
    const auto notes = objectsWithUUID(context, QVRNoteEntityName, uuid, 1, error);
    return notes.empty() ? nullptr : notes.front();
}
