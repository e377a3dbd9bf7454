#include "sync/QVRSyncManager.h"

#include "platform/core/Clock.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/core/SystemChanges.h"
#include "platform/core/UserDefaults.h"
#include "platform/data/MainQueue.h"
#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/ops/OperationQueue.h"
#include "platform/predicate/Predicate.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "store/QVRDateFormatter.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRSyncObject.h"
#include "store/QVRUtilities.h"
#include "store/Queue.h"
#include "sync/QVRSyncQueue.h"
#include "sync/QVRSyncService.h"
#include "sync/QVRURLSession.h"

#include <QDBusConnection>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <atomic>
#include <cfloat>
#include <cmath>
#include <limits>

#ifdef __GLIBC__
#include <malloc.h>
#endif

const QString QVRSyncChangeNotification = QStringLiteral("QVRSyncChangeNotification");
const QString QVRSyncCompleteNotification = QStringLiteral("QVRSyncCompleteNotification");
const QString QVRSyncFailureNotification = QStringLiteral("QVRSyncFailureNotification");
const QString QVRSyncSettingsErrorNotification = QStringLiteral("QVRSyncSettingsErrorNotification");
const QString QVRSyncSuccessNotification = QStringLiteral("QVRSyncSuccessNotification");
const QString QVRTimeChangeNotification = QStringLiteral("QVRTimeChangeNotification");
const QString QVRLocaleChangeNotification = QStringLiteral("QVRLocaleChangeNotification");
const QString QVRSyncStatusKey = QStringLiteral("QVRSyncStatusKey");

namespace {

const QString kOperationQueueComplete = QStringLiteral("operationQueueComplete");
const QString kStepComplete = QStringLiteral("setStepComplete");

// Numbers on the wire: six decimals and a point, whatever the user's locale.
QString number(double value)
{
    return QString::number(value, 'f', 6);
}

QString escape(const QString& s)
{
    return QVRUtilities::fullEscape(s);
}

// The leading number of a text, 0 when there is none ("12.5abc" is 12.5).
double numberPrefix(const QString& text)
{
    const QString trimmed = text.trimmed();
    qsizetype end = 0;
    while (end < trimmed.size() && (trimmed[end].isDigit() || QStringLiteral("+-.eE").contains(trimmed[end])))
        ++end;
    for (; end > 0; --end) {
        bool ok = false;
        const double value = trimmed.left(end).toDouble(&ok);
        if (ok)
            return value;
    }
    return 0;
}

std::optional<double> numberWithin(const QString& text, double low, double high)
{
    const double value = numberPrefix(text);
    if (!std::isfinite(value) || value < low || value > high)
        return std::nullopt;
    return value;
}

// The "deleted" flag of a note: any whole number above zero, however long,
// means deleted; empty means live. Anything else is unreadable, and must not
// pass for "live".
std::optional<bool> deletedFlag(const QString& text)
{
    const QString trimmed = text.trimmed();
    qsizetype at = trimmed.startsWith(QLatin1Char('+')) ? 1 : 0;
    if (trimmed.isEmpty())
        return false;
    if (at == trimmed.size())
        return std::nullopt;
    bool nonZero = false;
    for (; at < trimmed.size(); ++at) {
        const QChar c = trimmed[at];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        nonZero = nonZero || c != QLatin1Char('0');
    }
    return nonZero;
}

} // namespace

// --- construction -------------------------------------------------------------

namespace {
std::atomic<QVRSyncManager*> g_installedManager{nullptr};
}

void QVRSyncManager::setSharedManager(QVRSyncManager* manager)
{
    g_installedManager.store(manager, std::memory_order_release);
}

QVRSyncManager* QVRSyncManager::sharedManager()
{
    if (QVRSyncManager* installed = g_installedManager.load(std::memory_order_acquire))
        return installed;
    static QVRSyncManager* manager = [] {
        auto* shared = new QVRSyncManager(QVRDataStore::sharedStore());
        shared->attachToStore();
        return shared;
    }();
    return manager;
}

QVRSyncManager::QVRSyncManager(QVRDataStore* store, QObject* parent)
    : QObject(parent), m_store(store), m_queue(store)
{
    QVRDataStore::sharedDefaults().registerDefaults(
        QVRDefaultsKeys::registration(QVRDefaultsKeys::FirstRun, QVRDefaultsKeys::HistoryDays));
    const quint64 days = static_cast<quint64>(m_settings.historyDays());
    if (days == 0 || days == 365242) {
        m_historyDays = 365;
        m_deleteOldObjects = false;
    } else {
        m_historyDays = std::max<quint64>(days, 90);
        m_deleteOldObjects = true;
    }
}

QVRSyncManager::~QVRSyncManager()
{
    finishBackgroundWork();
    QVRSyncSettings::writeHeld();
    *m_alive = false;
    m_observers.clear();
    if (m_operationQueue) {
        m_operationQueue->setOperationCountObserver(nullptr);
        m_operationQueue->cancelAllOperations();
    }
    resetQuorvaneSession();
    m_operationQueue.reset();
}

void QVRSyncManager::attachToStore()
{
    if (!m_store || !m_store->delegate())
        return;
    platform::log(QStringLiteral("The sync manager takes over the note store; its delegate is removed"));
    m_store->setDelegate(nullptr);
}

void QVRSyncManager::setICloud(std::unique_ptr<QVRSyncManageriCloud> cloud)
{
    m_iCloud = std::move(cloud);
}

