#include "sync/QVRiCloudSync.h"

#include "sync/QVRSyncDocument.h"
#include "sync/QVRSyncInOperation.h"
#include "sync/QVRSyncOutOperation.h"

#include "platform/cloud/MetadataQuery.h"
#include "platform/cloud/UbiquitousKeyValueStore.h"
#include "platform/cloud/Ubiquity.h"
#include "platform/core/Clock.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/files/FileOperations.h"
#include "platform/ops/OperationQueue.h"
#include "platform/predicate/Predicate.h"
#include "store/QVRDataStore.h"
#include "store/QVRLocalizedString.h"

#include <QFileInfo>
#include <QThreadPool>

#include <cmath>

namespace {

const QString kSyncTypeKey = QStringLiteral("QVRSyncType");
const QString kTokenKey = QStringLiteral("iCloudToken");
const QString kCompareSyncType = QStringLiteral("compareSyncType:");
const QString kOperationQueueComplete = QStringLiteral("operationQueueComplete");
const QString kNotesFolder = QStringLiteral("Notes");
constexpr int kCloudQueueWidth = 30;

// A token names a folder: its path, then its file identity after a NUL.
QString describeToken(const QByteArray& token)
{
    if (token.isEmpty())
        return QStringLiteral("(null)");
    QByteArray shown = token;
    shown.replace('\0', ' ');
    return QStringLiteral("<%1>").arg(QString::fromUtf8(shown));
}

// The imported attributes go through the manager, which checks once more,
// on the main thread, that no newer note arrived in the meantime.
class InDelegate : public QVRSyncInOperationDelegate
{
public:
    explicit InDelegate(QVRiCloudSync* owner) : owner_(owner) {}
    void saveObjectWithAttributes(const QVRNoteAttributes& attributes) override
    {
        owner_->saveObjectWithAttributes(attributes);
    }

private:
    QVRiCloudSync* owner_;
};

} // namespace

QVRiCloudSync::QVRiCloudSync(QVRiCloudSyncHost* host, QObject* parent)
    : QObject(parent), host_(host), inDelegate_(std::make_shared<InDelegate>(this)),
      metadataQuery_(std::make_unique<platform::MetadataQuery>()),
      tokenReader_(&platform::ubiquityIdentityToken), alive_(std::make_shared<bool>(true))
{
}

QVRiCloudSync::~QVRiCloudSync()
{
    *alive_ = false;
    pool_.waitForDone();
    stopMetadataQuery();
}

void QVRiCloudSync::setKeyValueStore(platform::UbiquitousKeyValueStore* store)
{
    keyValueStore_ = store;
}

platform::UbiquitousKeyValueStore* QVRiCloudSync::keyValueStore() const
{
    return keyValueStore_ ? keyValueStore_ : &platform::UbiquitousKeyValueStore::defaultStore();
}

QString QVRiCloudSync::iCloudDataURL()
{
    if (iCloudDataURL_.isEmpty()) {
        const QString root = platform::cloudRootPath();
        const QString container = platform::ubiquityContainerPath();
        if (!container.isEmpty()) {
            iCloudRootURL_ = root;
            iCloudDataURL_ = container + QLatin1Char('/') + kNotesFolder;
        }
    }
    return iCloudDataURL_;
}

void QVRiCloudSync::runInBackground(std::function<void()> work)
{
    pool_.start(std::move(work));
}

// --- choosing the method -----------------------------------------------------

void QVRiCloudSync::start()
{
    platform::UbiquityIdentityMonitor::shared().start();
    platform::UbiquitousKeyValueStore* store = keyValueStore();
    storeObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        platform::UbiquitousKeyValueStore::DidChangeExternallyNotification, store,
        [this](const platform::Notification& n) {
            // The notice is posted on the main thread; a copy keeps it safe.
            updateStoreItems(n);
        });
    if (host_->firstRun()) {
        const QVariant type = store->object(kSyncTypeKey);
        host_->performAfterDelay(
            kCompareSyncType, [this, type] { compareSyncType(type); }, type.isValid() ? 5.0 : 15.0);
    } else {
        enableiCloud();
    }
}

void QVRiCloudSync::stop()
{
    stopMetadataQuery();
    resetOperationQueue();
}

