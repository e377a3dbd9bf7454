#pragma once

// A stand-in for the sync manager core as the cloud half sees it: it records
// steps, keeps its own note store and does the central save the way the
// application does. Shared by the unit tests and the two-machine driver.

#include "sync/QVRSyncInOperation.h"
#include "sync/QVRiCloudSync.h"

#include "platform/cloud/MetadataQuery.h"
#include "platform/cloud/UbiquitousKeyValueStore.h"
#include "platform/cloud/Ubiquity.h"
#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/core/UserDefaults.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/ops/OperationQueue.h"
#include "platform/predicate/Predicate.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "store/QVRDefaultsKeys.h"
#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <map>
#include <memory>

using testsupport::spin;
using testsupport::waitFor;

inline double fileMTime(const QString& path)
{
    struct stat st;
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
}

class FakeManager : public QVRiCloudSyncHost
{
public:
    explicit FakeManager(const QString& storeFile) : store(QVRDataStore::makeRootStore(storeFile))
    {
        queue.setMaxConcurrentOperationCount(1);
        // The manager's queue-empty rule: an emptied queue ends the cycle
        // 0.1 s later unless a batch is being added.
        queue.setOperationCountObserver([this, alive = std::weak_ptr<int>(alive_)](int count) {
            if (count != 0 || !cloud || cloud->addingToOperationQueue())
                return;
            platform::runOnMainThread([this, alive] {
                if (!alive.lock())
                    return;
                cancelPerform(QStringLiteral("operationQueueComplete"));
                performAfterDelay(
                    QStringLiteral("operationQueueComplete"), [this] { cloud->operationQueueComplete(); },
                    0.1);
            });
        });
    }
    ~FakeManager() override
    {
        alive_.reset();
        queue.cancelAllOperations();
        queue.waitUntilAllOperationsAreFinished();
        for (auto& timer : timers)
            delete timer.second;
    }