QString QVRSyncManager::syncHelpURL()
{
    QUrl url = QVRSyncService::origin();
    url.setScheme(url.scheme() == QLatin1String("https") ? QStringLiteral("http") : url.scheme());
    url.setPath(QStringLiteral("/support/quillary-mac/sync-options.html"));
    return url.toString();
}

// --- persisted state ------------------------------------------------------------

bool QVRSyncManager::firstRun() const
{
    return m_settings.firstRun();
}

void QVRSyncManager::setFirstRun(bool firstRun)
{
    m_settings.setFirstRun(firstRun);
}

bool QVRSyncManager::quorvaneEnabled() const
{
    return m_settings.enabled();
}

void QVRSyncManager::setQuorvaneEnabled(bool enabled)
{
    m_settings.setEnabled(enabled);
    if (enabled) {
        setFirstRun(false);
        if (m_iCloud)
            m_iCloud->syncTypeChosen(QStringLiteral("Quorvane"));
    }
}

QString QVRSyncManager::quorvaneEmail() const
{
    return m_settings.email();
}

void QVRSyncManager::setQuorvaneEmail(const QString& email)
{
    m_settings.setEmail(email);
}

QString QVRSyncManager::quorvaneClient() const
{
    return m_settings.client();
}

void QVRSyncManager::setQuorvaneClient(const QString& client)
{
    m_settings.setClient(client);
}

double QVRSyncManager::quorvaneUpdated() const
{
    return m_settings.updated();
}

void QVRSyncManager::setQuorvaneUpdated(double updated)
{
    m_settings.setUpdated(updated);
}

double QVRSyncManager::quorvaneOffset() const
{
    return m_settings.offset();
}

void QVRSyncManager::setQuorvaneOffset(double offset)
{
    m_settings.setOffset(offset);
}

void QVRSyncManager::setICloudEnabled(bool enabled)
{
    m_iCloudEnabled = enabled;
    if (enabled) {
        setFirstRun(false);
        if (m_iCloud)
            m_iCloud->syncTypeChosen(QStringLiteral("iCloud"));
    }
}

void QVRSyncManager::setForceUpdate(bool force)
{
    m_forceUpdate = force;
    if (force)
        m_quorvaneErrorDate.reset();
}

QVRApplicationState QVRSyncManager::applicationState() const
{
    return m_interfaceDelegate ? m_interfaceDelegate->applicationState() : QVRApplicationState::Background;
}

// --- steps ----------------------------------------------------------------------------

void QVRSyncManager::setStep(QVRSyncStep step)
{
    if (step == m_step && step != QVRSyncStep::Complete)
        return;
    QPointer<QVRSyncManager> self(this);
    platform::runOnMainThread([self, step] {
        if (!self)
            return;
        self->cancelPerform(kStepComplete);
        self->m_step = step;
        if (step != QVRSyncStep::Complete) {
            self->setActive(step != QVRSyncStep::Starting && step != QVRSyncStep::Finishing);
            self->postNotificationName(QVRSyncChangeNotification);
        } else {
            self->setActive(false);
            if (self->m_store)
                self->m_store->refreshObjects(false);
            self->postNotificationName(QVRSyncCompleteNotification);
        }
    });
}

void QVRSyncManager::setStepWait()
{
    QVRSyncSettings::writeHeld();
    setStep(QVRSyncStep::Finishing);
    QPointer<QVRSyncManager> self(this);
    platform::runOnMainThread([self] {
        if (!self)
            return;
        double delay = 0.3;
        if (self->m_iCloudEnabled)
            delay = self->applicationState() == QVRApplicationState::Background ? 10.0 : 1.5;
        self->cancelPerform(kStepComplete);
        self->performAfterDelay(
            kStepComplete,
            [self] {
                if (self)
                    self->setStepComplete();
            },
            delay);
    });
}

void QVRSyncManager::setActive(bool active)
{
    if (active == m_active)
        return;
    // Linux has no sudden termination to hold off; the quit path polls busy().
    if (!active && m_store)
        m_store->saveData();
    m_active = active;
}

QString QVRSyncManager::status() const
{
    if (!platform::isMainThread())
        return QString();
    switch (m_step) {
    case QVRSyncStep::Starting:
    case QVRSyncStep::Resetting:
        return QVRLocalizedString(QStringLiteral("One moment…"));
    case QVRSyncStep::Updating:
        return QVRLocalizedString(QStringLiteral("Updating…"));
    case QVRSyncStep::Syncing:
    case QVRSyncStep::Transferred:
    case QVRSyncStep::Finishing:
        return QVRLocalizedString(m_iCloudEnabled ? QStringLiteral("Syncing with iCloud…")
                                                  : QStringLiteral("Syncing with Quorvane…"));
    case QVRSyncStep::Complete:
        break;
    }
    if (m_iCloudEnabled)
        return QString();
    if (quorvaneEnabled() && quorvaneUpdated() > 0) {
        return QVRDateFormatter::sharedFormatter().updatedText(
            QVRLocalizedString(QStringLiteral("Synced %@")), quorvaneUpdated() + quorvaneOffset());
    }
    return QVRLocalizedString(QStringLiteral("Couldn’t connect"));
}

QString QVRSyncManager::syncType() const
{
    if (m_iCloudEnabled)
        return QStringLiteral("iCloud");
    if (quorvaneEnabled())
        return QStringLiteral("Quorvane");
    if (m_started && m_step != QVRSyncStep::Starting)
        return QVRLocalizedString(QStringLiteral("Off"));
    return QVRLocalizedString(QStringLiteral("…"));
}

void QVRSyncManager::postNotificationName(const QString& name, const std::optional<QString>& status)
{
    QVariantMap userInfo;
    if (status)
        userInfo.insert(QVRSyncStatusKey, *status);
    platform::NotificationCenter::defaultCenter().post(name, this, userInfo);
}

