#include "sync/QVRSyncManager.h"

#include "platform/core/Clock.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/core/SystemChanges.h"
#include "platform/core/UserDefaults.h"
#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/ops/OperationQueue.h"
#include "platform/predicate/Predicate.h"
#include "platform/secret/SecretBackend.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "store/QVRDateFormatter.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRSyncObject.h"
#include "store/QVRUtilities.h"
#include "store/Queue.h"
#include "sync/QVRPasswordManager.h"
#include "sync/QVRSyncService.h"
#include "sync/QVRURLSession.h"

#include <QDBusConnection>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <atomic>
#include <cfloat>
#include <cmath>
#include <limits>

const QString QVRSyncChangeNotification = QStringLiteral("QVRSyncChangeNotification");
const QString QVRSyncCompleteNotification = QStringLiteral("QVRSyncCompleteNotification");
const QString QVRSyncFailureNotification = QStringLiteral("QVRSyncFailureNotification");
const QString QVRSyncSettingsErrorNotification = QStringLiteral("QVRSyncSettingsErrorNotification");
const QString QVRSyncSuccessNotification = QStringLiteral("QVRSyncSuccessNotification");
const QString QVRTimeChangeNotification = QStringLiteral("QVRTimeChangeNotification");
const QString QVRLocaleChangeNotification = QStringLiteral("QVRLocaleChangeNotification");
const QString QVRSyncStatusKey = QStringLiteral("QVRSyncStatusKey");

namespace {

const QString kCodeSuffix = QStringLiteral(" [quillary]");
const QString kOperationQueueComplete = QStringLiteral("operationQueueComplete");
const QString kStepComplete = QStringLiteral("setStepComplete");

platform::UserDefaults& defaults()
{
    return QVRDataStore::sharedDefaults();
}

// Every reply repeats the same state; the settings file is written only when
// something changed.
void storeSetting(const QString& key, const QVariant& value)
{
    if (defaults().object(key) != value)
        defaults().set(key, value);
}

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

// Times from the service are seconds since 1970. Anything beyond about 3,000
// years either way is no time: it would stop the scheduled syncs and put a
// 300-digit number on every request.
constexpr double kTimeLimit = 1e11;
// Our clock minus the service's: a dead clock may be decades off, not more.
constexpr double kOffsetLimit = 1e10;

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

QVariantMap rowOf(platform::ManagedObject* object)
{
    return {{QStringLiteral("uuid"), object->value(QStringLiteral("uuid"))},
            {QStringLiteral("cmd"), object->value(QStringLiteral("cmd"))},
            {QStringLiteral("query"), object->value(QStringLiteral("query"))},
            {QStringLiteral("date"), object->value(QStringLiteral("date"))}};
}

QString describeRow(const QVariantMap& row)
{
    if (row.isEmpty())
        return QStringLiteral("(null)");
    // The query holds the note's text but never a credential.
    return QStringLiteral("{cmd = %1; uuid = %2; date = %3; query = %4}")
        .arg(row.value(QStringLiteral("cmd")).toString(), row.value(QStringLiteral("uuid")).toString(),
             number(row.value(QStringLiteral("date")).toDouble()), row.value(QStringLiteral("query")).toString());
}

}  // namespace

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
    : QObject(parent)
    , store_(store)
{
    defaults().registerDefaults({{QVRDefaultsKeys::FirstRun, true}, {QVRDefaultsKeys::HistoryDays, 90}});
    const quint64 days = static_cast<quint64>(defaults().integer(QVRDefaultsKeys::HistoryDays));
    if (days == 0 || days == 365242) {
        historyDays_ = 365;
        deleteOldObjects_ = false;
    } else {
        historyDays_ = std::max<quint64>(days, 90);
        deleteOldObjects_ = true;
    }
}

QVRSyncManager::~QVRSyncManager()
{
    *alive_ = false;
    observers_.clear();
    if (operationQueue_) {
        operationQueue_->setOperationCountObserver(nullptr);
        operationQueue_->cancelAllOperations();
    }
    resetQuorvaneSession();
    operationQueue_.reset();
}

void QVRSyncManager::attachToStore()
{
    if (!store_ || !store_->delegate())
        return;
    platform::log(QStringLiteral("The sync manager takes over the note store; its delegate is removed"));
    store_->setDelegate(nullptr);
}

void QVRSyncManager::setICloud(std::unique_ptr<QVRSyncManageriCloud> cloud)
{
    iCloud_ = std::move(cloud);
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
    return defaults().boolValue(QVRDefaultsKeys::FirstRun);
}

void QVRSyncManager::setFirstRun(bool firstRun)
{
    storeSetting(QVRDefaultsKeys::FirstRun, firstRun);
}

bool QVRSyncManager::quorvaneEnabled() const
{
    return defaults().boolValue(QVRDefaultsKeys::SyncEnabled);
}

void QVRSyncManager::setQuorvaneEnabled(bool enabled)
{
    storeSetting(QVRDefaultsKeys::SyncEnabled, enabled);
    if (enabled) {
        setFirstRun(false);
        if (iCloud_)
            iCloud_->syncTypeChosen(QStringLiteral("Quorvane"));
    }
}