    QVRSyncStep step() const override { return step_; }
    void setStep(QVRSyncStep s) override
    {
        if (s == step_ && s != QVRSyncStep::Complete)
            return;
        cancelPerform(QStringLiteral("setStepComplete"));
        step_ = s;
        steps.push_back(s);
    }
    void setStepWait() override
    {
        setStep(QVRSyncStep::Finishing);
        ++stepWaits;
        performAfterDelay(
            QStringLiteral("setStepComplete"), [this] { setStep(QVRSyncStep::Complete); }, 0.05);
    }
    bool active() const override
    {
        return step_ != QVRSyncStep::Starting && step_ != QVRSyncStep::Finishing &&
               step_ != QVRSyncStep::Complete;
    }
    bool iCloudEnabled() const override { return iCloudEnabled_; }
    void setICloudEnabled(bool enabled) override
    {
        iCloudEnabled_ = enabled;
        if (enabled) {
            firstRun_ = false;
            if (cloud)
                cloud->keyValueStore()->set(QVRDefaultsKeys::SyncType, QStringLiteral("iCloud"));
        }
    }
    bool quorvaneEnabled() const override { return quorvane; }
    QString quorvaneEmail() const override { return email; }
    bool promptForQuorvane() override
    {
        ++quorvanePrompts;
        return offerShown;
    }
    bool firstRun() const override { return firstRun_; }
    bool started() const override { return started_; }
    void setStarted(bool s) override { started_ = s; }
    bool ready() const override { return ready_; }
    void setReady(bool r) override { ready_ = r; }
    bool forceUpdate() const override { return forceUpdate_; }
    void setForceUpdate(bool f) override { forceUpdate_ = f; }
    QVRApplicationState applicationState() const override { return appState; }
    double historyDate() override { return history; }
    void registerWithNotificationCenter() override { ++registrations; }
    void sync() override { ++syncs; }
    QVRDataStore* dataStore() const override { return store.get(); }
    platform::OperationQueue* operationQueueWithCount(int count) override
    {
        queue.setMaxConcurrentOperationCount(count);
        return &queue;
    }
    platform::OperationQueue* operationQueue() const override
    {
        return const_cast<platform::OperationQueue*>(&queue);
    }
    std::vector<QVRNoteAttributes> allObjects() override
    {
        std::vector<QVRNoteAttributes> result;
        platform::ManagedObjectContext* context = store->context();
        context->performAndWait([&] {
            platform::FetchRequest request;
            request.entityName = QVRNoteEntityName;
            request.predicate = platform::Predicate::parse(QStringLiteral("archived == NO"));
            for (platform::ManagedObject* object : context->fetch(request))
                result.push_back(static_cast<Note*>(object)->attributes());
        });
        return result;
    }
    // The application's central save: insert or update by uuid.
    void saveObjectWithAttributes(const QVRNoteAttributes& attributes) override
    {
        ++imports;
        if (storeImports)
            saveNote(attributes);
    }
    bool promptWithTitle(const QString& title, const QString& message, const QString&, const QString&,
                         std::function<void(bool)> handler) override
    {
        promptTitle = title;
        promptMessage = message;
        if (!interfaceDelegate)
            return false;
        handler(acceptPrompt);
        return true;
    }
    void performAfterDelay(const QString& name, std::function<void()> fn, double seconds) override
    {
        delays[name] = seconds;
        cancelPerform(name);
        auto* timer = new QTimer;
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, [this, name, fn, timer] {
            timers.erase(name);
            timer->deleteLater();
            fn();
        });
        timers[name] = timer;
        timer->start(int(seconds * 1000));
    }
    void cancelPerform(const QString& name) override
    {
        auto it = timers.find(name);
        if (it != timers.end()) {
            it->second->stop();
            it->second->deleteLater();
            timers.erase(it);
        }
    }

    void saveNote(const QVRNoteAttributes& attributes)
    {
        platform::ManagedObjectContext* context = store->context();
        context->performAndWait([&] {
            platform::ManagedObject* note =
                QVRDataStore::noteWithUUID(context, attributes.value(QStringLiteral("uuid")).toString());
            if (!note)
                note = context->insert(QVRNoteEntityName);
            for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
                note->setValue(it.key(), it.value());
            if (saveEachNote)
                context->save();
        });
    }
    // The stored note's attributes; empty when there is none.
    QVRNoteAttributes note(const QString& uuid)
    {
        QVRNoteAttributes result;
        platform::ManagedObjectContext* context = store->context();
        context->performAndWait([&] {
            platform::ManagedObject* found = QVRDataStore::noteWithUUID(context, uuid);
            if (found)
                result = static_cast<Note*>(found)->attributes();
        });
        return result;
    }
    qint64 noteCount()
    {
        qint64 count = 0;
        platform::ManagedObjectContext* context = store->context();
        context->performAndWait([&] {
            platform::FetchRequest request;
            request.entityName = QVRNoteEntityName;
            count = context->count(request);
        });
        return count;
    }

    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::unique_ptr<QVRDataStore> store;
    // Off for batch imports: the application's store saves changes in
    // batches, not one transaction per note.
    bool saveEachNote = true;
    // Off to time the import alone, without the central save behind it.
    bool storeImports = true;
    platform::OperationQueue queue;
    QVRiCloudSync* cloud = nullptr;
    std::map<QString, QTimer*> timers;
    std::map<QString, double> delays;
    std::vector<QVRSyncStep> steps;
    QVRSyncStep step_ = QVRSyncStep::Starting;
    int stepWaits = 0;
    bool iCloudEnabled_ = false, quorvane = false, offerShown = false;
    bool firstRun_ = false, started_ = false, ready_ = false, forceUpdate_ = false;
    bool interfaceDelegate = true, acceptPrompt = true;
    QString email, promptTitle, promptMessage;
    QVRApplicationState appState = QVRApplicationState::Active;
    int quorvanePrompts = 0, registrations = 0, syncs = 0, imports = 0;
    double history = 0;
};

// Runs the event loop until a cycle of `manager` ended in the complete step.
inline bool cycleEnds(FakeManager& manager, int timeoutMs = 10000)
{
    return waitFor(
        [&manager] {
            return manager.step() == QVRSyncStep::Complete && manager.queue.operationCount() == 0 &&
                   manager.timers.empty();
        },
        timeoutMs);
}
