// The application's figures, each beside its floor or its goal, as minimum
// and median over several runs, each run a process of its own so that its
// resident memory is its own:
//   bench_app                      every size (10,000 and 100,000 live notes)
//   bench_app 10000 [--runs 5]     one size
// Per size: exec to the painted list beside a bare Qt list reading the same
// titles from SQLite, resident at paint and 2 s later, search per key (typed
// at once after the bar opens) and resident after typing against before, the
// central save of an edited note; once: insert 10,000 through the store
// beside raw SQLite (bench_store's own pair).
// Internally: --fill DIR N, --search DIR N PAUSE_MS [COMPARE] (DIR is the
// profile, a relative one taken from the current folder). A child reports
// its figures in lines "figure NAME VALUE".
// Each profile holds N live notes of about 2 KB and N archived ones, written
// once through the store library and put back before every run (the history
// pruning after start deletes a part of the archived ones).
#include "app/QuillaryAppDelegate.h"
#include "app/list/NoteListModel.h"
#include "app/search/QVRSearchField.h"
#include "app/window/FirstPaintReport.h"
#include "bench/support/BenchProfile.h"
#include "platform/core/Memory.h"
#include "platform/core/UserDefaults.h"
#include "platform/data/PersistentStoreCoordinator.h"
#include "platform/predicate/Predicate.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRObjectController.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListView>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

const QString kTyped = QStringLiteral("meeting agenda");

struct Timings
{
    std::vector<double> ms;
    double median() const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty() ? 0 : sorted[sorted.size() / 2];
    }
    double worst() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
    double least() const { return ms.empty() ? 0 : *std::min_element(ms.begin(), ms.end()); }
};

// How long after the search bar opened the paused run starts typing.
constexpr int PausedFirstKeyMs = 250;

// A figure of one run, for the parent to gather.
void report(const char* name, double value)
{
    std::printf("figure %s %.3f\n", name, value);
}

void printTimings(const char* what, const Timings& t, qsizetype rows)
{
    QStringList each;
    for (double v : t.ms)
        each << QString::number(v, 'f', 1);
    std::printf("  %-34s median %7.2f ms  worst %7.2f ms  first %7.2f ms  (last rows %lld)\n    [%s]\n", what,
                t.median(), t.worst(), t.ms.empty() ? 0.0 : t.ms.front(), qlonglong(rows),
                qPrintable(each.join(QLatin1Char(' '))));
}

// Makes `dir` the profile of this process and checks that the store lies
// inside it; false (with the reason printed) otherwise.
bool useProfile(const QString& dir)
{
    const QString root = bench::useProfile(dir);
    if (root.isEmpty()) {
        std::printf("no profile folder to work in: \"%s\"\n", qPrintable(dir));
        return false;
    }
    if (!QVRDataStore::storeURL().startsWith(root + QLatin1Char('/'))) {
        std::printf("refusing to run: the store %s is outside the profile %s\n",
                    qPrintable(QVRDataStore::storeURL()), qPrintable(root));
        return false;
    }
    return true;
}

// About 2,000 characters of words, some accented or capitalised; "meeting"
// and "agenda" appear in a part of the notes only.
QString noteText(QRandomGenerator& rng)
{
    static const QStringList common{
        "the",    "plan",   "budget", "Café",  "résumé", "notes",  "call",    "Straße",   "naïve",
        "review", "draft",  "school", "école", "garçon", "Team",   "project", "deadline", "Monday",
        "lunch",  "coffee", "façade", "über",  "piñata", "report", "ideas",   "list",     "shop",
        "travel", "Zürich", "and",    "with",  "for",    "client", "invoice", "numbers",  "meet"};
    QString text;
    text.reserve(2100);
    const bool meeting = rng.bounded(4) == 0;
    const bool agenda = rng.bounded(3) == 0;
    while (text.size() < 2000) {
        const quint32 pick = rng.bounded(1000);
        if (meeting && pick < 8)
            text += QStringLiteral("Meeting");
        else if (agenda && pick < 16)
            text += QStringLiteral("agénda");
        else
            text += common[qsizetype(rng.bounded(common.size()))];
        text += rng.bounded(12) == 0 ? QLatin1Char('\n') : QLatin1Char(' ');
    }
    return text;
}

