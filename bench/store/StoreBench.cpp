#include "bench/support/BenchProfile.h"
#include "platform/core/UserDefaults.h"
#include "platform/data/ArrayController.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/predicate/Predicate.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "store/QVRObjectController.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

namespace {

const QStringList Words{QStringLiteral("apple"),  QStringLiteral("Bäcker"), QStringLiteral("crème"),
                        QStringLiteral("delta"),  QStringLiteral("Echo"),   QStringLiteral("fjord"),
                        QStringLiteral("garçon"), QStringLiteral("harbour")};

// About 2 KB of words; each note differs so filters match a part of them.
QString makeNoteText(int i)
{
    QString text;
    text.reserve(2100);
    quint32 k = quint32(i);
    while (text.size() < 2000) {
        text += Words[qsizetype(k % quint32(Words.size()))] + QLatin1Char(' ');
        k = k * 7 + 3;
    }
    return text;
}

// Made once, so that the timings hold the store's work and not the texts'.
const QString& noteText(int i)
{
    static const std::vector<QString> texts = [] {
        std::vector<QString> made;
        for (int k = 0; k < 1000; ++k)
            made.push_back(makeNoteText(k));
        return made;
    }();
    return texts[size_t(i) % texts.size()];
}

void fillStore(QVRDataStore* root, int count)
{
    auto* context = root->context();
    context->performAndWait([&] {
        for (int i = 0; i < count; ++i) {
            auto* note = static_cast<Note*>(context->insert(QVRNoteEntityName));
            note->setUuid(QStringLiteral("UUID-%1").arg(i));
            note->setText(noteText(i));
            note->setDate(1700000000.0 + i);
            note->setModified(1700000000.0 + i);
            note->setArchived(false);
        }
    });
    root->saveData();
}

void BM_InsertNotesOneSave(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        auto root = QVRDataStore::makeRootStore(dir.filePath(QStringLiteral("Quillary.sqlite")));
        state.ResumeTiming();
        fillStore(root.get(), 10000);
        state.PauseTiming();
        root.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_InsertNotesOneSave)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RawSqliteInsertSameRows(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        sqlite3* db = nullptr;
        sqlite3_open(dir.filePath(QStringLiteral("raw.sqlite")).toUtf8().constData(), &db);
        sqlite3_exec(
            db,
            "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
            "CREATE TABLE Note (pk INTEGER PRIMARY KEY, version INTEGER, uuid TEXT, text TEXT, date REAL,"
            " modified REAL, archived INTEGER, removed INTEGER); CREATE INDEX Note_uuid ON Note (uuid);",
            nullptr, nullptr, nullptr);
        state.ResumeTiming();
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO Note VALUES (?, 1, ?, ?, ?, ?, 0, 0)", -1, &statement, nullptr);
        for (int i = 0; i < 10000; ++i) {
            const QByteArray uuid = QStringLiteral("UUID-%1").arg(i).toUtf8();
            const QByteArray text = noteText(i).toUtf8();
            sqlite3_reset(statement);
            sqlite3_bind_int64(statement, 1, i + 1);
            sqlite3_bind_text(statement, 2, uuid.constData(), int(uuid.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(statement, 3, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            sqlite3_bind_double(statement, 4, 1700000000.0 + i);
            sqlite3_bind_double(statement, 5, 1700000000.0 + i);
            sqlite3_step(statement);
        }
        sqlite3_finalize(statement);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        state.PauseTiming();
        sqlite3_close(db);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RawSqliteInsertSameRows)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SaveOneEditedNoteChildToFile(benchmark::State& state)
{
    QTemporaryDir dir;
    auto root = QVRDataStore::makeRootStore(dir.filePath(QStringLiteral("Quillary.sqlite")));
    fillStore(root.get(), 10000);
    auto child = QVRDataStore::storeWithParent(root.get(), platform::ConcurrencyType::MainQueue);
    QVRObjectController list(child->context(), QVRNoteEntityName, {{QStringLiteral("date"), false}});
    list.rearrangeObjects();
    auto* note = static_cast<Note*>(list.objectAtIndex(0, false));
    int edit = 0;
    for (auto _ : state) {
        note->setText(noteText(++edit));
        note->setModified(1800000000.0 + edit);
        if (!child->saveData())
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_SaveOneEditedNoteChildToFile)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_OpenStoreAndArrangeList(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quillary.sqlite"));
    fillStore(QVRDataStore::makeRootStore(path).get(), 10000);
    for (auto _ : state) {
        auto root = QVRDataStore::makeRootStore(path);
        auto child = QVRDataStore::storeWithParent(root.get(), platform::ConcurrencyType::MainQueue);
        QVRObjectController list(child->context(), QVRNoteEntityName, {{QStringLiteral("date"), false}});
        benchmark::DoNotOptimize(list.countFiltered(false)); // arranged when made
        state.PauseTiming();
        child.reset();
        root.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenStoreAndArrangeList)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RefilterInMemory(benchmark::State& state)
{
    const int count = int(state.range(0));
    QTemporaryDir dir;
    auto root = QVRDataStore::makeRootStore(dir.filePath(QStringLiteral("Quillary.sqlite")));
    fillStore(root.get(), count);
    auto child = QVRDataStore::storeWithParent(root.get(), platform::ConcurrencyType::MainQueue);
    QVRObjectController list(child->context(), QVRNoteEntityName, {{QStringLiteral("date"), false}});
    list.rearrangeObjects();
    list.setFilterPredicate(platform::Predicate::parse(
        QStringLiteral("removed == NO AND ((text contains[cd] %@) AND (text contains[cd] %@))"),
        {QStringLiteral("BACKER"), QStringLiteral("creme")}));
    for (auto _ : state) {
        list.searchController()->rearrangeObjects();
        benchmark::DoNotOptimize(list.countFiltered(true));
    }
}
BENCHMARK(BM_RefilterInMemory)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    // Stamps and caches go to a scratch profile, never the user's.
    bench::ScratchProfile profile;
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
