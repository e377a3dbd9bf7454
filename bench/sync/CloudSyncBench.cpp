// Importing a folder of 10,000 note files into an empty store, and exporting
// 10,000 notes into an empty folder, through the cloud half of the sync
// manager with its 30-wide queue. Goal: under 5 s each.

#include "CloudFakeManager.h"
#include "bench/support/BenchProfile.h"

#include "store/QVRDefaultsKeys.h"
#include "sync/QVRSyncOutOperation.h"

#include "platform/plist/PropertyList.h"

#include <QDir>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

// QUILLARY_BENCH_NOTES overrides the count for a quick look.
const int kNotes = qEnvironmentVariableIsSet("QUILLARY_BENCH_NOTES")
                       ? qEnvironmentVariableIntValue("QUILLARY_BENCH_NOTES")
                       : 10000;
constexpr double T = 1700000000.0;

QString uuidFor(int i)
{
    return QStringLiteral("%1-0000-4000-8000-000000000000").arg(i, 8, 16, QLatin1Char('0')).toUpper();
}

QString textFor(int i)
{
    return QStringLiteral(
               "Note %1\nSome text of an ordinary length, about a paragraph, so that the files are "
               "of the size notes usually have. ")
        .arg(i)
        .repeated(3);
}

// A folder of note files as another machine left it.
void writeFolder(const QString& notes)
{
    QDir().mkpath(notes);
    for (int i = 0; i < kNotes; ++i) {
        const QVariantMap note{
            {"uuid", uuidFor(i)}, {"archived", false}, {"date", T + i}, {"text", textFor(i)}};
        QSaveFile file(notes + "/" + uuidFor(i) + ".quillary");
        file.open(QIODevice::WriteOnly);
        file.write(platform::writePropertyList(note));
        file.commit();
    }
}

struct Rig
{
    explicit Rig(const QString& base)
    {
        root = base + "/Cloud";
        QDir().mkpath(root);
        setenv("QUILLARY_CLOUD_DIR", QFile::encodeName(root).constData(), 1);
        notes = root + "/XW9K2ZQ7TM.com.quorvane.Quillary/Notes";
        manager = std::make_unique<FakeManager>(base + "/Quillary.sqlite");
        keyValues = std::make_unique<platform::UbiquitousKeyValueStore>(base + "/kv.plist", false);
        cloud = std::make_unique<QVRiCloudSync>(manager.get());
        cloud->setKeyValueStore(keyValues.get());
        manager->cloud = cloud.get();
    }
    ~Rig()
    {
        cloud.reset();
        manager.reset();
        unsetenv("QUILLARY_CLOUD_DIR");
    }
    QString root, notes;
    std::unique_ptr<FakeManager> manager;
    std::unique_ptr<platform::UbiquitousKeyValueStore> keyValues;
    std::unique_ptr<QVRiCloudSync> cloud;
};

// range(0): 1 saves every imported note in the store (the whole import), 0
// only hands the notes over (the cloud half's own share of the time).
void BM_ImportTenThousandNoteFiles(benchmark::State& state)
{
    const bool storeImports = state.range(0) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir temp;
        Rig rig(temp.path());
        rig.manager->storeImports = storeImports;
        writeFolder(rig.notes);
        // An earlier token keeps the enabling pass from exporting anything.
        QVRDefaultsKeys::set(QVRDataStore::sharedDefaults(), QVRDefaultsKeys::CloudToken,
                             platform::ubiquityIdentityToken());
        state.ResumeTiming();
        rig.cloud->enableiCloud();
        const bool ended = cycleEnds(*rig.manager, 120000);
        state.PauseTiming();
        const qint64 arrived = storeImports ? rig.manager->noteCount() : rig.manager->imports;
        if (!ended || arrived != kNotes) {
            std::fprintf(stderr, "ended %d, %lld notes\n", int(ended), static_cast<long long>(arrived));
            state.SkipWithError("import did not complete");
        }
        QVRDataStore::sharedDefaults().remove(QVRDefaultsKeys::CloudToken);
        rig.cloud.reset();
        rig.manager.reset();
        if (ended)
            state.ResumeTiming();
    }
    state.counters["notes"] = kNotes;
}
BENCHMARK(BM_ImportTenThousandNoteFiles)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

void BM_ExportTenThousandNotes(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir temp;
        Rig rig(temp.path());
        for (int i = 0; i < kNotes; ++i)
            rig.manager->store->context()->performAndWait([&] {
                platform::ManagedObject* note = rig.manager->store->context()->insert(QVRNoteEntityName);
                note->setValue("uuid", uuidFor(i));
                note->setValue("text", textFor(i));
                note->setValue("date", T + i);
                note->setValue("modified", T + i);
                note->setValue("archived", false);
            });
        rig.manager->store->context()->performAndWait([&] { rig.manager->store->context()->save(); });
        QDir().mkpath(rig.notes);
        state.ResumeTiming();
        rig.cloud->saveAllObjectsToiCloud();
        rig.manager->queue.waitUntilAllOperationsAreFinished();
        state.PauseTiming();
        if (QDir(rig.notes).entryList(QDir::Files).size() != kNotes)
            state.SkipWithError("export did not complete");
        else
            state.ResumeTiming();
    }
    state.counters["notes"] = kNotes;
}
BENCHMARK(BM_ExportTenThousandNotes)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    // The settings these runs write go to a scratch profile, never the user's.
    bench::ScratchProfile profile;
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