void QVRSyncManager::performAfterDelay(const QString& name, std::function<void()> fn, double seconds)
{
    // The quit wait keeps the ordinary event loop running, so delayed work
    // still fires while the application is stopping.
    QTimer* timer = m_performs.value(name);
    if (!timer) {
        timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        m_performs.insert(name, timer);
    }
    timer->disconnect();
    connect(timer, &QTimer::timeout, this, [fn = std::move(fn)] { fn(); });
    timer->start(static_cast<int>(seconds * 1000));
}

void QVRSyncManager::cancelPerform(const QString& name)
{
    if (QTimer* timer = m_performs.value(name))
        timer->stop();
}

// --- start and stop -------------------------------------------------------------

void QVRSyncManager::start()
{
    if (m_started || m_startCalled)
        return;
    m_startCalled = true;
    m_defaultsObserver = platform::NotificationCenter::defaultCenter().addObserver(
        QVRUserDefaultsDidChangeNotification, nullptr,
        [this](const platform::Notification& n) { userDefaultsDidChange(n); });
    if (m_iCloud) {
        m_iCloud->start();
    } else {
        refresh();
    }
    // No hourly timer: nothing in this program asks for one.
    if (m_deleteOldObjects)
        pruneHistory();
}

void QVRSyncManager::refresh()
{
    if (m_iCloud) {
        if (m_ready)
            m_iCloud->enableiCloud();
        return;
    }
    // Without the cloud half every enabling pass ends at once with cloud sync
    // off; web sync can only start once a pass has ended.
    setStep(QVRSyncStep::Starting);
    m_ready = false;
    enablePassEnded();
}

void QVRSyncManager::enablePassEnded()
{
    m_started = true;
    m_ready = true;
    setStepWait();
    if (!m_firstPassDone) {
        m_firstPassDone = true;
        if (!promptForQuorvane())
            sync();
        registerWithNotificationCenter();
    }
}

void QVRSyncManager::sync()
{
    if (!m_started || m_delaySync)
        return;
    if (m_delegate)
        m_delegate->willStartSyncing();
    if (quorvaneEnabled()) {
        syncWithQuorvane();
    } else {
        if (m_iCloudEnabled && m_iCloud)
            m_iCloud->restartMetadataQuery();
        quorvaneUpdate();
    }
}

void QVRSyncManager::syncObject(QVRSyncObject* object)
{
    if (!object)
        return;
    if (m_iCloudEnabled && m_iCloud) {
        setStep(QVRSyncStep::Syncing);
        QString uuid;
        m_store->context()->performAndWait([&] { uuid = object->uuid(); });
        m_iCloud->saveObjectToiCloud(uuid);
    } else if (quorvaneEnabled()) {
        setStep(QVRSyncStep::Syncing);
        bool archived = false;
        m_store->context()->performAndWait([&] { archived = object->archived().toBool(); });
        saveObjectToQuorvane(object, archived ? QStringLiteral("delete") : QStringLiteral("add"));
    }
}

void QVRSyncManager::registerWithNotificationCenter()
{
    if (m_registered)
        return;
    m_registered = true;
    auto& center = platform::NotificationCenter::defaultCenter();
    for (const QString& name :
         {platform::SystemClockDidChangeNotification, platform::SystemTimeZoneDidChangeNotification,
          platform::CurrentLocaleDidChangeNotification}) {
        m_observers.push_back(center.addObserver(
            name, nullptr, [this](const platform::Notification& n) { localeOrTimeChanged(n.name); }));
    }
    watchForWake();
}

void QVRSyncManager::watchForWake()
{
    // logind announces sleep and wake; without a system bus there are simply
    // no wake notices.
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                SLOT(prepareForSleep(bool)));
}

void QVRSyncManager::prepareForSleep(bool sleeping)
{
    if (!sleeping)
        applicationDidBecomeActive();
}

void QVRSyncManager::applicationDidBecomeActive()
{
    if (m_step != QVRSyncStep::Complete)
        return;
    if (m_store)
        m_store->refreshObjects(false);
    sync();
}

void QVRSyncManager::localeOrTimeChanged(const QString& notificationName)
{
    m_historyDate.reset();
    if (m_store)
        m_store->refreshAllObjects();
    postNotificationName(notificationName == platform::CurrentLocaleDidChangeNotification
                             ? QVRLocaleChangeNotification
                             : QVRTimeChangeNotification);
    if (!m_iCloudEnabled) {
        setForceUpdate(true);
        sync();
    }
}

void QVRSyncManager::prepareToStop()
{
    m_preparingToStop = true;
    m_quitDate = platform::now();
}

bool QVRSyncManager::busy()
{
    if (!m_active)
        return false;
    const double elapsed = m_quitDate ? platform::now() - *m_quitDate : 0;
    if (elapsed <= 30)
        return true;
    if ((m_iCloudEnabled || quorvaneEnabled()) && m_operationQueue && m_operationQueue->operationCount() > 0)
        return true;
    m_quitDate.reset();
    setActive(false);
    return false;
}

void QVRSyncManager::stop()
{
    finishBackgroundWork();
    QVRSyncSettings::writeHeld();
    if (m_store)
        m_store->saveData();
    m_observers.clear();
    m_defaultsObserver = platform::ObserverToken();
    if (m_iCloud)
        m_iCloud->stopMetadataQuery();
    resetOperationQueue();
    resetQuorvaneSession();
}

// --- history --------------------------------------------------------------------