int fill(const QString& dir, int count)
{
    if (!useProfile(dir))
        return 2;
    auto root = QVRDataStore::makeRootStore(QVRDataStore::storeURL());
    if (!root || !root->context())
        return 1;
    QRandomGenerator rng(42);
    const double now = double(QDateTime::currentSecsSinceEpoch());
    bool saved = true;
    auto* context = root->context();
    for (int batch = 0; batch < 2 * count && saved; batch += 5000) {
        context->performAndWait([&] {
            for (int i = batch; i < std::min(batch + 5000, 2 * count); ++i) {
                const bool archived = i >= count;
                // Live notes changed over the last weeks; deleted ones over
                // the last year, so the history cut-off keeps a part of them.
                const double when =
                    archived ? now - double(rng.bounded(365 * 86400)) : now - double(i) * 60.0 - 3600.0;
                auto* note = static_cast<Note*>(context->insert(QVRNoteEntityName));
                note->setUuid(QStringLiteral("BENCH-%1").arg(i, 8, 10, QLatin1Char('0')));
                note->setText(noteText(rng));
                note->setDate(when);
                note->setModified(when);
                note->setArchived(archived);
                note->setRemoved(false);
            }
            saved = context->save();
            for (platform::ManagedObject* object : context->registeredObjects())
                context->refresh(object);
        });
    }
    // Saves this large leave most notes to the search index's background
    // build; a store filled by use has them all indexed.
    QElapsedTimer indexing;
    indexing.start();
    if (saved && !context->persistentStoreCoordinator()->waitForSearchIndex(30 * 60 * 1000))
        std::printf("  !! the search index was not complete\n");
    std::printf("  search index completed %.1f s after the last save\n", double(indexing.elapsed()) / 1000);
    return saved ? 0 : 1;
}

// SQLite's own LIKE over the same rows: folds ASCII case only, keeps diacritics.
Timings sqliteLike(const QString& path, double cutoff, qsizetype* rows)
{
    Timings timings;
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    for (qsizetype n = 1; n <= kTyped.size(); ++n) {
        QElapsedTimer timer;
        timer.start();
        const QStringList words = kTyped.left(n).trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QString sql =
            QStringLiteral("SELECT pk FROM Note WHERE removed = 0 AND (archived = 0 OR modified > ?)");
        for (qsizetype i = 0; i < words.size(); ++i)
            sql += QStringLiteral(" AND text LIKE ? ESCAPE '\\'");
        sql += QStringLiteral(" ORDER BY date DESC");
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr);
        sqlite3_bind_double(statement, 1, cutoff);
        for (qsizetype i = 0; i < words.size(); ++i) {
            QString word = words[i];
            word.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
                .replace(QLatin1Char('%'), QLatin1String("\\%"))
                .replace(QLatin1Char('_'), QLatin1String("\\_"));
            const QByteArray pattern = ("%" + word + "%").toUtf8();
            sqlite3_bind_text(statement, int(i) + 2, pattern.constData(), int(pattern.size()),
                              SQLITE_TRANSIENT);
        }
        std::vector<qint64> found;
        while (sqlite3_step(statement) == SQLITE_ROW)
            found.push_back(sqlite3_column_int64(statement, 0));
        sqlite3_finalize(statement);
        timings.ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        *rows = qsizetype(found.size());
    }
    sqlite3_close(db);
    return timings;
}