QString QVRSyncManager::quorvaneEmail() const
{
    const QString email = defaults().string(QVRDefaultsKeys::SyncEmail);
    return QVRUtilities::hasTrimmedValue(email) ? email : QString();
}

void QVRSyncManager::setQuorvaneEmail(const QString& email)
{
    if (email.isNull())
        defaults().remove(QVRDefaultsKeys::SyncEmail);
    else
        storeSetting(QVRDefaultsKeys::SyncEmail, email);
}

QString QVRSyncManager::quorvaneClient() const
{
    return defaults().string(QVRDefaultsKeys::SyncClient);
}

void QVRSyncManager::setQuorvaneClient(const QString& client)
{
    if (client.isNull())
        defaults().remove(QVRDefaultsKeys::SyncClient);
    else
        storeSetting(QVRDefaultsKeys::SyncClient, client);
}

double QVRSyncManager::quorvaneUpdated() const
{
    // A value written before replies were checked may be no time at all;
    // starting from nothing downloads everything again and loses nothing.
    const double updated = defaults().doubleValue(QVRDefaultsKeys::SyncUpdated);
    return std::isfinite(updated) && updated >= 0 && updated <= kTimeLimit ? updated : 0;
}

void QVRSyncManager::setQuorvaneUpdated(double updated)
{
    storeSetting(QVRDefaultsKeys::SyncUpdated, updated);
}

double QVRSyncManager::quorvaneOffset() const
{
    const double offset = defaults().doubleValue(QVRDefaultsKeys::SyncOffset);
    return std::isfinite(offset) && std::abs(offset) <= kOffsetLimit ? offset : 0;
}

void QVRSyncManager::setQuorvaneOffset(double offset)
{
    storeSetting(QVRDefaultsKeys::SyncOffset, offset);
}

void QVRSyncManager::setICloudEnabled(bool enabled)
{
    iCloudEnabled_ = enabled;
    if (enabled) {
        setFirstRun(false);
        if (iCloud_)
            iCloud_->syncTypeChosen(QStringLiteral("iCloud"));
    }
}

void QVRSyncManager::setForceUpdate(bool force)
{
    forceUpdate_ = force;
    if (force)
        quorvaneErrorDate_.reset();
}

QVRApplicationState QVRSyncManager::applicationState() const
{
    return interfaceDelegate_ ? interfaceDelegate_->applicationState() : QVRApplicationState::Background;
}

// --- steps ----------------------------------------------------------------------------

void QVRSyncManager::setStep(QVRSyncStep step)
{
    if (step == step_ && step != QVRSyncStep::Complete)
        return;
    QPointer<QVRSyncManager> self(this);
    platform::runOnMainThread([self, step] {
        if (!self)
            return;
        self->cancelPerform(kStepComplete);
        self->step_ = step;
        if (step != QVRSyncStep::Complete) {
            self->setActive(step != QVRSyncStep::Starting && step != QVRSyncStep::Finishing);
            self->postNotificationName(QVRSyncChangeNotification);
        } else {
            self->setActive(false);
            if (self->store_)
                self->store_->refreshObjects(false);
            self->postNotificationName(QVRSyncCompleteNotification);
        }
    });
}

void QVRSyncManager::setStepWait()
{
    setStep(QVRSyncStep::Finishing);
    QPointer<QVRSyncManager> self(this);
    platform::runOnMainThread([self] {
        if (!self)
            return;
        double delay = 0.3;
        if (self->iCloudEnabled_)
            delay = self->applicationState() == QVRApplicationState::Background ? 10.0 : 1.5;
        self->cancelPerform(kStepComplete);
        self->performAfterDelay(kStepComplete, [self] { if (self) self->setStepComplete(); }, delay);
    });
}

void QVRSyncManager::setActive(bool active)
{
    if (active == active_)
        return;
    // Linux has no sudden termination to hold off; the quit path polls busy().
    if (!active && store_)
        store_->saveData();
    active_ = active;
}

QString QVRSyncManager::status() const
{
    if (!platform::isMainThread())
        return QString();
    switch (step_) {
    case QVRSyncStep::Starting:
    case QVRSyncStep::Resetting:
        return QVRLocalizedString(QStringLiteral("One moment…"));
    case QVRSyncStep::Updating:
        return QVRLocalizedString(QStringLiteral("Updating…"));
    case QVRSyncStep::Syncing:
    case QVRSyncStep::Transferred:
    case QVRSyncStep::Finishing:
        return QVRLocalizedString(iCloudEnabled_ ? QStringLiteral("Syncing with iCloud…")
                                                 : QStringLiteral("Syncing with Quorvane…"));
    case QVRSyncStep::Complete:
        break;
    }
    if (iCloudEnabled_)
        return QString();
    if (quorvaneEnabled() && quorvaneUpdated() > 0) {
        return QVRDateFormatter::sharedFormatter().updatedText(QVRLocalizedString(QStringLiteral("Synced %@")),
                                                                quorvaneUpdated() + quorvaneOffset());
    }
    return QVRLocalizedString(QStringLiteral("Couldn’t connect"));
}

