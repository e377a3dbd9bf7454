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
#include "store/QVRDefaultsKeys.h"
#include "store/QVRLocalizedString.h"

#include <QFileInfo>
#include <QThreadPool>

#include <cmath>

namespace {

const QString& kSyncTypeKey = QVRDefaultsKeys::SyncType;
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
    explicit InDelegate(QVRiCloudSync* owner) : m_owner(owner) {}
    void saveObjectWithAttributes(const QVRNoteAttributes& attributes) override
    {
        m_owner->saveObjectWithAttributes(attributes);
    }

private:
    QVRiCloudSync* m_owner;
};

} // namespace

QVRiCloudSync::QVRiCloudSync(QVRiCloudSyncHost* host, QObject* parent)
    : QObject(parent), m_host(host), m_inDelegate(std::make_shared<InDelegate>(this)),
      m_metadataQuery(std::make_unique<platform::MetadataQuery>()),
      m_tokenReader(&platform::ubiquityIdentityToken), m_alive(std::make_shared<bool>(true))
{
}

QVRiCloudSync::~QVRiCloudSync()
{
    *m_alive = false;
    m_pool.waitForDone();
    stopMetadataQuery();
}

void QVRiCloudSync::setKeyValueStore(platform::UbiquitousKeyValueStore* store)
{
    m_keyValueStore = store;
}

platform::UbiquitousKeyValueStore* QVRiCloudSync::keyValueStore() const
{
    return m_keyValueStore ? m_keyValueStore : &platform::UbiquitousKeyValueStore::defaultStore();
}

QString QVRiCloudSync::iCloudDataURL()
{
    if (m_iCloudDataURL.isEmpty()) {
        const QString root = platform::cloudRootPath();
        const QString container = platform::ubiquityContainerPath();
        if (!container.isEmpty()) {
            m_iCloudRootURL = root;
            m_iCloudDataURL = container + QLatin1Char('/') + kNotesFolder;
        }
    }
    return m_iCloudDataURL;
}

void QVRiCloudSync::runInBackground(std::function<void()> work)
{
    m_pool.start(std::move(work));
}

// --- choosing the method -----------------------------------------------------

void QVRiCloudSync::start()
{
    platform::UbiquityIdentityMonitor::shared().start();
    platform::UbiquitousKeyValueStore* store = keyValueStore();
    m_storeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        platform::UbiquitousKeyValueStore::DidChangeExternallyNotification, store,
        [this](const platform::Notification& n) {
            // The notice is posted on the main thread; a copy keeps it safe.
            updateStoreItems(n);
        });
    if (m_host->firstRun()) {
        const QVariant type = store->object(kSyncTypeKey);
        // The wait gives the cloud folder's copy of the key-value file time
        // to arrive from another machine. Without a cloud folder nothing can
        // arrive, and the first start would only say "One moment…" for 15 s.
        const double delay = m_tokenReader().isEmpty() ? 0.0 : type.isValid() ? 5.0 : 15.0;
        m_host->performAfterDelay(
            kCompareSyncType, [this, type] { compareSyncType(type); }, delay);
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
            if (m_host->firstRun())
                compareSyncType(value.typeId() == QMetaType::QString ? value : QVariant());
        } else {
            m_host->ubiquitousKeyUpdated(key, value);
        }
    }
}

void QVRiCloudSync::compareSyncType(const QVariant& type)
{
    m_host->cancelPerform(kCompareSyncType);
    if (!type.isValid() || type.toString() == QLatin1String("Quorvane")) {
        if (m_host->promptForQuorvane())
            return;
    }
    enableiCloud();
}

// --- enabling and disabling -----------------------------------------------------

