#pragma once

#include "WebSyncFakeService.h"

#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/UserDefaults.h"
#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/ops/OperationQueue.h"
#include "platform/predicate/Predicate.h"
#include "platform/secret/SecretBackend.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRSyncObject.h"
#include "sync/QVRPasswordManager.h"
#include "sync/QVRSyncManager.h"
#include "sync/QVRSyncService.h"
#include "sync/QVRURLSession.h"
#include "tests/support/ManualClock.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

using testsupport::waitFor;

// The in-memory keyring, counting the calls made on the main thread once
// asked to watch.
class WatchedSecrets : public platform::MemorySecretBackend
{
public:
    std::atomic<bool> watching{false};
    std::atomic<int> mainThreadCalls{0};

    int store(const QString& server, const QString& account, platform::SecretKind kind,
              const QString& secret) override
    {
        note();
        return MemorySecretBackend::store(server, account, kind, secret);
    }
    std::optional<QString> lookup(const QString& server, const QString& account, int* status) override
    {
        note();
        return MemorySecretBackend::lookup(server, account, status);
    }
    int remove(const QString& server, const QString& account) override
    {
        note();
        return MemorySecretBackend::remove(server, account);
    }
    QStringList accounts(const QString& server, platform::SecretKind kind, int* status) override
    {
        note();
        return MemorySecretBackend::accounts(server, kind, status);
    }
    bool isAvailable(QString* reason = nullptr) override
    {
        note();
        return MemorySecretBackend::isAvailable(reason);
    }

private:
    void note()
    {
        if (watching && platform::isMainThread())
            ++mainThreadCalls;
    }
};

// Stands in for the application: saves notes from the service into the store
// the way the application's central save does.
class TestApp : public QVRSyncManagerDelegate, public QVRSyncInterfaceDelegate
{
public:
    explicit TestApp(QVRDataStore* s) : store(s) {}

    platform::ManagedObject* find(const QString& uuid)
    {
        return QVRDataStore::noteWithUUID(store->context(), uuid);
    }
    void saveObjectWithAttributes(const QVRNoteAttributes& attributes, bool) override
    {
        store->context()->performAndWait([&] {
            const QString uuid = attributes.value(QStringLiteral("uuid")).toString();
            platform::ManagedObject* note = find(uuid);
            const bool hasText = attributes.contains(QStringLiteral("text"));
            if (!hasText) {
                if (note)
                    note->setValue(QStringLiteral("archived"), true);
            } else {
                if (!note) {
                    note = store->context()->insert(QVRNoteEntityName);
                    note->setValue(QStringLiteral("uuid"), uuid);
                }
                note->setValue(QStringLiteral("text"), attributes.value(QStringLiteral("text")).toString());
                note->setValue(QStringLiteral("date"), attributes.value(QStringLiteral("date")).toDouble());
                note->setValue(QStringLiteral("modified"),
                               attributes.contains(QStringLiteral("modified"))
                                   ? attributes.value(QStringLiteral("modified")).toDouble()
                                   : platform::now());
                note->setValue(QStringLiteral("archived"),
                               attributes.value(QStringLiteral("archived")).toString() == QLatin1String("1"));
            }
            store->context()->save();
        });
        ++saved;
    }
    void unknownObjectNamed(const QString& name, const QVariantMap&) override { unknown << name; }
    void deleteObjectWithUUID(const QString& uuid) override
    {
        store->context()->performAndWait([&] {
            if (platform::ManagedObject* note = find(uuid))
                note->setValue(QStringLiteral("archived"), true);
            store->context()->save();
        });
    }
    QVRApplicationState applicationState() override { return state; }
    void shouldPromptWithTitle(const QString& title, const QString& message, const QString&, const QString&,
                               std::function<void(bool)> handler) override
    {
        prompts << title + QLatin1Char('|') + message;
        handler(acceptPrompt);
    }

    QVRDataStore* store;
    int saved = 0;
    QVRApplicationState state = QVRApplicationState::Active;
    bool acceptPrompt = true;
    QStringList unknown;
    QStringList prompts;
};