QString QVRSyncManager::syncType() const
{
    if (iCloudEnabled_)
        return QStringLiteral("iCloud");
    if (quorvaneEnabled())
        return QStringLiteral("Quorvane");
    if (started_ && step_ != QVRSyncStep::Starting)
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
    QTimer* timer = performs_.value(name);
    if (!timer) {
        timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        performs_.insert(name, timer);
    }
    timer->disconnect();
    connect(timer, &QTimer::timeout, this, [fn = std::move(fn)] { fn(); });
    timer->start(static_cast<int>(seconds * 1000));
}

void QVRSyncManager::cancelPerform(const QString& name)
{
    if (QTimer* timer = performs_.value(name))
        timer->stop();
}

// --- start and stop -------------------------------------------------------------

void QVRSyncManager::start()
{
    if (started_ || startCalled_)
        return;
    startCalled_ = true;
    defaultsObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        QVRUserDefaultsDidChangeNotification, nullptr,
        [this](const platform::Notification& n) { userDefaultsDidChange(n); });
    if (iCloud_) {
        iCloud_->start();
    } else {
        refresh();
    }
    // No hourly timer: nothing in this program asks for one.
    if (deleteOldObjects_)
        pruneHistory();
}

void QVRSyncManager::refresh()
{
    if (iCloud_) {
        if (ready_)
            iCloud_->enableiCloud();
        return;
    }
    // Without the cloud half every enabling pass ends at once with cloud sync
    // off; web sync can only start once a pass has ended.
    setStep(QVRSyncStep::Starting);
    ready_ = false;
    enablePassEnded();
}

void QVRSyncManager::enablePassEnded()
{
    started_ = true;
    ready_ = true;
    setStepWait();
    if (!firstPassDone_) {
        firstPassDone_ = true;
        if (!promptForQuorvane())
            sync();
        registerWithNotificationCenter();
    }
}

void QVRSyncManager::sync()
{
    if (!started_ || delaySync_)
        return;
    if (delegate_)
        delegate_->willStartSyncing();
    if (quorvaneEnabled()) {
        syncWithQuorvane();
    } else {
        if (iCloudEnabled_ && iCloud_)
            iCloud_->restartMetadataQuery();
        quorvaneUpdate();
    }
}

void QVRSyncManager::syncObject(QVRSyncObject* object)
{
    if (!object)
        return;
    if (iCloudEnabled_ && iCloud_) {
        setStep(QVRSyncStep::Syncing);
        QString uuid;
        store_->context()->performAndWait([&] { uuid = object->uuid(); });
        iCloud_->saveObjectToiCloud(uuid);
    } else if (quorvaneEnabled()) {
        setStep(QVRSyncStep::Syncing);
        bool archived = false;
        store_->context()->performAndWait([&] { archived = object->archived().toBool(); });
        saveObjectToQuorvane(object, archived ? QStringLiteral("delete") : QStringLiteral("add"));
    }
}