void QVRiCloudSync::enableiCloud()
{
    if (m_host->step() == QVRSyncStep::Resetting)
        return;
    m_host->setReady(false);
    m_host->setStep(QVRSyncStep::Starting);
    const std::function<QByteArray()> reader = m_tokenReader;
    std::weak_ptr<bool> alive = m_alive;
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
        m_iCloudAvailable = true;
    if (m_iCloudAvailable && !m_host->quorvaneEnabled() && m_host->quorvaneEmail().isEmpty()) {
        m_host->setICloudEnabled(true);
        m_host->setStep(QVRSyncStep::Syncing);
        iCloudDataURL();
        if (folderEmpty)
            platform::log(QStringLiteral("iCloud storage is empty"));
        if (!updateiCloudToken(token, folderEmpty)) {
            stopMetadataQuery();
            startMetadataQuery();
        }
        // Every pass subscribes; one subscription is enough.
        if (!m_identityObserver.isActive())
            m_identityObserver = platform::NotificationCenter::defaultCenter().addObserver(
                platform::UbiquityIdentityDidChangeNotification, nullptr,
                [this](const platform::Notification&) {
                    QMetaObject::invokeMethod(
                        this, [this] { compareiCloudToken(); }, Qt::QueuedConnection);
                });
    } else if (m_host->iCloudEnabled()) {
        disableiCloud();
    }
    finishPass();
}

void QVRiCloudSync::finishPass()
{
    const bool wasStarted = m_host->started();
    m_host->setStarted(true);
    m_host->setReady(true);
    m_host->setStepWait();
    if (wasStarted)
        return;
    if (!m_host->iCloudEnabled() && m_host->promptForQuorvane()) {
        m_host->registerWithNotificationCenter();
    } else {
        m_host->sync();
        m_host->registerWithNotificationCenter();
    }
}

void QVRiCloudSync::disableiCloud()
{
    m_host->setICloudEnabled(false);
    m_iCloudDataURL.clear();
    m_iCloudRootURL.clear();
    m_identityObserver.reset();
    stopMetadataQuery();
    resetOperationQueue();
    updateiCloudToken(QByteArray(), false);
}

// --- identity token -----------------------------------------------------------

void QVRiCloudSync::compareiCloudToken()
{
    const std::function<QByteArray()> reader = m_tokenReader;
    std::weak_ptr<bool> alive = m_alive;
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
    const QByteArray stored = QVRDefaultsKeys::value(defaults, QVRDefaultsKeys::CloudToken);
    if (!force && tokenIsEqualToToken(stored, token))
        return false;
    platform::log(
        QStringLiteral("iCloud token changed: %1 to %2").arg(describeToken(stored), describeToken(token)));
    if (!token.isEmpty()) {
        stopMetadataQuery();
        QVRDefaultsKeys::set(defaults, QVRDefaultsKeys::CloudToken, token);
        saveAllObjectsToiCloud();
        startMetadataQuery();
    } else {
        defaults.remove(QVRDefaultsKeys::CloudToken);
    }
    return true;
}

// --- the folder query -------------------------------------------------------------

void QVRiCloudSync::startMetadataQuery()
{
    if (m_metadataQuery->isStarted())
        return;
    // Replacing the tokens keeps one subscription however often this runs.
    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
    m_gatheringObserver =
        center.addObserver(platform::MetadataQuery::DidFinishGatheringNotification, m_metadataQuery.get(),
                           [this](const platform::Notification& n) { updateUbiquitousData(n); });
    m_updateObserver =
        center.addObserver(platform::MetadataQuery::DidUpdateNotification, m_metadataQuery.get(),
                           [this](const platform::Notification& n) { updateUbiquitousData(n); });
    const QString notes = iCloudDataURL();
    m_metadataQuery->setSearchPath(notes.isEmpty() ? QString() : QFileInfo(notes).path());
    m_metadataQuery->setNameSuffix(QStringLiteral(".quillary"));
    if (!m_metadataQuery->start())
        platform::log(QStringLiteral("iCloud query failed to start."));
    m_metadataQueryDate = platform::now();
}

void QVRiCloudSync::stopMetadataQuery()
{
    if (!m_metadataQuery || !m_metadataQuery->isStarted())
        return;
    m_gatheringObserver.reset();
    m_updateObserver.reset();
    m_metadataQuery->stop();
    m_addingToOperationQueue = false;
}

bool QVRiCloudSync::timeToRestartMetadataQuery() const
{
    const qint64 minutes = qint64(std::floor((platform::now() - m_metadataQueryDate) / 60.0));
    const qint64 limit = m_host->applicationState() == QVRApplicationState::Background ? 30 : 10;
    return minutes > limit;
}

void QVRiCloudSync::restartMetadataQuery()
{
    if (m_host->active())
        return;
    if (m_host->forceUpdate() || timeToRestartMetadataQuery()) {
        m_host->setForceUpdate(false);
        enableiCloud();
    }
}