void QVRiCloudSync::updateStoreItems(const platform::Notification& notification)
{
    const int reason =
        notification.userInfo.value(platform::UbiquitousKeyValueStore::ChangeReasonKey, -1).toInt();
    if (reason < 0 || reason >= platform::UbiquitousKeyValueStore::QuotaViolationChange)
        return;
    const QStringList keys =
        notification.userInfo.value(platform::UbiquitousKeyValueStore::ChangedKeysKey).toStringList();
    for (const QString& key : keys) {
        const QVariant value = keyValueStore()->object(key);
        if (key == kSyncTypeKey) {
            if (host_->firstRun())
                compareSyncType(value.typeId() == QMetaType::QString ? value : QVariant());
        } else {
            host_->ubiquitousKeyUpdated(key, value);
        }
    }
}

void QVRiCloudSync::compareSyncType(const QVariant& type)
{
    host_->cancelPerform(kCompareSyncType);
    if (!type.isValid() || type.toString() == QLatin1String("Quorvane")) {
        if (host_->promptForQuorvane())
            return;
    }
    enableiCloud();
}

// --- enabling and disabling -----------------------------------------------------

void QVRiCloudSync::enableiCloud()
{
    if (host_->step() == 1)
        return;
    host_->setReady(false);
    host_->setStep(0);
    const std::function<QByteArray()> reader = tokenReader_;
    std::weak_ptr<bool> alive = alive_;
    runInBackground([this, reader, alive] {
        const QByteArray token = reader();
        const QString container = token.isEmpty() ? QString() : platform::ubiquityContainerPath();
        const bool folderEmpty = container.isEmpty() || !SyncUtilities::directoryHasContents(
                                                            container + QLatin1Char('/') + kNotesFolder);
        QMetaObject::invokeMethod(
            this,
            [this, alive, token, folderEmpty] {
                if (alive.lock())
                    finishEnabling(folderEmpty, token);
            },
            Qt::QueuedConnection);
    });
}

void QVRiCloudSync::finishEnabling(bool folderEmpty, const QByteArray& token)
{
    if (!token.isEmpty())
        iCloudAvailable_ = true;
    if (iCloudAvailable_ && !host_->quorvaneEnabled() && host_->quorvaneEmail().isEmpty()) {
        host_->setICloudEnabled(true);
        host_->setStep(2);
        iCloudDataURL();
        if (folderEmpty)
            platform::log(QStringLiteral("iCloud storage is empty"));
        if (!updateiCloudToken(token, folderEmpty)) {
            stopMetadataQuery();
            startMetadataQuery();
        }
        // Every pass subscribes; one subscription is enough.
        if (!identityObserver_.isActive())
            identityObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
                platform::UbiquityIdentityDidChangeNotification, nullptr,
                [this](const platform::Notification&) {
                    QMetaObject::invokeMethod(
                        this, [this] { compareiCloudToken(); }, Qt::QueuedConnection);
                });
    } else if (host_->iCloudEnabled()) {
        disableiCloud();
    }
    finishPass();
}

void QVRiCloudSync::finishPass()
{
    const bool wasStarted = host_->started();
    host_->setStarted(true);
    host_->setReady(true);
    host_->setStepWait();
    if (wasStarted)
        return;
    if (!host_->iCloudEnabled() && host_->promptForQuorvane()) {
        host_->registerWithNotificationCenter();
    } else {
        host_->sync();
        host_->registerWithNotificationCenter();
    }
}

void QVRiCloudSync::disableiCloud()
{
    host_->setICloudEnabled(false);
    iCloudDataURL_.clear();
    iCloudRootURL_.clear();
    identityObserver_.reset();
    stopMetadataQuery();
    resetOperationQueue();
    updateiCloudToken(QByteArray(), false);
}

// --- identity token -----------------------------------------------------------

void QVRiCloudSync::compareiCloudToken()
{
    const std::function<QByteArray()> reader = tokenReader_;
    std::weak_ptr<bool> alive = alive_;
    runInBackground([this, reader, alive] {
        const QByteArray token = reader();
        QMetaObject::invokeMethod(
            this,
            [this, alive, token] {
                if (alive.lock())
                    updateiCloudToken(token, false);
            },
            Qt::QueuedConnection);
    });
}

bool QVRiCloudSync::tokenIsEqualToToken(const QByteArray& token, const QByteArray& otherToken)
{
    if (token.isEmpty() || otherToken.isEmpty())
        return token.isEmpty() && otherToken.isEmpty();
    return token == otherToken;
}