// Types the query one character at a time: filter, list and paint per key.
Timings typeQuery(QuillaryAppDelegate* app)
{
    Timings timings;
    for (qsizetype n = 1; n <= kTyped.size(); ++n) {
        QElapsedTimer timer;
        timer.start();
        app->searchField()->setText(kTyped.left(n));
        app->updateSearch();
        app->window()->repaint();
        QApplication::processEvents();
        timings.ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return timings;
}

// The same query typed again, through the predicate layer and through
// SQLite's LIKE: what the search is measured against.
void compareSearch(QuillaryAppDelegate* app)
{
    // Typing it again: every text is read already.
    app->searchField()->setText(QString());
    app->updateSearch();
    const Timings again = typeQuery(app);
    printTimings("search, typed a second time", again, app->listModel()->rowCount());
    // The predicate layer's in-memory filter over the same objects, as a list
    // controller of its own arranges it (no view).
    const double cutoff = double(QDateTime::currentSecsSinceEpoch()) - 90 * 86400.0;
    {
        QVRObjectController controller(app->dataStore()->context(), QVRNoteEntityName,
                                       {{QStringLiteral("date"), false}});
        Timings predicate;
        for (qsizetype n = 1; n <= kTyped.size(); ++n) {
            QElapsedTimer timer;
            timer.start();
            const auto query = QuillaryAppDelegate::searchQuery(kTyped.left(n), 90, cutoff);
            controller.setFilterPredicate(platform::Predicate::parse(query.format, query.arguments));
            predicate.ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        printTimings("predicate layer filter (no view)", predicate,
                     qsizetype(controller.countFiltered(true)));
    }
    qsizetype likeRows = 0;
    const Timings like = sqliteLike(QVRDataStore::storeURL(), cutoff, &likeRows);
    printTimings("SQLite LIKE scan (no view)", like, likeRows);
}

int search(const QString& dir, int count, int pauseMs, bool compare)
{
    if (!useProfile(dir))
        return 2;
    int argc = 1;
    char name[] = "bench_app";
    char* argv[] = {name, nullptr};
    // As the program starts.
    platform::returnLargeBlocksWhenFreed();
    QApplication application(argc, argv);
    auto root = QVRDataStore::makeRootStore(QVRDataStore::storeURL());
    // Written as the program's own settings are: a burst of changes (the
    // selection following each key) held back to cost one write.
    platform::UserDefaults defaults(dir + QStringLiteral("/settings.plist"),
                                    platform::UserDefaults::StandardWriteDelay);
    QVRDefaultsKeys::set(defaults, QVRDefaultsKeys::HistoryDays, qint64(90));
    QuillaryAppDelegate::Environment environment;
    environment.rootStore = root.get();
    environment.defaults = &defaults;
    auto app = std::make_unique<QuillaryAppDelegate>(environment);
    app->window()->resize(1000, 700);
    app->applicationWillFinishLaunching();
    QApplication::processEvents();
    std::printf("%d live + %d archived notes\n", count, count);
    std::printf("  resident after opening the window:  %.1f MB\n", residentMB());

    // (a) Typing into the search field: filter, list reload, first-row
    // selection and the repaint that follows, per keystroke.
    // The bar opens; the search list is made a slice at a time while it
    // slides in, and a key typed before it is done finishes it.
    QElapsedTimer opening;
    opening.start();
    app->toggleSearch();
    QApplication::processEvents();
    const double openMs = double(opening.nsecsElapsed()) / 1e6;
    // The user's first key comes this long after the bar opened.
    QElapsedTimer pause;
    pause.start();
    while (pause.elapsed() < pauseMs)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    std::printf("  search bar opened in %.2f ms, first key %d ms later\n", openMs, pauseMs);
    report("search.openMs", openMs);
    // The rows are counted once the typing is done, not before it starts.
    const double before = residentMB();
    const Timings typed = typeQuery(app.get());
    const double after = residentMB();
    printTimings("search, per keystroke", typed, app->listModel()->rowCount());
    std::printf("  resident after typing:              %.1f MB\n", after);
    if (pauseMs > 0) {
        // A run that only measures keys typed after a pause.
        report("paused.firstMs", typed.ms.front());
        report("paused.slowestMs", typed.worst());
        report("paused.medianMs", typed.median());
        return 0;
    }
    report("search.firstMs", typed.ms.front());
    report("search.slowestMs", typed.worst());
    report("search.medianMs", typed.median());
    report("search.beforeMB", before);
    report("search.afterMB", after);
    report("search.residentRatio", after / before);
    // (b) The field emptied: the full list is back and painted.
    {
        QElapsedTimer timer;
        timer.start();
        app->searchField()->setText(QString());
        app->updateSearch();
        app->window()->repaint();
        QApplication::processEvents();
        report("search.clearMs", double(timer.nsecsElapsed()) / 1e6);
        std::printf("  search field emptied, list back:    %.2f ms\n", double(timer.nsecsElapsed()) / 1e6);
    }
    if (compare)
        compareSearch(app.get());

    // (c) One central save of an edited note: the row moves to the top.
    app->searchField()->setText(QString());
    app->updateSearch();
    QApplication::processEvents();
    Timings saves;
    for (int k = 0; k < 31; ++k) {
        Note* note = app->listModel()->noteAt(100 + k);
        QVariantMap item = note->attributes();
        item.insert(QStringLiteral("text"), note->text() + QStringLiteral(" edited"));
        item.remove(QStringLiteral("date"));
        item.remove(QStringLiteral("modified"));
        QElapsedTimer timer;
        timer.start();
        app->saveItem(item, true);
        saves.ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (app->listModel()->noteAt(0) != note)
            std::printf("  !! the saved note is not at the top\n");
    }
    printTimings("central save, row to the top", saves, app->listModel()->rowCount());
    report("save.medianMs", saves.median());
    std::fflush(stdout);
    return 0;
}

// --- The parent: runs, gathers and reports ----------------------------------

// Every run's value of each figure, by name.
using Figures = std::map<QString, Timings>;

constexpr int LaterMs = 2000;

// The store of a profile, where the application puts it, and the copy of it
// as it was written.
QString storeOf(const QString& profile)
{
    return profile + QStringLiteral("/.local/share/Quillary/Quillary.sqlite");
}

QString pristineOf(const QString& profile)
{
    return profile + QStringLiteral("/pristine.sqlite");
}

// Puts the store back as it was written (a run's pruning and saves undone).
bool restoreStore(const QString& profile)
{
    const QString store = storeOf(profile);
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(store + suffix);
    return QFile::copy(pristineOf(profile), store);
}

QProcessEnvironment profileEnvironment(const QString& profile)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [variable, folder] : bench::profileVariables(profile))
        environment.insert(QString::fromLatin1(variable), folder);
    // A lone instance: no session bus to forward to, no cloud folder.
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    environment.remove(QStringLiteral("QUILLARY_CLOUD_DIR"));
    return environment;
}