// --- import and export -------------------------------------------------------------

void QVRiCloudSync::updateUbiquitousData(const platform::Notification& notification)
{
    if (!m_host->iCloudEnabled())
        return;
    m_host->setStep(QVRSyncStep::Transferred);
    QList<platform::MetadataItem> items;
    items += notification.userInfo.value(platform::MetadataQuery::AddedItemsKey)
                 .value<QList<platform::MetadataItem>>();
    items += notification.userInfo.value(platform::MetadataQuery::ChangedItemsKey)
                 .value<QList<platform::MetadataItem>>();
    items += notification.userInfo.value(platform::MetadataQuery::RemovedItemsKey)
                 .value<QList<platform::MetadataItem>>();
    if (items.isEmpty())
        items = m_metadataQuery->results();
    platform::OperationQueue* queue = m_host->operationQueueWithCount(kCloudQueueWidth);
    m_host->cancelPerform(kOperationQueueComplete);
    // Added on this thread, with the flag held from the first add to the last,
    // so the queue-empty rule cannot end the cycle in the middle of a batch.
    m_addingToOperationQueue = true;
    QVRDataStore* store = m_host->dataStore();
    const double historyDate = m_host->historyDate();
    for (const platform::MetadataItem& item : items) {
        auto operation = QVRSyncInOperation::operationForMetadataItem(item);
        operation->setDelegate(m_inDelegate);
        operation->setParentObjectContext(store ? store->context() : nullptr);
        operation->setHistoryDate(historyDate);
        queue->addOperation(operation);
    }
    m_addingToOperationQueue = false;
    // With nothing queued, or everything already done, no queue change will
    // come to end the cycle: end it here.
    if (queue->operationCount() == 0)
        m_host->performAfterDelay(
            kOperationQueueComplete, [this] { operationQueueComplete(); }, 0.1);
}

void QVRiCloudSync::saveObjectToiCloud(const QString& uuid)
{
    m_host->setStep(QVRSyncStep::Transferred);
    platform::OperationQueue* queue = m_host->operationQueueWithCount(kCloudQueueWidth);
    auto operation = QVRSyncOutOperation::operationForUUID(uuid);
    QVRDataStore* store = m_host->dataStore();
    operation->setParentObjectContext(store ? store->context() : nullptr);
    operation->setCloudURL(iCloudDataURL());
    operation->setCloudRootURL(m_iCloudRootURL);
    queue->addOperation(operation);
}

void QVRiCloudSync::saveAllObjectsToiCloud()
{
    m_host->setStep(QVRSyncStep::Syncing);
    const std::vector<QVRNoteAttributes> notes = m_host->allObjects();
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
    QVRDataStore* store = m_host->dataStore();
    if (!uuid.isEmpty() && modified.isValid() && store && store->context() &&
        QVRSyncInOperation::storeHoldsNoteNotOlderThan(uuid, modified.toDouble(), store->context()))
        return;
    m_host->saveObjectWithAttributes(attributes);
}

void QVRiCloudSync::operationQueueComplete()
{
    m_host->setStepWait();
}

void QVRiCloudSync::resetOperationQueue()
{
    if (platform::OperationQueue* queue = m_host->operationQueue())
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
    m_host->promptWithTitle(QVRLocalizedString(QStringLiteral("Reset iCloud Sync")), message,
                            QVRLocalizedString(QStringLiteral("Reset")),
                            QVRLocalizedString(QStringLiteral("Cancel")), [this](bool accepted) {
                                if (accepted)
                                    resetiCloud();
                            });
}

void QVRiCloudSync::resetiCloud()
{
    m_host->setStep(QVRSyncStep::Resetting);
    m_host->setStarted(false);
    m_host->setReady(false);
    disableiCloud();
    // Disabling ends the queue's cycle, which leaves step 1; the step must
    // hold until the folder is gone, or a sync pass could enable the cloud
    // again and export into the folder being removed.
    m_host->setStep(QVRSyncStep::Resetting);
    std::weak_ptr<bool> alive = m_alive;
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
                m_host->setStep(QVRSyncStep::Starting);
                enableiCloud();
            },
            Qt::QueuedConnection);
    });
}