bool QVRiCloudSync::updateiCloudToken(const QByteArray& token, bool force)
{
    platform::UserDefaults& defaults = QVRDataStore::sharedDefaults();
    const QVariant storedValue = defaults.object(kTokenKey);
    const QByteArray stored =
        storedValue.typeId() == QMetaType::QByteArray ? storedValue.toByteArray() : QByteArray();
    if (!force && tokenIsEqualToToken(stored, token))
        return false;
    platform::log(
        QStringLiteral("iCloud token changed: %1 to %2").arg(describeToken(stored), describeToken(token)));
    if (!token.isEmpty()) {
        stopMetadataQuery();
        defaults.set(kTokenKey, token);
        saveAllObjectsToiCloud();
        startMetadataQuery();
    } else {
        defaults.remove(kTokenKey);
    }
    return true;
}

// --- the folder query -------------------------------------------------------------

void QVRiCloudSync::startMetadataQuery()
{
    if (metadataQuery_->isStarted())
        return;
    // Replacing the tokens keeps one subscription however often this runs.
    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
    gatheringObserver_ =
        center.addObserver(platform::MetadataQuery::DidFinishGatheringNotification, metadataQuery_.get(),
                           [this](const platform::Notification& n) { updateUbiquitousData(n); });
    updateObserver_ =
        center.addObserver(platform::MetadataQuery::DidUpdateNotification, metadataQuery_.get(),
                           [this](const platform::Notification& n) { updateUbiquitousData(n); });
    const QString notes = iCloudDataURL();
    metadataQuery_->setSearchPath(notes.isEmpty() ? QString() : QFileInfo(notes).path());
    metadataQuery_->setNameSuffix(QStringLiteral(".quillary"));
    if (!metadataQuery_->start())
        platform::log(QStringLiteral("iCloud query failed to start."));
    metadataQueryDate_ = platform::now();
}

void QVRiCloudSync::stopMetadataQuery()
{
    if (!metadataQuery_ || !metadataQuery_->isStarted())
        return;
    gatheringObserver_.reset();
    updateObserver_.reset();
    metadataQuery_->stop();
    addingToOperationQueue_ = false;
}

bool QVRiCloudSync::timeToRestartMetadataQuery() const
{
    const qint64 minutes = qint64(std::floor((platform::now() - metadataQueryDate_) / 60.0));
    const qint64 limit = host_->applicationState() == 2 ? 30 : 10;
    return minutes > limit;
}

void QVRiCloudSync::restartMetadataQuery()
{
    if (host_->active())
        return;
    if (host_->forceUpdate() || timeToRestartMetadataQuery()) {
        host_->setForceUpdate(false);
        enableiCloud();
    }
}

// --- import and export -------------------------------------------------------------

void QVRiCloudSync::updateUbiquitousData(const platform::Notification& notification)
{
    if (!host_->iCloudEnabled())
        return;
    host_->setStep(3);
    QList<platform::MetadataItem> items;
    items += notification.userInfo.value(platform::MetadataQuery::AddedItemsKey)
                 .value<QList<platform::MetadataItem>>();
    items += notification.userInfo.value(platform::MetadataQuery::ChangedItemsKey)
                 .value<QList<platform::MetadataItem>>();
    items += notification.userInfo.value(platform::MetadataQuery::RemovedItemsKey)
                 .value<QList<platform::MetadataItem>>();
    if (items.isEmpty())
        items = metadataQuery_->results();
    platform::OperationQueue* queue = host_->operationQueueWithCount(kCloudQueueWidth);
    host_->cancelPerform(kOperationQueueComplete);
    // Added on this thread, with the flag held from the first add to the last,
    // so the queue-empty rule cannot end the cycle in the middle of a batch.
    addingToOperationQueue_ = true;
    QVRDataStore* store = host_->dataStore();
    const double historyDate = host_->historyDate();
    for (const platform::MetadataItem& item : items) {
        auto operation = QVRSyncInOperation::operationForMetadataItem(item);
        operation->setDelegate(inDelegate_);
        operation->setParentObjectContext(store ? store->context() : nullptr);
        operation->setHistoryDate(historyDate);
        queue->addOperation(operation);
    }
    addingToOperationQueue_ = false;
    // With nothing queued, or everything already done, no queue change will
    // come to end the cycle: end it here.
    if (queue->operationCount() == 0)
        host_->performAfterDelay(
            kOperationQueueComplete, [this] { operationQueueComplete(); }, 0.1);
}

void QVRiCloudSync::saveObjectToiCloud(const QString& uuid)
{
    host_->setStep(3);
    platform::OperationQueue* queue = host_->operationQueueWithCount(kCloudQueueWidth);
    auto operation = QVRSyncOutOperation::operationForUUID(uuid);
    QVRDataStore* store = host_->dataStore();
    operation->setParentObjectContext(store ? store->context() : nullptr);
    operation->setCloudURL(iCloudDataURL());
    operation->setCloudRootURL(iCloudRootURL_);
    queue->addOperation(operation);
}