double QVRSyncManager::historyDate()
{
    if (!m_historyDate) {
        const qint64 days = static_cast<qint64>(std::min<quint64>(m_historyDays, 1000000)) + 1;
        m_historyDate = QVRDateFormatter::dateDaysAgo(QVRDateFormatter::sharedFormatter().calendar(), days);
    }
    return *m_historyDate;
}

void QVRSyncManager::userDefaultsDidChange(const platform::Notification& notification)
{
    if (notification.userInfo.value(QVRUserDefaultsKey).toString() != QVRDefaultsKeys::HistoryDays)
        return;
    const quint64 value = notification.userInfo.value(QVRUserDefaultsValue).toULongLong();
    m_historyDays = value == 365242 ? 365 : std::max<quint64>(value, 90);
}

namespace {

std::function<void(const std::function<bool()>&)> g_pruneHook;

// Deletes the archived notes changed before the cut-off, in a temporary
// context off the main thread. Its owner cancels it and waits for it before
// the store goes; cancelled, it saves no further batch.
class PruneHistoryOperation : public platform::Operation
{
public:
    PruneHistoryOperation(QVRDataStore* store, double cutoff, QPointer<QVRSyncManager> manager)
        : m_store(store), m_cutoff(cutoff), m_manager(std::move(manager))
    {
    }

    void main() override
    {
        std::unique_ptr<platform::ManagedObjectContext> context = m_store->temporaryContext();
        if (!context)
            return;
        std::vector<platform::ObjectID> old;
        platform::FetchRequest request;
        request.entityName = QVRNoteEntityName;
        request.predicate =
            platform::Predicate::parse(QStringLiteral("archived == YES AND modified < %@"), {m_cutoff});
        context->performAndWait([&] {
            // Deleting needs only the keys: no object is made for a note
            // that nothing in the process holds.
            platform::Error error;
            old = context->fetchObjectIDs(request, &error);
            if (!error.domain.isEmpty()) {
                platform::log(QStringLiteral("Error getting old, archived objects: %1, %2")
                                  .arg(error.localizedDescription, QStringLiteral("{}")));
                old.clear();
                return;
            }
            if (g_pruneHook)
                g_pruneHook([this] { return isCancelled(); });
        });
        // Saved in batches, so that no save holds the store for long nor
        // keeps every deletion in memory at once. Cancelled, the prune stops
        // between two batches; what it saved stays deleted.
        constexpr size_t Batch = 2000;
        std::vector<platform::ObjectID> removed;
        for (size_t first = 0; first < old.size() && !isCancelled(); first += Batch) {
            std::vector<platform::ObjectID> batch(
                old.begin() + qsizetype(first), old.begin() + qsizetype(std::min(old.size(), first + Batch)));
            // The read above may be seconds old by now: a note that sync
            // brought back or that was edited since is no longer history.
            // Each batch is matched again just before its removal.
            context->performAndWait([&] {
                request.keyRange = std::pair(batch.front().key, batch.back().key);
                platform::Error error;
                const std::vector<platform::ObjectID> still = context->fetchObjectIDs(request, &error);
                if (!error.domain.isEmpty()) {
                    batch.clear();
                    return;
                }
                std::erase_if(batch, [&](const platform::ObjectID& id) {
                    return !std::binary_search(still.begin(), still.end(), id);
                });
                context->removeObjectsWithIDs(batch);
            });
            if (batch.empty())
                continue;
            if (!m_store->saveTemporaryContext(context.get(), true))
                break;
            removed.insert(removed.end(), batch.begin(), batch.end());
        }
        old = {};
        // Nothing old enough, or nothing saved: nothing for the window to redo.
        if (!removed.empty()) {
            platform::runOnMainThread([manager = m_manager, removed = std::move(removed)] {
                if (manager && manager->delegate())
                    manager->delegate()->didDeleteOldObjects(removed);
            });
        }
        // What the fetch and the save took is free now, and goes back to the
        // system rather than staying with the process.
        context.reset();
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    }

private:
    QVRDataStore* m_store;
    double m_cutoff;
    QPointer<QVRSyncManager> m_manager;
};

} // namespace

void QVRSyncManager::setPruneHookForTesting(std::function<void(const std::function<bool()>& cancelled)> hook)
{
    g_pruneHook = std::move(hook);
}

void QVRSyncManager::pruneHistory()
{
    if (!m_store)
        return;
    if (!m_background) {
        m_background = std::make_unique<platform::OperationQueue>();
        m_background->setOperationCountObserver([](int) { platform::MainQueue::instance().wake(); });
    }
    m_background->addOperation(
        std::make_shared<PruneHistoryOperation>(m_store, historyDate(), QPointer<QVRSyncManager>(this)));
}

void QVRSyncManager::finishBackgroundWork()
{
    if (!m_background)
        return;
    m_background->cancelAllOperations();
    // The prune reads and saves through the store's main context, whose
    // blocks run on this thread: serve them while waiting, or neither side
    // would ever go on.
    platform::MainQueue::instance().serveUntil([this] { return m_background->operationCount() == 0; });
    m_background.reset();
}

std::vector<QVRNoteAttributes> QVRSyncManager::allObjects()
{
    std::vector<QVRNoteAttributes> result;
    if (!m_store)
        return result;
    platform::ManagedObjectContext* context = m_store->context();
    context->performAndWait([&] {
        platform::FetchRequest request;
        request.entityName = QVRNoteEntityName;
        request.predicate = platform::Predicate::parse(QStringLiteral("archived == NO"));
        platform::Error error;
        const auto notes = context->fetch(request, &error);
        if (!error.domain.isEmpty()) {
            platform::log(QStringLiteral("Error getting all objects: %1, %2")
                              .arg(error.localizedDescription, QStringLiteral("{}")));
            return;
        }
        for (platform::ManagedObject* note : notes)
            result.push_back(static_cast<QVRSyncObject*>(note)->attributes());
    });
    return result;
}