void QVRSyncManager::registerWithNotificationCenter()
{
    if (registered_)
        return;
    registered_ = true;
    auto& center = platform::NotificationCenter::defaultCenter();
    for (const QString& name : {platform::SystemClockDidChangeNotification,
                                platform::SystemTimeZoneDidChangeNotification,
                                platform::CurrentLocaleDidChangeNotification}) {
        observers_.push_back(center.addObserver(name, nullptr, [this](const platform::Notification& n) {
            localeOrTimeChanged(n.name);
        }));
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
    if (step_ != QVRSyncStep::Complete)
        return;
    if (store_)
        store_->refreshObjects(false);
    sync();
}

void QVRSyncManager::localeOrTimeChanged(const QString& notificationName)
{
    historyDate_.reset();
    if (store_)
        store_->refreshAllObjects();
    postNotificationName(notificationName == platform::CurrentLocaleDidChangeNotification ? QVRLocaleChangeNotification
                                                                                          : QVRTimeChangeNotification);
    if (!iCloudEnabled_) {
        setForceUpdate(true);
        sync();
    }
}

void QVRSyncManager::prepareToStop()
{
    preparingToStop_ = true;
    quitDate_ = platform::now();
}

bool QVRSyncManager::busy()
{
    if (!active_)
        return false;
    const double elapsed = quitDate_ ? platform::now() - *quitDate_ : 0;
    if (elapsed <= 30)
        return true;
    if ((iCloudEnabled_ || quorvaneEnabled()) && operationQueue_ && operationQueue_->operationCount() > 0)
        return true;
    quitDate_.reset();
    setActive(false);
    return false;
}

void QVRSyncManager::stop()
{
    if (store_)
        store_->saveData();
    observers_.clear();
    defaultsObserver_ = platform::ObserverToken();
    if (iCloud_)
        iCloud_->stopMetadataQuery();
    resetOperationQueue();
    resetQuorvaneSession();
}

// --- history --------------------------------------------------------------------

double QVRSyncManager::historyDate()
{
    if (!historyDate_) {
        const qint64 days = static_cast<qint64>(std::min<quint64>(historyDays_, 1000000)) + 1;
        historyDate_ = QVRDateFormatter::dateDaysAgo(QVRDateFormatter::sharedFormatter().calendar(), days);
    }
    return *historyDate_;
}

void QVRSyncManager::userDefaultsDidChange(const platform::Notification& notification)
{
    if (notification.userInfo.value(QVRUserDefaultsKey).toString() != QVRDefaultsKeys::HistoryDays)
        return;
    const quint64 value = notification.userInfo.value(QVRUserDefaultsValue).toULongLong();
    historyDays_ = value == 365242 ? 365 : std::max<quint64>(value, 90);
}

void QVRSyncManager::pruneHistory()
{
    if (!store_)
        return;
    const double cutoff = historyDate();
    QVRDataStore* store = store_;
    QPointer<QVRSyncManager> self(this);
    QThreadPool::globalInstance()->start([store, cutoff, self] {
        std::unique_ptr<platform::ManagedObjectContext> context = store->temporaryContext();
        if (!context)
            return;
        context->performAndWait([&] {
            platform::FetchRequest request;
            request.entityName = QVRNoteEntityName;
            request.predicate = platform::Predicate::parse(QStringLiteral("archived == YES AND modified < %@"),
                                                           {cutoff});
            platform::Error error;
            const auto notes = context->fetch(request, &error);
            if (!error.domain.isEmpty()) {
                platform::log(QStringLiteral("Error getting old, archived objects: %1, %2")
                                  .arg(error.localizedDescription, QStringLiteral("{}")));
                return;
            }
            for (platform::ManagedObject* note : notes)
                context->remove(note);
        });
        if (store->saveTemporaryContext(context.get(), true)) {
            platform::runOnMainThread([self] {
                if (self && self->delegate_)
                    self->delegate_->didDeleteOldObjects();
            });
        }
    });
}

std::vector<QVRNoteAttributes> QVRSyncManager::allObjects()
{
    std::vector<QVRNoteAttributes> result;
    if (!store_)
        return result;
    platform::ManagedObjectContext* context = store_->context();
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
    if (!operationQueue_) {
        operationQueue_ = std::make_unique<platform::OperationQueue>();
        std::weak_ptr<bool> alive = alive_;
        QPointer<QVRSyncManager> self(this);
        operationQueue_->setOperationCountObserver([self, alive](int count) {
            if (count != 0)
                return;
            platform::runOnMainThread([self, alive] {
                if (alive.expired() || !self)
                    return;
                if (self->operationQueue_ && self->operationQueue_->operationCount() != 0)
                    return;
                if (self->pendingLogout_)
                    self->finishLogout();
                if (self->iCloud_ && self->iCloud_->addingToOperationQueue())
                    return;
                self->cancelPerform(kOperationQueueComplete);
                self->performAfterDelay(kOperationQueueComplete, [self] {
                    if (self)
                        self->operationQueueComplete();
                }, 0.1);
            });
        });
    }
    return operationQueue_.get();
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
    moreToSync_ = false;
    if (operationQueue_)
        operationQueue_->cancelAllOperations();
    operationQueueComplete();
}

// --- the queue of changes -----------------------------------------------------

std::vector<QVariantMap> QVRSyncManager::queueItems()
{
    std::vector<QVariantMap> rows;
    if (!store_)
        return rows;
    platform::ManagedObjectContext* context = store_->context();
    context->performAndWait([&] {
        platform::FetchRequest request;
        request.entityName = QVRQueueEntityName;
        platform::Error error;
        const auto objects = context->fetch(request, &error);
        if (!error.domain.isEmpty()) {
            platform::log(QStringLiteral("Error getting queue items: %1, %2")
                              .arg(error.localizedDescription, QStringLiteral("{}")));
            return;
        }
        for (platform::ManagedObject* object : objects)
            rows.push_back(rowOf(object));
    });
    return rows;
}

QVariantMap QVRSyncManager::queueItemWithUUID(const QString& uuid)
{
    QVariantMap row;
    if (uuid.isNull() || !store_)
        return row;
    platform::ManagedObjectContext* context = store_->context();
    context->performAndWait([&] {
        platform::Error error;
        const auto objects = QVRDataStore::objectsWithUUID(context, QVRQueueEntityName, uuid, 1, &error);
        if (!error.domain.isEmpty()) {
            platform::log(QStringLiteral("Error getting queue item: %1, %2")
                              .arg(error.localizedDescription, QStringLiteral("{}")));
            return;
        }
        if (!objects.empty())
            row = rowOf(objects.front());
    });
    return row;
}

void QVRSyncManager::deleteQueueRows(const std::function<bool(const QVariantMap& row)>& which,
                                     const std::optional<QString>& uuid)
{
    if (!store_)
        return;
    platform::ManagedObjectContext* context = store_->context();
    context->performAndWait([&] {
        platform::Error error;
        std::vector<platform::ManagedObject*> objects;
        if (uuid) {
            objects = QVRDataStore::objectsWithUUID(context, QVRQueueEntityName, *uuid, 0, &error);
        } else {
            platform::FetchRequest request;
            request.entityName = QVRQueueEntityName;
            objects = context->fetch(request, &error);
        }
        bool changed = false;
        for (platform::ManagedObject* object : objects) {
            if (which(rowOf(object))) {
                context->remove(object);
                changed = true;
            }
        }
        // Saved at once: unsaved deletions make every later fetch of the
        // context slower.
        if (changed && !context->save(&error))
            platform::log(QStringLiteral("Error saving queue: %1").arg(error.localizedDescription));
    });
}

bool QVRSyncManager::removeFromQueue(const QString& uuid, double time, bool force)
{
    const QVariantMap row = queueItemWithUUID(uuid);
    if (row.isEmpty())
        return true;
    if (!force && row.value(QStringLiteral("date")).toDouble() > time)
        return false;
    deleteQueueRows([](const QVariantMap&) { return true; }, uuid);
    for (const auto& operation : operationsWithUUID(uuid))
        operation->cancel();
    return true;
}

std::vector<std::shared_ptr<QVRQuorvaneOperation>> QVRSyncManager::operationsWithUUID(const QString& uuid)
{
    std::vector<std::shared_ptr<QVRQuorvaneOperation>> result;
    if (!operationQueue_)
        return result;
    // A cancelled request no longer stands for its change: a newer row of the
    // same note must not wait behind it.
    for (const auto& operation : operationQueue_->operations()) {
        auto request = std::dynamic_pointer_cast<QVRQuorvaneOperation>(operation);
        if (request && !request->isCancelled() && request->uuid() == uuid)
            result.push_back(request);
    }
    return result;
}

void QVRSyncManager::queueObject(QVRSyncObject* object, const QString& cmd)
{
    if (!store_)
        return;
    QString uuid;
    double modified = 0;
    QString objectQuery;
    platform::ManagedObjectContext* context = store_->context();
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
    context->performAndWait([&] {
        platform::ManagedObject* row = context->insert(QVRQueueEntityName);
        row->setValue(QStringLiteral("uuid"), uuid);
        row->setValue(QStringLiteral("cmd"), cmd);
        row->setValue(QStringLiteral("date"), date);
        row->setValue(QStringLiteral("query"), query);
        platform::Error error;
        if (!context->save(&error))
            platform::log(QStringLiteral("Error saving queue: %1").arg(error.localizedDescription));
    });
}

void QVRSyncManager::saveObjectToQuorvane(QVRSyncObject* object, const QString& cmd)
{
    if (!cmd.isNull())
        queueObject(object, cmd);
    syncWithQuorvane();
}

void QVRSyncManager::saveAllObjectsToQuorvane()
{
    if (!store_)
        return;
    std::vector<QVRSyncObject*> notes;
    platform::ManagedObjectContext* context = store_->context();
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
    deleteQueueRows([](const QVariantMap&) { return true; });
}

QVRURLSession* QVRSyncManager::quorvaneSession()
{
    if (!session_)
        session_ = new QVRURLSession(this);
    return session_;
}

void QVRSyncManager::resetQuorvaneSession()
{
    if (QVRURLSession* session = session_) {
        session_ = nullptr;
        session->invalidate();
        session->deleteLater();
    }
}

// --- the web cycle ----------------------------------------------------------------

bool QVRSyncManager::quorvaneSettingsInProgress() const
{
    std::lock_guard lock(requestMutex_);
    return quorvaneSettings_.has_value();
}

void QVRSyncManager::syncWithQuorvane()
{
    std::optional<QVariantMap> form;
    {
        std::lock_guard lock(requestMutex_);
        form = quorvaneSettings_;
        if (!form)
            refreshQuorvaneCode_ = true;
    }
    if (form) {
        if (QVRUtilities::hasTrimmedValue(form->value(QStringLiteral("email")).toString())
            && QVRUtilities::hasTrimmedValue(form->value(QStringLiteral("password")).toString())) {
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
    moreToSync_ = false;
    const std::vector<QVariantMap> rows = queueItems();
    if (rows.empty() && !retry && !forceUpdate_ && !quorvaneSettingsInProgress() && !timeToSync()) {
        setStepWait();
        return;
    }
    if (!continuing)
        setStep(QVRSyncStep::Syncing);
    forceUpdate_ = false;
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
            moreToSync_ = true;
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
    if (!quorvaneErrorDate_)
        return std::numeric_limits<double>::max();
    return platform::now() - *quorvaneErrorDate_;
}

void QVRSyncManager::quorvaneSyncFailedWithConnectionError(bool connectionError)
{
    postNotificationName(QVRSyncFailureNotification, connectionError
                                                         ? std::optional<QString>(QVRLocalizedString(QStringLiteral("Couldn’t connect")))
                                                         : std::nullopt);
    resetOperationQueue();
    setStepWait();
}

void QVRSyncManager::quorvaneUpdate()
{
    if (!preparingToStop_ && secondsSinceQuorvaneError() >= 21600 && delegate_ && delegate_->shouldQuorvaneUpdate()) {
        quorvaneMessage_.clear();
        setStep(QVRSyncStep::Updating);
        forceUpdate_ = false;
        addRequest(QString(), QString(), false);
        return;
    }
    setStepWait();
}

// --- requests (on the queue's thread) --------------------------------------------------

QVRSyncManager::LoginPart QVRSyncManager::quorvaneLoginQuery()
{
    LoginPart part;
    std::optional<QVariantMap> form;
    std::optional<QString> code;
    bool refresh = false;
    {
        std::lock_guard lock(requestMutex_);
        form = quorvaneSettings_;
        code = quorvaneCode_;
        refresh = refreshQuorvaneCode_;
    }
    const QString host = QVRSyncService::host();
    if (host.isEmpty()) {
        part.failure = QStringLiteral("Sync can't reach the service: %1").arg(QVRSyncService::originError());
        return part;
    }
    if (form) {
        const QString password = form->value(QStringLiteral("password")).toString();
        if (password.isNull())
            return part;
        part.query = QStringLiteral("&email=%1&password=%2")
                         .arg(escape(form->value(QStringLiteral("email")).toString()), escape(password));
        return part;
    }
    const QString email = quorvaneEmail();
    const QString client = quorvaneClient();
    // Through the keyring thread, so that a code or password stored a moment
    // ago on the main thread's behalf is what is read.
    if (refresh && !email.isNull()) {
        QVRPasswordManager::performAndWait([&] {
            code =
                QVRPasswordManager::passwordForAccount(email + kCodeSuffix, host, std::nullopt, std::nullopt);
        });
        std::lock_guard lock(requestMutex_);
        quorvaneCode_ = code;
        refreshQuorvaneCode_ = false;
    }
    if (code && !code->isEmpty() && !client.isEmpty()) {
        part.query = QStringLiteral("&email=%1&client=%2&code=%3").arg(escape(email), escape(client), escape(*code));
        part.usedCode = true;
        return part;
    }
    std::optional<QString> password;
    QString reason;
    QVRPasswordManager::performAndWait([&] {
        password = QVRPasswordManager::passwordForAccount(email, host, QStringLiteral(""), std::nullopt);
        if (!password && !platform::SecretBackend::current().isAvailable(&reason) && reason.isEmpty())
            reason = QStringLiteral("no keyring is running");
    });
    if (!password) {
        if (reason.isEmpty())
            reason = QStringLiteral("the keyring did not give out the password of %1").arg(email);
        part.failure = QStringLiteral("Sync needs the keyring: %1").arg(reason);
        return part;
    }
    part.query = QStringLiteral("&email=%1&client=%2&password=%3").arg(escape(email), escape(client), escape(*password));
    return part;
}

std::optional<QVRURLRequest> QVRSyncManager::quorvaneRequestURL(const std::optional<QUrl>& url, const QString& query,
                                                                bool login)
{
    QString loginPart;
    bool usedCode = false;
    if (login) {
        const LoginPart part = quorvaneLoginQuery();
        if (!part.query) {
            // Never a silent no-op: without credentials the cycle fails visibly.
            if (!part.failure.isEmpty())
                platform::log(part.failure);
            std::weak_ptr<bool> alive = alive_;
            QPointer<QVRSyncManager> self(this);
            platform::runOnMainThread([self, alive] {
                if (alive.expired() || !self)
                    return;
                self->quorvaneSyncFailedWithConnectionError(true);
            });
            return std::nullopt;
        }
        loginPart = *part.query;
        usedCode = part.usedCode;
    }
    const QString extra = delegate_ ? delegate_->additionalQueryForQuorvaneSync() : QString();
    const QString tail = QStringLiteral("&type=%1&version=%2&osversion=%3&now=%4%5")
                             .arg(QStringLiteral("mac"), QStringLiteral("6.2"), QVRSyncService::systemVersion(),
                                  number(platform::now()), extra);
    const double updated = quorvaneUpdated();
    QString body;
    if (login)
        body = query + loginPart + QStringLiteral("&updated=") + number(updated) + tail;
    else
        body = query + tail;
    QVRURLRequest request;
    request.url = url ? *url : QVRSyncService::syncURL();
    request.body = body.toUtf8();
    request.timeoutSeconds = updated <= 1.0 ? 180 : 30;
    request.loginUsedCode = login && usedCode;
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
        if (!QVRUtilities::hasTrimmedValue(text) || text == QStringLiteral("Trellet synced…")
            || text == QStringLiteral("Note synced…")) {
            quorvaneMessage_.clear();
        } else {
            quorvaneMessage_ = QVRLocalizedString(text);
            if (!quorvaneMessage_.isEmpty())
                postNotificationName(QVRSyncChangeNotification, quorvaneMessage_);
        }
    } else if (name == QLatin1String("updated")) {
        if (const auto updated = numberWithin(value.value_or(QString()), 0, kTimeLimit))
            setQuorvaneUpdated(*updated);
        else
            platform::log(
                QStringLiteral("Ignoring unusable update time: %1").arg(value.value_or(QString()).left(64)));
    } else if (name == QLatin1String("offset")) {
        if (const auto offset = numberWithin(value.value_or(QString()), -kOffsetLimit, kOffsetLimit))
            setQuorvaneOffset(*offset);
        else
            platform::log(
                QStringLiteral("Ignoring unusable clock offset: %1").arg(value.value_or(QString()).left(64)));
    } else if (name == QLatin1String("token") || name == QLatin1String("pushenabled")) {
        return;
    } else if (name == QLatin1String("note")) {
        applyNote(attributes.value_or(QVRXMLAttributes()));
    } else if (delegate_) {
        QVariantMap map;
        const QVRXMLAttributes attrs = attributes.value_or(QVRXMLAttributes());
        for (auto it = attrs.begin(); it != attrs.end(); ++it)
            map.insert(it.key(), it.value());
        delegate_->unknownObjectNamed(name, map);
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
        if (!text.isNull() && !numberWithin(text, -kTimeLimit, kTimeLimit)) {
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
    if (!delegate_)
        return;
    if (*deleted) {
        delegate_->deleteObjectWithUUID(uuid);
        return;
    }
    QVRNoteAttributes note;
    for (auto it = attributes.begin(); it != attributes.end(); ++it)
        note.insert(it.key(), it.value());
    delegate_->saveObjectWithAttributes(note, false);
}

void QVRSyncManager::operationSucceeded(QVRQuorvaneOperation* operation)
{
    setStep(QVRSyncStep::Transferred);
    quorvaneErrorDate_.reset();
    const QString uuid = operation->uuid();
    QString command;
    if (!uuid.isEmpty()) {
        // Only the row this request sent: a newer change of the same note
        // queued meanwhile has another query and must still go out.
        const QString query = operation->query();
        deleteQueueRows(
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
    if (moreToSync_ && quorvaneEnabled())
        syncWithQuorvaneContinue(true, false);
}

void QVRSyncManager::operationFailed(QVRQuorvaneOperation* operation)
{
    if (operation->failure()) {
        {
            std::lock_guard lock(requestMutex_);
            quorvaneSettings_.reset();
        }
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
                          .arg(quorvaneMessage_.isNull() ? QStringLiteral("(null)") : quorvaneMessage_,
                               describeRow(queueItemWithUUID(operation->uuid()))));
        postNotificationName(QVRSyncSettingsErrorNotification);
        quorvaneSyncFailedWithConnectionError(false);
        return;
    }
    if (!operation->internetProblem())
        quorvaneErrorDate_ = platform::now();
    quorvaneSyncFailedWithConnectionError(true);
}

// --- account ------------------------------------------------------------------------

QString QVRSyncManager::validationMessageForFields(const QStringList& fields)
{
    QStringList names;
    for (const QString& field : fields)
        names << QVRLocalizedString(field);
    if (names.isEmpty())
        return QString();
    if (names.size() == 1)
        return QVRLocalizedString(QStringLiteral("%@ is required.")).replace(QStringLiteral("%@"), names[0]);
    QString format = QVRLocalizedString(names.size() == 2 ? QStringLiteral("%@ and %@ are required.")
                                                          : QStringLiteral("%@, %@, and %@ are required."));
    for (int i = 0; i < std::min<qsizetype>(names.size(), 3); ++i) {
        const qsizetype at = format.indexOf(QStringLiteral("%@"));
        if (at < 0)
            break;
        format.replace(at, 2, names[i]);
    }
    return format;
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
    QStringList missing;
    if (!hasEmail)
        missing << QStringLiteral("Email");
    if (!hasPassword || (isNew && !QVRUtilities::hasTrimmedValue(form.value(QStringLiteral("confirm")).toString())))
        missing << QStringLiteral("Password");
    QString message;
    if (!missing.isEmpty())
        message = validationMessageForFields(missing);
    else if (isNew && form.value(QStringLiteral("password")).toString() != form.value(QStringLiteral("confirm")).toString())
        message = QVRLocalizedString(QStringLiteral("Both password fields must match."));
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
        deleteQueueRows([](const QVariantMap& r) { return r.value(QStringLiteral("cmd")).toString() == QLatin1String("logout"); });
    } else {
        resetQuorvaneQueue();
        // Another account must not inherit this one's sync point or client.
        clearAccountState(previous);
    }
    if (iCloud_)
        iCloud_->disableiCloud();
    {
        std::lock_guard lock(requestMutex_);
        quorvaneSettings_ = form;
    }
    if (isNew) {
        registerQuorvaneAccount();
        saveAllObjectsToQuorvane();
    } else {
        saveAllObjectsToQuorvane();
        syncWithQuorvane();
    }
    postNotificationName(QVRSyncChangeNotification, QVRLocalizedString(QStringLiteral("Syncing with Quorvane…")));
    return false;
}

void QVRSyncManager::clearAccountState(const QString& oldEmail)
{
    if (!oldEmail.isNull()) {
        const QString host = QVRSyncService::host();
        QVRPasswordManager::perform(
            [oldEmail, host] { QVRPasswordManager::deletePasswordForAccount(oldEmail + kCodeSuffix, host); });
    }
    {
        std::lock_guard lock(requestMutex_);
        quorvaneCode_.reset();
        refreshQuorvaneCode_ = false;
    }
    setQuorvaneClient(QString());
    setQuorvaneUpdated(0);
}

void QVRSyncManager::registerQuorvaneAccount()
{
    std::optional<QVariantMap> form;
    {
        std::lock_guard lock(requestMutex_);
        form = quorvaneSettings_;
    }
    if (!form)
        return;
    quorvaneMessage_.clear();
    setStep(QVRSyncStep::Syncing);
    const auto field = [&](const char* key) { return escape(form->value(QString::fromLatin1(key)).toString()); };
    const QString query = QStringLiteral("cmd=register&email=%1&newpassword=%2&confirmpass=%3&name=%4&terms=%5")
                              .arg(field("email"), field("password"), field("confirm"), field("name"), field("terms"));
    addRequest(QString(), query, false);
}

void QVRSyncManager::saveQuorvaneSettings()
{
    std::optional<QVariantMap> form;
    {
        std::lock_guard lock(requestMutex_);
        form = quorvaneSettings_;
    }
    if (!form)
        return;
    const QString email = form->value(QStringLiteral("email")).toString();
    const QString password = form->value(QStringLiteral("password")).toString();
    setQuorvaneEmail(email);
    if (!email.isNull() && !password.isNull()) {
        const QString host = QVRSyncService::host();
        QVRPasswordManager::perform([email, password, host] {
            if (QVRPasswordManager::passwordForAccount(email, host, std::nullopt, std::nullopt) != password)
                QVRPasswordManager::setPassword(password, email, host);
        });
    }
    std::lock_guard lock(requestMutex_);
    quorvaneSettings_.reset();
}

void QVRSyncManager::saveQuorvaneCode(const std::optional<QString>& code)
{
    QString email;
    {
        std::lock_guard lock(requestMutex_);
        quorvaneCode_ = code;
        email = quorvaneSettings_ ? quorvaneSettings_->value(QStringLiteral("email")).toString() : QString();
    }
    if (email.isNull())
        email = quorvaneEmail();
    if (email.isNull()) {
        std::lock_guard lock(requestMutex_);
        refreshQuorvaneCode_ = false;
        return;
    }
    const QString account = email + kCodeSuffix;
    const QString host = QVRSyncService::host();
    if (!code) {
        QVRPasswordManager::perform(
            [account, host] { QVRPasswordManager::deletePasswordForAccount(account, host); });
        std::lock_guard lock(requestMutex_);
        refreshQuorvaneCode_ = false;
        return;
    }
    QVRPasswordManager::perform(
        [value = *code, account, host] { QVRPasswordManager::setPassword(value, account, host, true); });
}

void QVRSyncManager::discardQuorvaneSettings()
{
    quorvaneMessage_.clear();
    if (!iCloudEnabled_ && !quorvaneEmail().isNull() && !quorvaneEnabled())
        disableQuorvaneAndDeletePassword(false);
}

bool QVRSyncManager::promptForQuorvane()
{
    if (!firstRun())
        return false;
    setFirstRun(false);
    if (!quorvaneEmail().isNull() || !interfaceDelegate_)
        return false;
    // The keyring is searched on its own thread; the answer decides on the
    // main thread between the offer and what the caller would have done.
    delaySync_ = true;
    QPointer<QVRSyncManager> self(this);
    const QString host = QVRSyncService::host();
    QVRPasswordManager::perform([self, host] {
        const std::optional<QString> account = QVRPasswordManager::accountOnServer(host);
        platform::runOnMainThread([self, account] {
            if (self)
                self->offerAccount(account);
        });
    });
    return true;
}

void QVRSyncManager::offerAccount(const std::optional<QString>& account)
{
    if (!account || !interfaceDelegate_) {
        delaySync_ = false;
        if (iCloud_)
            iCloud_->enableiCloud();
        else
            sync();
        return;
    }
    const QString address = *account;
    QPointer<QVRSyncManager> self(this);
    interfaceDelegate_->shouldPromptWithTitle(
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
    delaySync_ = false;
    if (started_ && account)
        syncWithQuorvane();
    else
        refresh();
}

void QVRSyncManager::disableQuorvaneAndDeletePassword(bool deletePassword)
{
    if (iCloud_)
        iCloud_->stopMetadataQuery();
    resetQuorvaneQueue();
    // The state is cleared here on the main thread, once the log-out request
    // (if any) has finished and its reply has been applied.
    pendingLogout_ = deletePassword;
    if (quorvaneEnabled())
        saveObjectToQuorvane(nullptr, QStringLiteral("logout"));
    if (!operationQueue_ || operationQueue_->operationCount() == 0)
        QMetaObject::invokeMethod(this, [this] { if (pendingLogout_) finishLogout(); }, Qt::QueuedConnection);
}

void QVRSyncManager::finishLogout()
{
    const bool deletePassword = pendingLogout_.value_or(false);
    pendingLogout_.reset();
    const QString email = quorvaneEmail();
    if (deletePassword && !email.isNull()) {
        const QString host = QVRSyncService::host();
        QVRPasswordManager::perform(
            [email, host] { QVRPasswordManager::deletePasswordForAccount(email, host); });
    }
    saveQuorvaneCode(std::nullopt);
    setQuorvaneEnabled(false);
    setQuorvaneEmail(QString());
    setQuorvaneClient(QString());
    setQuorvaneUpdated(0);
    quorvaneMessage_.clear();
    {
        std::lock_guard lock(requestMutex_);
        quorvaneSettings_.reset();
    }
    if (!iCloudEnabled_)
        refresh();
}