class WebSync : public ::testing::Test
{
protected:
    const QString email = QStringLiteral("anna+notes@example.org");
    const QString password = QStringLiteral("p&ss %wörd+1");

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        storePath = dir.filePath(QStringLiteral("Notes.sqlite"));
        qputenv("QUILLARY_SERVICE_URL", fake.origin().toUtf8());
        platform::SecretBackend::setCurrentForTesting(&secrets);
        // The real time until a test sets one: the manager's delays run on real timers.
        clock.followSystemClock();
        platform::setLogSink([this](const QString& line) { logged << line; });
        QVRURLSession::setTimeoutCapForTesting(1500);
        // Every test starts from fresh settings.
        auto& defaults = QVRDataStore::sharedDefaults();
        for (const QString& key :
             {QVRDefaultsKeys::FirstRun.key, QVRDefaultsKeys::SyncEnabled.key, QVRDefaultsKeys::SyncEmail.key,
              QVRDefaultsKeys::SyncClient.key, QVRDefaultsKeys::SyncUpdated.key,
              QVRDefaultsKeys::SyncOffset.key, QVRDefaultsKeys::HistoryDays.key})
            defaults.remove(key);
        failures = platform::NotificationCenter::defaultCenter().addObserver(
            QVRSyncFailureNotification, nullptr, [this](const platform::Notification& n) {
                failureTexts << n.userInfo.value(QVRSyncStatusKey, QStringLiteral("-")).toString();
            });
        successes = platform::NotificationCenter::defaultCenter().addObserver(
            QVRSyncSuccessNotification, nullptr, [this](const platform::Notification&) { ++successCount; });
        settingsErrors = platform::NotificationCenter::defaultCenter().addObserver(
            QVRSyncSettingsErrorNotification, nullptr,
            [this](const platform::Notification&) { ++settingsErrorCount; });
        open();
    }

    void TearDown() override
    {
        close();
        // Nothing may reach the test keyring once it is gone.
        QVRPasswordManager::waitForPendingWork();
        failures = {};
        successes = {};
        settingsErrors = {};
        // No password or login code may ever reach the log.
        for (const QString& line : logged) {
            EXPECT_FALSE(line.contains(password)) << line.toStdString();
            EXPECT_FALSE(line.contains(QString::fromLatin1(QUrl::toPercentEncoding(password))))
                << line.toStdString();
            for (const auto& code : fake.codes)
                EXPECT_FALSE(line.contains(code.second)) << line.toStdString();
        }
        platform::setLogSink(nullptr);
        platform::SecretBackend::setCurrentForTesting(nullptr);
        QVRURLSession::setTimeoutCapForTesting(0);
    }

    void open()
    {
        store = QVRDataStore::makeRootStore(storePath);
        app = std::make_unique<TestApp>(store.get());
        manager = std::make_unique<QVRSyncManager>(store.get());
        manager->setDelegate(app.get());
        manager->setInterfaceDelegate(app.get());
    }

    void close()
    {
        if (manager && manager->started())
            waitForQuiet();
        manager.reset();
        QCoreApplication::processEvents();
        app.reset();
        if (store)
            store->saveData();
        store.reset();
    }

    // Until no request is under way and the steps have come to rest.
    bool waitForQuiet()
    {
        return waitFor([this] {
            return manager->step() == QVRSyncStep::Complete &&
                   (!manager->operationQueue() || manager->operationQueue()->operationCount() == 0);
        });
    }

    // A saved local note, handed to sync like the application's central save.
    void saveNote(const QString& uuid, const QString& text, double modified, bool archived = false,
                  bool sync = true)
    {
        QVRSyncObject* note = nullptr;
        store->context()->performAndWait([&] {
            platform::ManagedObject* object = app->find(uuid);
            if (!object) {
                object = store->context()->insert(QVRNoteEntityName);
                object->setValue(QStringLiteral("uuid"), uuid);
            }
            object->setValue(QStringLiteral("text"), text);
            object->setValue(QStringLiteral("date"), 1600000000.25);
            object->setValue(QStringLiteral("modified"), modified);
            object->setValue(QStringLiteral("archived"), archived);
            store->context()->save();
            note = static_cast<QVRSyncObject*>(object);
        });
        if (sync)
            manager->syncObject(note);
    }

    // A secret as the keyring holds it once every handed-over call has run.
    std::optional<QString> secret(const QString& account,
                                  const std::optional<QString>& missing = std::nullopt)
    {
        QVRPasswordManager::waitForPendingWork();
        return QVRPasswordManager::passwordForAccount(account, QVRSyncService::host(), missing, std::nullopt);
    }

    QVariantMap local(const QString& uuid)
    {
        QVariantMap values;
        store->context()->performAndWait([&] {
            if (platform::ManagedObject* note = app->find(uuid))
                values = note->values();
        });
        return values;
    }

    // An account already signed in on this computer, holding a login code.
    void signedIn()
    {
        fake.accounts[email] = {password, QString()};
        fake.codes[QStringLiteral("C9")] = QStringLiteral("K-signed-in");
        auto& defaults = QVRDataStore::sharedDefaults();
        defaults.set(QVRDefaultsKeys::FirstRun, false);
        defaults.set(QVRDefaultsKeys::SyncEnabled, true);
        defaults.set(QVRDefaultsKeys::SyncEmail, email);
        defaults.set(QVRDefaultsKeys::SyncClient, QStringLiteral("C9"));
        QVRPasswordManager::setPassword(password, email, QVRSyncService::host());
        QVRPasswordManager::setPassword(QStringLiteral("K-signed-in"), email + QStringLiteral(" [quillary]"),
                                        QVRSyncService::host(), true);
    }

    void startAndSettle()
    {
        manager->start();
        ASSERT_TRUE(waitForQuiet());
    }

    QTemporaryDir dir;
    QString storePath;
    WebSyncFakeService fake;
    WatchedSecrets secrets;
    testsupport::ManualClock clock;
    QStringList logged;
    QStringList failureTexts;
    int successCount = 0;
    int settingsErrorCount = 0;
    platform::ObserverToken failures, successes, settingsErrors;
    std::unique_ptr<QVRDataStore> store;
    std::unique_ptr<TestApp> app;
    std::unique_ptr<QVRSyncManager> manager;
};
