#include "WebSyncFakeService.h"
#include "bench/support/BenchProfile.h"

#include "platform/core/Log.h"
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

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <ctime>

namespace {

double cpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

const QString Email = QStringLiteral("bench@example.org");

// QUILLARY_UPLOAD_COUNT shortens the upload run (for profiling under strace).
int uploadCount()
{
    bool ok = false;
    const int count = qEnvironmentVariableIntValue("QUILLARY_UPLOAD_COUNT", &ok);
    return ok && count > 0 ? count : 10000;
}

// The application's side, kept lean: one insert or update per note, saved
// with the store when the cycle ends.
class BenchApp : public QVRSyncManagerDelegate
{
public:
    explicit BenchApp(QVRDataStore* s) : store(s) {}
    void saveObjectWithAttributes(const QVRNoteAttributes& attributes, bool) override
    {
        auto* context = store->context();
        context->performAndWait([&] {
            platform::ManagedObject* note =
                QVRDataStore::noteWithUUID(context, attributes.value(QStringLiteral("uuid")).toString());
            if (!note)
                note = context->insert(QVRNoteEntityName);
            note->setValue(QStringLiteral("uuid"), attributes.value(QStringLiteral("uuid")));
            note->setValue(QStringLiteral("text"), attributes.value(QStringLiteral("text")));
            note->setValue(QStringLiteral("modified"),
                           attributes.value(QStringLiteral("modified")).toDouble());
            note->setValue(QStringLiteral("date"), attributes.value(QStringLiteral("date")).toDouble());
        });
        ++saved;
    }
    void unknownObjectNamed(const QString&, const QVariantMap&) override {}
    void deleteObjectWithUUID(const QString&) override {}
    QVRDataStore* store;
    int saved = 0;
};

struct Setup
{
    QTemporaryDir dir;
    WebSyncFakeService fake;
    platform::MemorySecretBackend secrets;
    std::unique_ptr<QVRDataStore> store;
    std::unique_ptr<BenchApp> app;
    std::unique_ptr<QVRSyncManager> manager;

    Setup()
    {
        qputenv("QUILLARY_SERVICE_URL", fake.origin().toUtf8());
        platform::SecretBackend::setCurrentForTesting(&secrets);
        platform::setLogSink([](const QString&) {});
        auto& defaults = QVRDataStore::sharedDefaults();
        defaults.set(QVRDefaultsKeys::FirstRun, false);
        defaults.set(QVRDefaultsKeys::SyncEnabled, true);
        defaults.set(QVRDefaultsKeys::SyncEmail, Email);
        defaults.set(QVRDefaultsKeys::SyncClient, QStringLiteral("C1"));
        defaults.set(QVRDefaultsKeys::SyncUpdated, 0.0);
        defaults.set(QVRDefaultsKeys::SyncOffset, 0.0);
        fake.accounts[Email] = {QStringLiteral("pw"), QString()};
        fake.codes[QStringLiteral("C1")] = QStringLiteral("K1");
        QVRPasswordManager::setPassword(QStringLiteral("K1"), Email + QStringLiteral(" [quillary]"),
                                        QVRSyncService::host(), true);
        store = QVRDataStore::makeRootStore(dir.filePath(QStringLiteral("Notes.sqlite")));
        app = std::make_unique<BenchApp>(store.get());
        manager = std::make_unique<QVRSyncManager>(store.get());
        manager->setDelegate(app.get());
    }
    ~Setup()
    {
        manager.reset();
        app.reset();
        store.reset();
        // Nothing may reach this keyring once it is gone.
        QVRPasswordManager::waitForPendingWork();
        platform::setLogSink(nullptr);
        platform::SecretBackend::setCurrentForTesting(nullptr);
    }