// --- the operation queue ------------------------------------------------------

platform::OperationQueue* QVRSyncManager::operationQueue()
{
    if (!m_operationQueue) {
        m_operationQueue = std::make_unique<platform::OperationQueue>();
        std::weak_ptr<bool> alive = m_alive;
        QPointer<QVRSyncManager> self(this);
        m_operationQueue->setOperationCountObserver([self, alive](int count) {
            if (count != 0)
                return;
            platform::runOnMainThread([self, alive] {
                if (alive.expired() || !self)
                    return;
                if (self->m_operationQueue && self->m_operationQueue->operationCount() != 0)
                    return;
                if (self->m_pendingLogout)
                    self->finishLogout();
                if (self->m_iCloud && self->m_iCloud->addingToOperationQueue())
                    return;
                self->cancelPerform(kOperationQueueComplete);
                self->performAfterDelay(
                    kOperationQueueComplete,
                    [self] {
                        if (self)
                            self->operationQueueComplete();
                    },
                    0.1);
            });
        });
    }
    return m_operationQueue.get();
}

platform::OperationQueue* QVRSyncManager::operationQueueWithCount(int count)
{
    platform::OperationQueue* queue = operationQueue();
    queue->setMaxConcurrentOperationCount(count);
    return queue;
}

void QVRSyncManager::operationQueueComplete()
{
    setStepWait();
}

void QVRSyncManager::resetOperationQueue()
{
    // The cycle that held rows back ends here; they wait for the next sync.
    m_moreToSync = false;
    if (m_operationQueue)
        m_operationQueue->cancelAllOperations();
    operationQueueComplete();
}

// --- the queue of changes -----------------------------------------------------

std::vector<QVariantMap> QVRSyncManager::queueItems()
{
    return m_queue.items();
}

QVariantMap QVRSyncManager::queueItemWithUUID(const QString& uuid)
{
    return m_queue.itemWithUUID(uuid);
}

bool QVRSyncManager::removeFromQueue(const QString& uuid, double time, bool force)
{
    const QVariantMap row = queueItemWithUUID(uuid);
    if (row.isEmpty())
        return true;
    if (!force && row.value(QStringLiteral("date")).toDouble() > time)
        return false;
    m_queue.remove([](const QVariantMap&) { return true; }, uuid);
    for (const auto& operation : operationsWithUUID(uuid))
        operation->cancel();
    return true;
}

std::vector<std::shared_ptr<QVRQuorvaneOperation>> QVRSyncManager::operationsWithUUID(const QString& uuid)
{
    std::vector<std::shared_ptr<QVRQuorvaneOperation>> result;
    if (!m_operationQueue)
        return result;
    // A cancelled request no longer stands for its change: a newer row of the
    // same note must not wait behind it.
    for (const auto& operation : m_operationQueue->operations()) {
        auto request = std::dynamic_pointer_cast<QVRQuorvaneOperation>(operation);
        if (request && !request->isCancelled() && request->uuid() == uuid)
            result.push_back(request);
    }
    return result;
}

void QVRSyncManager::queueObject(QVRSyncObject* object, const QString& cmd)
{
    if (!m_store)
        return;
    QString uuid;
    double modified = 0;
    QString objectQuery;
    platform::ManagedObjectContext* context = m_store->context();
    if (object) {
        context->performAndWait([&] {
            uuid = object->uuid();
            modified = object->modified().toDouble();
            objectQuery = object->queryString();
        });
        removeFromQueue(uuid, 0, true);
    } else {
        uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral("-QUEUE");
    }
    // Kept to the six decimals the wire carries, so the service's echo of this
    // very time compares equal.
    const double date = number(modified - quorvaneOffset()).toDouble();
    QString query;
    if (!object)
        query = QStringLiteral("cmd=%1").arg(cmd);
    else if (cmd == QLatin1String("delete"))
        query = QStringLiteral("cmd=%1&modified=%2&uuid=%3").arg(cmd, number(date), escape(uuid));
    else
        query = QStringLiteral("cmd=%1&modified=%2%3").arg(cmd, number(date), objectQuery);
    m_queue.insert(uuid, cmd, date, query);
}

void QVRSyncManager::saveObjectToQuorvane(QVRSyncObject* object, const QString& cmd)
{
    if (!cmd.isNull())
        queueObject(object, cmd);
    syncWithQuorvane();
}

void QVRSyncManager::saveAllObjectsToQuorvane()
{
    if (!m_store)
        return;
    std::vector<QVRSyncObject*> notes;
    platform::ManagedObjectContext* context = m_store->context();
    context->performAndWait([&] {
        platform::FetchRequest request;
        request.entityName = QVRNoteEntityName;
        request.predicate = platform::Predicate::parse(QStringLiteral("archived == NO"));
        for (platform::ManagedObject* note : context->fetch(request))
            notes.push_back(static_cast<QVRSyncObject*>(note));
    });
    for (QVRSyncObject* note : notes)
        queueObject(note, QStringLiteral("add"));
}

void QVRSyncManager::resetQuorvaneQueue()
{
    resetOperationQueue();
    resetQuorvaneSession();
    setStepWait();
    m_queue.remove([](const QVariantMap&) { return true; });
}