// The number after `label` in `out`, or -1.
double numberAfter(const QByteArray& out, const QByteArray& label)
{
    const int at = out.indexOf(label);
    return at < 0 ? -1 : out.mid(at + label.size()).split(' ').first().toDouble();
}

// One start of PROGRAM in the profile, timed by the parent from the start of
// the process to its first-paint line; `name`.ms, .paintMB and .laterMB.
bool startOnce(const QString& profile, const QString& program, const QStringList& arguments,
               const QString& name, Figures* figures)
{
    QProcess process;
    QProcessEnvironment environment = profileEnvironment(profile);
    environment.insert(QStringLiteral("QUILLARY_REPORT_FIRST_PAINT"), QStringLiteral("1"));
    environment.insert(QStringLiteral("QUILLARY_REPORT_RESIDENT_LATER_MS"), QString::number(LaterMs));
    process.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    QByteArray out;
    double ms = -1;
    while (!out.contains("resident later") && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(30000);
        out += process.readAllStandardOutput();
        if (ms < 0 && out.contains("first paint"))
            ms = double(timer.nsecsElapsed()) / 1e6;
    }
    process.waitForFinished(30000);
    const double paint = numberAfter(out, "first paint, resident ");
    const double later = numberAfter(out, "resident later ");
    if (ms < 0 || paint < 0 || later < 0) {
        std::printf("  %s: no first-paint report (%s)\n", qPrintable(name),
                    process.readAllStandardError().left(300).constData());
        return false;
    }
    (*figures)[name + QStringLiteral(".ms")].ms.push_back(ms);
    (*figures)[name + QStringLiteral(".paintMB")].ms.push_back(paint);
    (*figures)[name + QStringLiteral(".laterMB")].ms.push_back(later);
    return true;
}

// Runs this program with `arguments`; its "figure" lines go to `figures`,
// the rest to stdout when `echo` is set.
int runChild(const QStringList& arguments, Figures* figures, bool echo)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    child.waitForFinished(-1);
    for (const QByteArray& line : child.readAll().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 3 && words[0] == "figure")
            (*figures)[QString::fromLatin1(words[1])].ms.push_back(words[2].toDouble());
        else if (echo && !line.isEmpty())
            std::printf("    %s\n", line.constData());
    }
    return child.exitCode();
}

// Each figure's quotient, run by run.
void addRatio(Figures* figures, const QString& name, const QString& numerator, const QString& denominator)
{
    const std::vector<double>& top = (*figures)[numerator].ms;
    const std::vector<double>& bottom = (*figures)[denominator].ms;
    for (size_t i = 0; i < std::min(top.size(), bottom.size()); ++i)
        (*figures)[name].ms.push_back(bottom[i] > 0 ? top[i] / bottom[i] : 0);
}