void QVRiCloudSync::saveAllObjectsToiCloud()
{
    host_->setStep(2);
    const std::vector<QVRNoteAttributes> notes = host_->allObjects();
    for (const QVRNoteAttributes& note : notes) {
        const QString uuid = note.value(QVRNoteAttributeKey::uuid).toString();
        if (!uuid.isEmpty())
            saveObjectToiCloud(uuid);
    }
}

void QVRiCloudSync::saveObjectWithAttributes(const QVRNoteAttributes& attributes)
{
    // The operation judged newer-wins on its own thread; a local edit may
    // have landed since. Judge again here, where saves happen, so an import
    // never replaces newer text.
    const QString uuid = attributes.value(QVRNoteAttributeKey::uuid).toString();
    const QVariant modified = attributes.value(QVRNoteAttributeKey::modified);
    QVRDataStore* store = host_->dataStore();
    if (!uuid.isEmpty() && modified.isValid() && store && store->context() &&
        QVRSyncInOperation::storeHoldsNoteNotOlderThan(uuid, modified.toDouble(), store->context()))
        return;
    host_->saveObjectWithAttributes(attributes);
}

void QVRiCloudSync::operationQueueComplete()
{
    host_->setStepWait();
}

void QVRiCloudSync::resetOperationQueue()
{
    if (platform::OperationQueue* queue = host_->operationQueue())
        queue->cancelAllOperations();
    operationQueueComplete();
}

// --- reset ---------------------------------------------------------------------------

void QVRiCloudSync::promptForiCloudReset()
{
    const QString message = QVRLocalizedString(
        QStringLiteral("If you\u2019re having problems with iCloud syncing, you may need to reset it. This "
                       "will delete the app\u2019s sync "
                       "data from iCloud, then re-sync everything in the app back to\u00a0iCloud."));
    host_->promptWithTitle(QVRLocalizedString(QStringLiteral("Reset iCloud Sync")), message,
                           QVRLocalizedString(QStringLiteral("Reset")),
                           QVRLocalizedString(QStringLiteral("Cancel")), [this](bool accepted) {
                               if (accepted)
                                   resetiCloud();
                           });
}

void QVRiCloudSync::resetiCloud()
{
    host_->setStep(1);
    host_->setStarted(false);
    host_->setReady(false);
    disableiCloud();
    // Disabling ends the queue's cycle, which leaves step 1; the step must
    // hold until the folder is gone, or a sync pass could enable the cloud
    // again and export into the folder being removed.
    host_->setStep(1);
    std::weak_ptr<bool> alive = alive_;
    runInBackground([this, alive] {
        const QString container = platform::ubiquityContainerPath();
        const QString notes = container.isEmpty() ? QString() : container + QLatin1Char('/') + kNotesFolder;
        if (notes.isEmpty()) {
            // Without a container there is nothing to remove; the reset still
            // ends the way every other reset does.
            platform::log(QStringLiteral("Error removing folder from iCloud: %1, %2")
                              .arg(QStringLiteral("There is no cloud folder."), QVRDescribeUserInfo({})));
        } else {
            const QString local = QVRDataStore::cacheURLNamed(kNotesFolder, false, false);
            platform::Error error;
            if (local.isEmpty() || !platform::moveItemOutOfCloud(notes, local, &error)) {
                if (local.isEmpty())
                    error.localizedDescription = QStringLiteral("There is no caches folder.");
                platform::log(QStringLiteral("Error removing folder from iCloud: %1, %2")
                                  .arg(error.localizedDescription, QVRDescribeUserInfo(error.userInfo)));
            } else if (platform::removeItem(local, &error)) {
                // A Notes folder that is a link (sync tools carry links) goes
                // as the link: what it leads to is not ours to delete.
                platform::log(QStringLiteral("iCloud reset was a complete success"));
            } else {
                platform::log(QStringLiteral("Error deleting folder after removing it from iCloud: %1, %2")
                                  .arg(error.localizedDescription, QVRDescribeUserInfo(error.userInfo)));
            }
        }
        QMetaObject::invokeMethod(
            this,
            [this, alive] {
                if (!alive.lock())
                    return;
                host_->setStep(0);
                enableiCloud();
            },
            Qt::QueuedConnection);
    });
}