QVRURLSession* QVRSyncManager::quorvaneSession()
{
    if (!m_session)
        m_session = new QVRURLSession(this);
    return m_session;
}

void QVRSyncManager::resetQuorvaneSession()
{
    if (QVRURLSession* session = m_session) {
        m_session = nullptr;
        session->invalidate();
        session->deleteLater();
    }
}

// --- the web cycle ----------------------------------------------------------------

bool QVRSyncManager::quorvaneSettingsInProgress() const
{
    return m_account.inProgress();
}

void QVRSyncManager::syncWithQuorvane()
{
    const std::optional<QVariantMap> form = m_account.formForSync();
    if (form) {
        if (QVRUtilities::hasTrimmedValue(form->value(QStringLiteral("email")).toString()) &&
            QVRUtilities::hasTrimmedValue(form->value(QStringLiteral("password")).toString())) {
            syncWithQuorvaneContinue(false, false);
            return;
        }
    } else if (!quorvaneEmail().isNull()) {
        syncWithQuorvaneContinue(false, false);
        return;
    }
    platform::log(QStringLiteral("Attemped to sync but no email address was found"));
    quorvaneSyncFailedWithConnectionError(true);
}

void QVRSyncManager::syncWithQuorvaneContinue(bool continuing, bool retry)
{
    m_moreToSync = false;
    const std::vector<QVariantMap> rows = queueItems();
    if (rows.empty() && !retry && !m_forceUpdate && !quorvaneSettingsInProgress() && !timeToSync()) {
        setStepWait();
        return;
    }
    if (!continuing)
        setStep(QVRSyncStep::Syncing);
    m_forceUpdate = false;
    bool added = false;
    QSet<QString> underWay;
    for (const auto& operation : operationQueue()->operations()) {
        if (!operation->isCancelled())
            if (auto request = std::dynamic_pointer_cast<QVRQuorvaneOperation>(operation))
                underWay.insert(request->uuid());
    }
    for (const QVariantMap& row : rows) {
        const QString uuid = row.value(QStringLiteral("uuid")).toString();
        if (underWay.contains(uuid))
            continue;
        if (added && !continuing) {
            m_moreToSync = true;
            break;
        }
        addRequest(uuid, row.value(QStringLiteral("query")).toString(), true);
        added = true;
    }
    if (added)
        return;
    const int count = operationQueue()->operationCount();
    if (count > 1 || (!retry && count != 0))
        return;
    if (continuing)
        setStepWait();
    else
        addRequest(QString(), QStringLiteral("cmd=get"), true);
}

void QVRSyncManager::addRequest(const QString& uuid, const QString& query, bool requiresLogin)
{
    auto operation = QVRQuorvaneOperation::operationWithSession(quorvaneSession(), this);
    operation->setUuid(uuid);
    operation->setQuery(query);
    operation->setRequiresLogin(requiresLogin);
    operationQueueWithCount(1)->addOperation(operation);
}

bool QVRSyncManager::timeToSync()
{
    const bool background = applicationState() == QVRApplicationState::Background;
    if (secondsSinceQuorvaneError() < (background ? 1800 : 600))
        return false;
    return platform::now() - quorvaneOffset() - quorvaneUpdated() > (background ? 1800 : 60);
}

double QVRSyncManager::secondsSinceQuorvaneError() const
{
    if (!m_quorvaneErrorDate)
        return std::numeric_limits<double>::max();
    return platform::now() - *m_quorvaneErrorDate;
}

void QVRSyncManager::quorvaneSyncFailedWithConnectionError(bool connectionError)
{
    postNotificationName(QVRSyncFailureNotification,
                         connectionError
                             ? std::optional<QString>(QVRLocalizedString(QStringLiteral("Couldn’t connect")))
                             : std::nullopt);
    resetOperationQueue();
    setStepWait();
}

void QVRSyncManager::quorvaneUpdate()
{
    if (!m_preparingToStop && secondsSinceQuorvaneError() >= 21600 && m_delegate &&
        m_delegate->shouldQuorvaneUpdate()) {
        m_quorvaneMessage.clear();
        setStep(QVRSyncStep::Updating);
        m_forceUpdate = false;
        addRequest(QString(), QString(), false);
        return;
    }
    setStepWait();
}

// --- requests (on the queue's thread) --------------------------------------------------

std::optional<QVRURLRequest> QVRSyncManager::quorvaneRequestURL(const std::optional<QUrl>& url,
                                                                const QString& query, bool login)
{
    std::optional<QVRURLRequest> request = m_account.request(url, query, login, [this] {
        return m_delegate ? m_delegate->additionalQueryForQuorvaneSync() : QString();
    });
    if (!request) {
        // Never a silent no-op: without credentials the cycle fails visibly.
        std::weak_ptr<bool> alive = m_alive;
        QPointer<QVRSyncManager> self(this);
        platform::runOnMainThread([self, alive] {
            if (alive.expired() || !self)
                return;
            self->quorvaneSyncFailedWithConnectionError(true);
        });
    }
    return request;
}

// --- replies (main thread) -------------------------------------------------------