struct Row
{
    const char* label;
    const char* name;
    const char* unit;
    const char* goal;
};

void printRows(const Figures& figures, std::initializer_list<Row> rows)
{
    std::printf("  %-46s %9s %9s  %-4s %s\n", "", "min", "median", "", "runs, goal");
    for (const Row& row : rows) {
        const auto found = figures.find(QString::fromLatin1(row.name));
        if (found == figures.end() || found->second.ms.empty()) {
            std::printf("  %-46s not measured\n", row.label);
            continue;
        }
        const Timings& t = found->second;
        std::printf("  %-46s %9.2f %9.2f  %-4s %zu%s%s\n", row.label, t.least(), t.median(), row.unit,
                    t.ms.size(), *row.goal ? ", goal " : "", row.goal);
    }
}

QString load()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly)
               ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2)
               : QStringLiteral("unknown");
}

// Start-up, search and save over one size, `runs` times each.
int measureSize(int count, int runs, const QString& quillary, const QString& bare)
{
    QTemporaryDir profile;
    QElapsedTimer timer;
    timer.start();
    Figures figures;
    if (runChild({QStringLiteral("--fill"), profile.path(), QString::number(count)}, &figures, true) != 0 ||
        !QFile::copy(storeOf(profile.path()), pristineOf(profile.path()))) {
        std::printf("filling the store failed\n");
        return 1;
    }
    std::printf("== %d + %d notes (store written in %.1f s; load %s)\n", count, count,
                double(timer.elapsed()) / 1000, qPrintable(load()));
    std::fflush(stdout);
    const QString store = storeOf(profile.path());
    for (int run = 0; run < runs; ++run) {
        // Interleaved, so that a change of load touches both sides alike.
        bool started = startOnce(profile.path(), bare, {store}, QStringLiteral("bare"), &figures);
        started = restoreStore(profile.path()) &&
                  startOnce(profile.path(), quillary, {}, QStringLiteral("quillary"), &figures) && started;
        if (!started || !restoreStore(profile.path()))
            return 1;
        // The first run also prints its keystrokes and what search is compared with.
        const bool first = run == 0;
        runChild({QStringLiteral("--search"), profile.path(), QString::number(count), QStringLiteral("0"),
                  QString::number(first ? 1 : 0)},
                 &figures, first);
        if (!restoreStore(profile.path()))
            return 1;
        // The same typed a moment after the bar opened, as people mostly
        // type: the search list is made while the bar slides in.
        runChild({QStringLiteral("--search"), profile.path(), QString::number(count),
                  QString::number(PausedFirstKeyMs), QStringLiteral("0")},
                 &figures, first);
        if (!restoreStore(profile.path()))
            return 1;
    }
    addRatio(&figures, QStringLiteral("ratio.ms"), QStringLiteral("quillary.ms"), QStringLiteral("bare.ms"));
    std::printf("-- %d + %d notes, %d runs (load %s)\n", count, count, runs, qPrintable(load()));
    printRows(figures,
              {
                  {"exec to painted list, quillary", "quillary.ms", "ms", "10k < 150 ms"},
                  {"exec to painted list, bare Qt list (floor)", "bare.ms", "ms", ""},
                  {"  quillary / floor, run by run", "ratio.ms", "x", "<= 1.5"},
                  {"resident at paint, quillary", "quillary.paintMB", "MB", "10k <= 70, 100k <= 150"},
                  {"resident 2 s after paint, quillary", "quillary.laterMB", "MB", "10k <= 70, 100k <= 150"},
                  {"resident at paint, bare Qt list (floor)", "bare.paintMB", "MB", ""},
                  {"search bar opened", "search.openMs", "ms", ""},
                  {"search, first key (typed at once)", "search.firstMs", "ms", "10k <= 16, 100k <= 50"},
                  {"search, slowest key", "search.slowestMs", "ms", "10k <= 16, 100k <= 50"},
                  {"search, median key", "search.medianMs", "ms", ""},
                  {"search, first key typed 250 ms after", "paused.firstMs", "ms", ""},
                  {"search, slowest key typed 250 ms after", "paused.slowestMs", "ms", ""},
                  {"search, median key typed 250 ms after", "paused.medianMs", "ms", ""},
                  {"resident before typing", "search.beforeMB", "MB", ""},
                  {"resident after typing", "search.afterMB", "MB", ""},
                  {"  after / before", "search.residentRatio", "x", "<= 1.2"},
                  {"search field emptied, full list painted", "search.clearMs", "ms", ""},
                  {"central save of an edited note (median of 31)", "save.medianMs", "ms", "<= 5"},
              });
    std::fflush(stdout);
    return 0;
}