    // Runs the event loop, as the application does, until the cycle is over:
    // the main thread sleeps in the loop and wakes only for the events of the
    // sync itself. A cycle ends with the complete notice; a long timer only
    // bounds a cycle that never ends.
    void waitForQuiet()
    {
        QEventLoop loop;
        const auto quiet = [&] {
            return manager->step() == QVRSyncStep::Complete &&
                   manager->operationQueue()->operationCount() == 0;
        };
        if (quiet())
            return;
        platform::ObserverToken complete = platform::NotificationCenter::defaultCenter().addObserver(
            QVRSyncCompleteNotification, manager.get(), [&](const platform::Notification&) {
                if (quiet())
                    loop.quit();
            });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        loop.exec();
    }

    QVRSyncObject* localNote(int i, double modified)
    {
        QVRSyncObject* note = nullptr;
        store->context()->performAndWait([&] {
            auto* object = store->context()->insert(QVRNoteEntityName);
            object->setValue(QStringLiteral("uuid"), QStringLiteral("LOCAL-%1").arg(i));
            object->setValue(QStringLiteral("text"),
                             QStringLiteral("Local note %1 with a line of text.").arg(i));
            object->setValue(QStringLiteral("modified"), modified);
            object->setValue(QStringLiteral("archived"), false);
            note = static_cast<QVRSyncObject*>(object);
        });
        return note;
    }
};

void serviceNotes(WebSyncFakeService& fake, int count)
{
    for (int i = 0; i < count; ++i) {
        fake.notes[QStringLiteral("REMOTE-%1").arg(i, 5, 10, QLatin1Char('0'))] = {
            QStringLiteral(
                "Note %1 from the service, about two hundred characters of text so that the reply has a "
                "realistic size: shopping lists, meeting notes, a recipe or two, and ideas.")
                .arg(i),
            1600000000.0 + i,
            1700000000.0 + i,
            1700000000.0 + i,
            false,
            false};
    }
}

// Sign-in on a new computer: every note of the account comes down in one reply.
void BM_FirstSyncDownload10000(benchmark::State& state)
{
    for (auto _ : state) {
        Setup setup;
        serviceNotes(setup.fake, 10000);
        setup.manager->start();
        setup.waitForQuiet();
        QElapsedTimer timer;
        timer.start();
        setup.manager->setForceUpdate(true);
        setup.manager->sync();
        setup.waitForQuiet();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        if (setup.app->saved != 10000)
            state.SkipWithError("not every note arrived");
    }
}
BENCHMARK(BM_FirstSyncDownload10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseManualTime();

// The first sync of a computer holding 10,000 notes: one request per note.
void BM_FirstSyncUpload10000(benchmark::State& state)
{
    for (auto _ : state) {
        const int notes = uploadCount();
        Setup setup;
        for (int i = 0; i < notes; ++i)
            setup.localNote(i, 1700000000.0 + i);
        setup.store->context()->performAndWait([&] { setup.store->context()->save(); });
        setup.manager->start();
        setup.waitForQuiet();
        setup.manager->saveAllObjectsToQuorvane();
        const size_t requestsBefore = setup.fake.requests.size();
        const auto busyBefore = setup.fake.busy;
        const double mainCpuBefore = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const double processCpuBefore = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        QElapsedTimer timer;
        timer.start();
        setup.manager->syncWithQuorvane();
        setup.waitForQuiet();
        const double seconds = timer.nsecsElapsed() / 1e9;
        const double mainCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - mainCpuBefore;
        const double processCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processCpuBefore;
        state.SetIterationTime(seconds);
        // Per request: the whole round trip, and the fake service's share.
        const double requests = double(setup.fake.requests.size() - requestsBefore);
        const double service = std::chrono::duration<double>(setup.fake.busy - busyBefore).count();
        state.counters["requests"] = requests;
        state.counters["ms_per_request"] = requests > 0 ? seconds * 1e3 / requests : 0;
        state.counters["service_ms_per_request"] = requests > 0 ? service * 1e3 / requests : 0;
        state.counters["client_ms_per_request"] = requests > 0 ? (seconds - service) * 1e3 / requests : 0;
        // CPU time, to tell computing from waiting: the main thread (the
        // client's and the fake service's event loop) and all threads.
        state.counters["main_cpu_ms_per_request"] = requests > 0 ? mainCpu * 1e3 / requests : 0;
        state.counters["process_cpu_ms_per_request"] = requests > 0 ? processCpu * 1e3 / requests : 0;
        if (setup.fake.notes.size() != size_t(notes))
            state.SkipWithError(("not every note was sent: " + std::to_string(setup.fake.notes.size()) +
                                 " in " + std::to_string(timer.elapsed()) + " ms, " +
                                 std::to_string(setup.fake.requests.size()) + " requests")
                                    .c_str());
    }
}
BENCHMARK(BM_FirstSyncUpload10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseManualTime();

// The floor under the upload: the same number of add requests, one at a
// time, sent by the sync's HTTP client straight from each completion, with
// no queue, store or reply handling around them.
void BM_BareRequests10000(benchmark::State& state)
{
    for (auto _ : state) {
        const int count = uploadCount();
        Setup setup;
        const QUrl url = QVRSyncService::syncURL();
        QVRURLSession session;
        int sent = 0;
        int answered = 0;
        QEventLoop loop;
        std::function<void()> next = [&] {
            if (sent == count) {
                loop.quit();
                return;
            }
            QVRURLRequest request;
            request.url = url;
            request.body =
                QStringLiteral("cmd=add&modified=%1.000000&uuid=LOCAL-%2&text=Local%20note%20%2%20"
                               "with%20a%20line%20of%20text.&date=0.000000&email=bench%40example.org"
                               "&client=C1&code=K1&updated=1700000000.000000&type=mac&version=6.2"
                               "&osversion=12.0.0&now=1700000000.000000")
                    .arg(1700000000 + sent)
                    .arg(sent)
                    .toUtf8();
            ++sent;
            session.dataTask(request, [&](const QVRURLResponse& response) {
                answered += response.error == QNetworkReply::NoError && !response.data.isEmpty();
                QMetaObject::invokeMethod(&loop, next, Qt::QueuedConnection);
            });
        };
        const auto busyBefore = setup.fake.busy;
        QElapsedTimer timer;
        timer.start();
        next();
        loop.exec();
        const double seconds = timer.nsecsElapsed() / 1e9;
        state.SetIterationTime(seconds);
        const double service = std::chrono::duration<double>(setup.fake.busy - busyBefore).count();
        state.counters["requests"] = count;
        state.counters["ms_per_request"] = seconds * 1e3 / count;
        state.counters["service_ms_per_request"] = service * 1e3 / count;
        state.counters["client_ms_per_request"] = (seconds - service) * 1e3 / count;
        if (answered != count)
            state.SkipWithError("not every request was answered");
    }
}
BENCHMARK(BM_BareRequests10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseManualTime();

// 100 notes changed here since the last sync, in a store of 10,000.
void BM_IncrementalSync100(benchmark::State& state)
{
    for (auto _ : state) {
        Setup setup;
        serviceNotes(setup.fake, 10000);
        setup.manager->start();
        setup.waitForQuiet();
        setup.manager->setForceUpdate(true);
        setup.manager->sync();
        setup.waitForQuiet();
        std::vector<QVRSyncObject*> changed;
        for (int i = 0; i < 100; ++i)
            changed.push_back(setup.localNote(i, 1800000000.0 + i));
        setup.store->context()->performAndWait([&] { setup.store->context()->save(); });
        for (QVRSyncObject* note : changed)
            setup.manager->queueObject(note, QStringLiteral("add"));
        const size_t before = setup.fake.notes.size();
        QElapsedTimer timer;
        timer.start();
        setup.manager->syncWithQuorvane();
        setup.waitForQuiet();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        if (setup.fake.notes.size() != before + 100)
            state.SkipWithError("not every change was sent");
    }
}
BENCHMARK(BM_IncrementalSync100)->Iterations(1)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace

int main(int argc, char** argv)
{
    // The settings these runs write go to a scratch profile, never the user's.
    bench::ScratchProfile profile;
    QCoreApplication app(argc, argv);
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    return 0;
}
