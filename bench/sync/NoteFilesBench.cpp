#include "sync/QVRNoteDocument.h"

#include "platform/core/Log.h"

#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <functional>
#include <future>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFiles = 10000;
const QString kText =
    QStringLiteral("A note of moderate length, with a second line.\nAnd some more text ").repeated(4);

QString fileName(const QString& folder, int i)
{
    return folder + QStringLiteral("/%1.quillary").arg(i, 8, 10, QLatin1Char('0'));
}

// Every written folder stays until the program ends. Removing 10,000 files
// makes the filesystem's next 10,000 creations slower for minutes (it steps
// around inodes freed a moment ago), so removing them between runs would
// charge each run for the one before it.
std::unique_ptr<QTemporaryDir>& newFolder()
{
    // QUILLARY_NOTEFILES_DIR puts the folders elsewhere, e.g. on a tmpfs to
    // take the disk out of the comparison.
    static const QString base = qEnvironmentVariable("QUILLARY_NOTEFILES_DIR");
    static std::vector<std::unique_ptr<QTemporaryDir>> kept;
    kept.push_back(base.isEmpty()
                       ? std::make_unique<QTemporaryDir>()
                       : std::make_unique<QTemporaryDir>(base + QStringLiteral("/notefiles-XXXXXX")));
    return kept.back();
}

void writeAll(const QString& folder)
{
    for (int i = 0; i < kFiles; ++i) {
        const QVRNoteAttributes note{
            {"uuid", QStringLiteral("%1-0000-0000-0000-000000000000").arg(i, 8, 10, QLatin1Char('0'))},
            {"archived", false},
            {"date", 1700000000.5 + i},
            {"text", kText},
            {"modified", 1700000000.0 + i * 1e-9}};
        if (!QVRNoteDocument::saveObject(note, fileName(folder, i)))
            std::abort();
    }
}

void BM_WriteNoteFiles(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        const QString folder = newFolder()->path();
        state.ResumeTiming();
        writeAll(folder);
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

// Writes the files once, then times reading all of them with `readOne`,
// which gives the size of what it read.
void readEach(benchmark::State& state, const std::function<qsizetype(const QString& path)>& readOne)
{
    const QString folder = newFolder()->path();
    writeAll(folder);
    for (auto _ : state) {
        qsizetype total = 0;
        for (int i = 0; i < kFiles; ++i)
            total += readOne(fileName(folder, i));
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

// Reads every file the way a sync pass does: on the thread that wants it.
void BM_ReadNoteFiles(benchmark::State& state)
{
    readEach(state, [](const QString& path) {
        auto document = std::make_shared<QVRNoteDocument>(path);
        if (!document->openSynchronously())
            std::abort();
        return document->text().value_or(QString()).size();
    });
}

// The same through the asynchronous open, one file at a time: each file
// crosses to the document's queue and back.
void BM_ReadNoteFilesWithHandler(benchmark::State& state)
{
    readEach(state, [](const QString& path) {
        auto document = std::make_shared<QVRNoteDocument>(path);
        std::promise<bool> done;
        document->openWithCompletionHandler([&done](bool ok) { done.set_value(ok); });
        if (!done.get_future().get())
            std::abort();
        return document->text().value_or(QString()).size();
    });
}

// What the filesystem alone costs for the same files: the system calls a
// save and an open make, with bytes made once and no document, property list
// or coordination. Our times above can come no lower than these.
void BM_WriteFloor(benchmark::State& state)
{
    const QByteArray bytes(384, 'x');
    for (auto _ : state) {
        state.PauseTiming();
        const QString folder = newFolder()->path();
        state.ResumeTiming();
        for (int i = 0; i < kFiles; ++i) {
            const QByteArray path = fileName(folder, i).toLocal8Bit();
            QByteArray temporary = path + ".XXXXXX";
            const int fd = mkostemp(temporary.data(), O_CLOEXEC);
            const struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000 + i, 0}};
            if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() ||
                ::fchmod(fd, 0644) != 0 || ::futimens(fd, times) != 0 || ::close(fd) != 0 ||
                ::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, path.constData(), RENAME_NOREPLACE) !=
                    0)
                std::abort();
        }
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_ReadFloor(benchmark::State& state)
{
    readEach(state, [](const QString& path) {
        const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        struct stat st
        {
        };
        if (fd < 0 || ::fstat(fd, &st) != 0)
            std::abort();
        char buffer[4096];
        qsizetype size = 0;
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            size += n;
        ::close(fd);
        return size;
    });
}

// Python's plistlib doing the same work in one run, timed by itself.
void BM_PlistlibPeer(benchmark::State& state)
{
    double written = 0, read = 0;
    for (auto _ : state) {
        QProcess python;
        python.start(QStringLiteral("python3"),
                     {QStringLiteral(QUILLARY_NOTEFILES_PEER), newFolder()->path(), QString::number(kFiles)});
        if (!python.waitForFinished(600000) || python.exitCode() != 0) {
            state.SkipWithError("python3 with plistlib did not run");
            return;
        }
        const QList<QByteArray> times = python.readAllStandardOutput().trimmed().split(' ');
        written = times.value(0).toDouble();
        read = times.value(1).toDouble();
        state.SetIterationTime(written + read);
    }
    state.counters["write_s"] = written;
    state.counters["read_s"] = read;
}

} // namespace

BENCHMARK(BM_WriteNoteFiles)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReadNoteFiles)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReadNoteFilesWithHandler)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_WriteFloor)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReadFloor)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_PlistlibPeer)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

// The first 10,000 creations after many removals (such as the last run's
// clean-up) are slower; an untimed write takes that before any timed one.
int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    writeAll(newFolder()->path());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