void QVRSyncManager::operationEncounteredName(QVRQuorvaneOperation* operation, const QString& name,
                                              const std::optional<QString>& value,
                                              const std::optional<QVRXMLAttributes>& attributes)
{
    (void)operation;
    if (name == QLatin1String("client")) {
        setQuorvaneClient(value ? *value : QString());
    } else if (name == QLatin1String("code")) {
        saveQuorvaneCode(value);
    } else if (name == QLatin1String("message")) {
        const QString text = value.value_or(QString());
        if (!QVRUtilities::hasTrimmedValue(text) || text == QStringLiteral("Trellet synced…") ||
            text == QStringLiteral("Note synced…")) {
            m_quorvaneMessage.clear();
        } else {
            m_quorvaneMessage = QVRLocalizedString(text);
            if (!m_quorvaneMessage.isEmpty())
                postNotificationName(QVRSyncChangeNotification, m_quorvaneMessage);
        }
    } else if (name == QLatin1String("updated")) {
        // Written when the cycle ends (setStepWait), not once per request.
        if (const auto updated = numberWithin(value.value_or(QString()), 0, QVRSyncSettings::TimeLimit))
            m_settings.holdUpdated(*updated);
        else
            platform::log(
                QStringLiteral("Ignoring unusable update time: %1").arg(value.value_or(QString()).left(64)));
    } else if (name == QLatin1String("offset")) {
        if (const auto offset = numberWithin(value.value_or(QString()), -QVRSyncSettings::OffsetLimit,
                                             QVRSyncSettings::OffsetLimit))
            m_settings.holdOffset(*offset);
        else
            platform::log(
                QStringLiteral("Ignoring unusable clock offset: %1").arg(value.value_or(QString()).left(64)));
    } else if (name == QLatin1String("token") || name == QLatin1String("pushenabled")) {
        return;
    } else if (name == QLatin1String("note")) {
        applyNote(attributes.value_or(QVRXMLAttributes()));
    } else if (m_delegate) {
        QVariantMap map;
        const QVRXMLAttributes attrs = attributes.value_or(QVRXMLAttributes());
        for (auto it = attrs.begin(); it != attrs.end(); ++it)
            map.insert(it.key(), it.value());
        m_delegate->unknownObjectNamed(name, map);
    }
}

void QVRSyncManager::applyNote(const QVRXMLAttributes& attributes)
{
    const QString uuid = attributes.value(QStringLiteral("uuid"));
    // A uuid from the service later names a file.
    if (!QVRUtilities::isSafeUUID(uuid)) {
        platform::log(QStringLiteral("Ignoring note with unusable uuid: %1").arg(uuid));
        return;
    }
    // A note whose numbers cannot be read is left alone rather than guessed:
    // the local copy stays as it is.
    for (const char* key : {"updated", "modified", "date"}) {
        const QString text = attributes.value(QString::fromLatin1(key));
        if (!text.isNull() && !numberWithin(text, -QVRSyncSettings::TimeLimit, QVRSyncSettings::TimeLimit)) {
            platform::log(QStringLiteral("Ignoring note %1 with unusable %2: %3")
                              .arg(uuid, QString::fromLatin1(key), text.left(64)));
            return;
        }
    }
    const std::optional<bool> deleted = deletedFlag(attributes.value(QStringLiteral("deleted")));
    if (!deleted) {
        platform::log(QStringLiteral("Ignoring note %1 with unusable deleted flag: %2")
                          .arg(uuid, attributes.value(QStringLiteral("deleted")).left(64)));
        return;
    }
    const double updated = numberPrefix(attributes.value(QStringLiteral("updated")));
    if (!removeFromQueue(uuid, updated, false))
        return;
    if (!m_delegate)
        return;
    if (*deleted) {
        m_delegate->deleteObjectWithUUID(uuid);
        return;
    }
    QVRNoteAttributes note;
    for (auto it = attributes.begin(); it != attributes.end(); ++it)
        note.insert(it.key(), it.value());
    m_delegate->saveObjectWithAttributes(note, false);
}

void QVRSyncManager::operationSucceeded(QVRQuorvaneOperation* operation)
{
    setStep(QVRSyncStep::Transferred);
    m_quorvaneErrorDate.reset();
    const QString uuid = operation->uuid();
    QString command;
    if (!uuid.isEmpty()) {
        // Only the row this request sent: a newer change of the same note
        // queued meanwhile has another query and must still go out.
        const QString query = operation->query();
        m_queue.remove(
            [&](const QVariantMap& r) {
                command = r.value(QStringLiteral("cmd")).toString();
                return r.value(QStringLiteral("query")).toString() == query;
            },
            uuid);
    }
    if (command != QLatin1String("logout"))
        setQuorvaneEnabled(true);
    if (quorvaneSettingsInProgress()) {
        saveQuorvaneSettings();
        postNotificationName(QVRSyncSuccessNotification);
    }
    if (m_moreToSync && quorvaneEnabled())
        syncWithQuorvaneContinue(true, false);
}

void QVRSyncManager::operationFailed(QVRQuorvaneOperation* operation)
{
    if (operation->failure()) {
        m_account.clearForm();
        // A refused code may be retried with the password; a refused password
        // retried at the service's word would loop for ever.
        if (operation->retry() && operation->loginUsedCode()) {
            platform::log(QStringLiteral("Sync failed with code, will try again with password"));
            saveQuorvaneCode(std::nullopt);
            syncWithQuorvaneContinue(false, true);
            return;
        }
        setQuorvaneEnabled(false);
        platform::log(QStringLiteral("Sync failed: %1 item: %2")
                          .arg(m_quorvaneMessage.isNull() ? QStringLiteral("(null)") : m_quorvaneMessage,
                               QVRSyncQueue::describe(queueItemWithUUID(operation->uuid()))));
        postNotificationName(QVRSyncSettingsErrorNotification);
        quorvaneSyncFailedWithConnectionError(false);
        return;
    }
    if (!operation->internetProblem())
        m_quorvaneErrorDate = platform::now();
    quorvaneSyncFailedWithConnectionError(true);
}

// --- account ------------------------------------------------------------------------