// Inserting 10,000 notes through the store and through raw SQLite: the pair
// bench_store measures, run here `runs` times.
int measureInsert(const QString& storeBench, int runs)
{
    QProcess child;
    child.start(storeBench,
                {QStringLiteral("--benchmark_filter=BM_InsertNotesOneSave|BM_RawSqliteInsertSameRows"),
                 QStringLiteral("--benchmark_repetitions=%1").arg(runs),
                 QStringLiteral("--benchmark_format=json")});
    child.waitForFinished(-1);
    Figures figures;
    const QJsonArray runsDone = QJsonDocument::fromJson(child.readAllStandardOutput())
                                    .object()
                                    .value(QStringLiteral("benchmarks"))
                                    .toArray();
    for (const QJsonValue& value : runsDone) {
        const QJsonObject run = value.toObject();
        if (run.value(QStringLiteral("run_type")).toString() == QLatin1String("iteration"))
            figures[run.value(QStringLiteral("run_name")).toString().section(QLatin1Char('/'), 0, 0)]
                .ms.push_back(run.value(QStringLiteral("real_time")).toDouble());
    }
    addRatio(&figures, QStringLiteral("ratio"), QStringLiteral("BM_InsertNotesOneSave"),
             QStringLiteral("BM_RawSqliteInsertSameRows"));
    std::printf("-- insert 10,000 notes of 2 KB in one save, %d runs of 5 (load %s)\n", runs,
                qPrintable(load()));
    printRows(figures, {
                           {"through the store", "BM_InsertNotesOneSave", "ms", ""},
                           {"raw SQLite, same rows (floor)", "BM_RawSqliteInsertSameRows", "ms", ""},
                           {"  store / raw SQLite, run by run", "ratio", "x", "<= 3"},
                       });
    return figures["ratio"].ms.empty() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QStringList args = [&] {
        QStringList list;
        for (int i = 1; i < argc; ++i)
            list << QString::fromLocal8Bit(argv[i]);
        return list;
    }();
    if (args.value(0) == QLatin1String("--fill"))
        return fill(args.value(1), args.value(2).toInt());
    if (args.value(0) == QLatin1String("--search"))
        return search(args.value(1), args.value(2).toInt(), args.value(3).toInt(), args.value(4, "1") != "0");

    // The parent's own settings and caches go to a scratch profile too.
    bench::ScratchProfile scratch;
    QCoreApplication application(argc, argv);
    std::vector<int> sizes{10000, 100000};
    if (!args.isEmpty() && args.first().toInt() > 0)
        sizes = {args.first().toInt()};
    const qsizetype runsAt = args.indexOf(QStringLiteral("--runs"));
    const int runs = runsAt >= 0 ? std::max(1, args.value(runsAt + 1).toInt()) : 5;
#ifdef NDEBUG
    const char* build = "Release";
#else
    const char* build = "Debug (figures not comparable)";
#endif
    std::printf("bench_app: %s build, QT_QPA_PLATFORM=%s, load %s\n", build,
                qgetenv("QT_QPA_PLATFORM").constData(), qPrintable(load()));
    const QString here = QCoreApplication::applicationDirPath();
    const QString quillary =
        QDir(here + QStringLiteral("/../../app")).absoluteFilePath(QStringLiteral("quillary"));
    const QString bare = here + QStringLiteral("/bench_app_bare_window");
    int failed = 0;
    for (int count : sizes)
        failed |= measureSize(count, runs, quillary, bare);
    failed |= measureInsert(
        QDir(here + QStringLiteral("/../store")).absoluteFilePath(QStringLiteral("bench_store")), runs);
    if (QStandardPaths::findExecutable(QStringLiteral("gnote")).isEmpty())
        std::printf("gnote is not installed: not run\n");
    std::printf("load at the end: %s\n", qPrintable(load()));
    return failed;
}