QString QVRSyncManager::validationMessageForFields(const QStringList& fields)
{
    return QVRSyncAccount::validationMessageForFields(fields);
}

bool QVRSyncManager::validateQuorvaneSettings(const QVariantMap& form, platform::Error* error)
{
    const bool isNew = form.value(QStringLiteral("new")).toBool();
    const QString email = form.value(QStringLiteral("email")).toString();
    const bool hasEmail = QVRUtilities::hasTrimmedValue(email);
    const bool hasPassword = QVRUtilities::hasTrimmedValue(form.value(QStringLiteral("password")).toString());
    if (!hasEmail && !isNew && !hasPassword) {
        disableQuorvaneAndDeletePassword(false);
        return true;
    }
    const QString message = QVRSyncAccount::problemWithForm(form);
    if (!message.isNull()) {
        if (error) {
            error->domain = QStringLiteral("com.quorvane.sync");
            error->code = 200;
            error->localizedDescription = message;
        }
        postNotificationName(QVRSyncFailureNotification, message);
        return false;
    }

    const QString previous = quorvaneEmail();
    if (!previous.isNull() && previous == email) {
        // The same account again: its pending deletions must still reach the
        // service, so only the requests and the log-out rows go.
        resetOperationQueue();
        resetQuorvaneSession();
        setStepWait();
        m_queue.remove([](const QVariantMap& r) {
            return r.value(QStringLiteral("cmd")).toString() == QLatin1String("logout");
        });
    } else {
        resetQuorvaneQueue();
        // Another account must not inherit this one's sync point or client.
        m_account.clearAccountState(previous);
    }
    if (m_iCloud)
        m_iCloud->disableiCloud();
    m_account.setForm(form);
    if (isNew) {
        registerQuorvaneAccount();
        saveAllObjectsToQuorvane();
    } else {
        saveAllObjectsToQuorvane();
        syncWithQuorvane();
    }
    postNotificationName(QVRSyncChangeNotification,
                         QVRLocalizedString(QStringLiteral("Syncing with Quorvane…")));
    return false;
}

void QVRSyncManager::registerQuorvaneAccount()
{
    const std::optional<QString> query = m_account.registrationQuery();
    if (!query)
        return;
    m_quorvaneMessage.clear();
    setStep(QVRSyncStep::Syncing);
    addRequest(QString(), *query, false);
}

void QVRSyncManager::saveQuorvaneSettings()
{
    m_account.saveForm();
}

void QVRSyncManager::saveQuorvaneCode(const std::optional<QString>& code)
{
    m_account.saveCode(code);
}

void QVRSyncManager::discardQuorvaneSettings()
{
    m_quorvaneMessage.clear();
    if (!m_iCloudEnabled && !quorvaneEmail().isNull() && !quorvaneEnabled())
        disableQuorvaneAndDeletePassword(false);
}

bool QVRSyncManager::promptForQuorvane()
{
    if (!firstRun())
        return false;
    setFirstRun(false);
    if (!quorvaneEmail().isNull() || !m_interfaceDelegate)
        return false;
    // The keyring is searched on its own thread; the answer decides on the
    // main thread between the offer and what the caller would have done.
    m_delaySync = true;
    QPointer<QVRSyncManager> self(this);
    QVRSyncAccount::findAccount([self](const std::optional<QString>& account) {
        if (self)
            self->offerAccount(account);
    });
    return true;
}

void QVRSyncManager::offerAccount(const std::optional<QString>& account)
{
    if (!account || !m_interfaceDelegate) {
        m_delaySync = false;
        if (m_iCloud)
            m_iCloud->enableiCloud();
        else
            sync();
        return;
    }
    const QString address = *account;
    QPointer<QVRSyncManager> self(this);
    m_interfaceDelegate->shouldPromptWithTitle(
        QVRLocalizedString(QStringLiteral("Quorvane Sync")),
        QVRLocalizedString(QStringLiteral("Would you like to log in with the address %@?"))
            .replace(QStringLiteral("%@"), address),
        QVRLocalizedString(QStringLiteral("Sign In")), QVRLocalizedString(QStringLiteral("Cancel")),
        [self, address](bool accepted) {
            if (self)
                self->promptReturnedAccount(accepted ? std::optional<QString>(address) : std::nullopt);
        });
}

void QVRSyncManager::promptReturnedAccount(const std::optional<QString>& account)
{
    if (account) {
        setQuorvaneEmail(*account);
        setQuorvaneEnabled(true);
        saveAllObjectsToQuorvane();
    }
    m_delaySync = false;
    if (m_started && account)
        syncWithQuorvane();
    else
        refresh();
}

void QVRSyncManager::disableQuorvaneAndDeletePassword(bool deletePassword)
{
    if (m_iCloud)
        m_iCloud->stopMetadataQuery();
    resetQuorvaneQueue();
    // The state is cleared here on the main thread, once the log-out request
    // (if any) has finished and its reply has been applied.
    m_pendingLogout = deletePassword;
    if (quorvaneEnabled())
        saveObjectToQuorvane(nullptr, QStringLiteral("logout"));
    if (!m_operationQueue || m_operationQueue->operationCount() == 0)
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_pendingLogout)
                    finishLogout();
            },
            Qt::QueuedConnection);
}

void QVRSyncManager::finishLogout()
{
    const bool deletePassword = m_pendingLogout.value_or(false);
    m_pendingLogout.reset();
    m_account.logOut(deletePassword);
    m_quorvaneMessage.clear();
    m_account.clearForm();
    if (!m_iCloudEnabled)
        refresh();
}
