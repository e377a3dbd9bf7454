// The application's timings, each step in a process of its own so that its
// resident memory is its own:
//   bench_app                      every size (10,000 and 100,000 live notes)
//   bench_app 10000                one size
// Internally: --fill DIR N, --search DIR N PAUSE_MS (DIR is the profile, a
// relative one taken from the current folder).
// Each profile holds N live notes of about 2 KB and N archived ones, written
// through the store library.
#include "app/QuillaryAppDelegate.h"
#include "app/list/NoteListModel.h"
#include "app/search/QVRSearchField.h"
#include "app/window/FirstPaintReport.h"
#include "bench/support/BenchProfile.h"
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
#include <QListView>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>

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
};

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

int search(const QString& dir, int count, int pauseMs)
{
    if (!useProfile(dir))
        return 2;
    int argc = 1;
    char name[] = "bench_app";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    auto root = QVRDataStore::makeRootStore(QVRDataStore::storeURL());
    platform::UserDefaults defaults(dir + QStringLiteral("/settings.plist"));
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
    app->toggleSearch();
    QApplication::processEvents();
    // The user's first key comes this long after the bar opened.
    QElapsedTimer pause;
    pause.start();
    while (pause.elapsed() < pauseMs)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    std::printf("  search bar opened, first key %d ms later\n", pauseMs);
    // Types the query one character at a time: filter, list and paint per key.
    auto typeQuery = [&] {
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
    };
    // The rows are counted once the typing is done, not before it starts.
    const Timings typed = typeQuery();
    printTimings("search, per keystroke", typed, app->listModel()->rowCount());
    std::printf("  resident after typing:              %.1f MB\n", residentMB());
    // Typing it again: every text is folded already.
    app->searchField()->setText(QString());
    app->updateSearch();
    Timings again = typeQuery();
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
    std::fflush(stdout);
    return 0;
}

// Runs PROGRAM (with its first-paint report on) until it prints that line;
// the time is the parent's, from the start of the process.
int start(const QString& dir, const QString& program, const QString& label)
{
    Timings timings;
    double rss = 0;
    for (int run = 0; run < 5; ++run) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const auto& [variable, folder] : bench::profileVariables(dir))
            environment.insert(QString::fromLatin1(variable), folder);
        // A lone instance: no session bus to forward to, no cloud folder.
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        environment.remove(QStringLiteral("QUILLARY_CLOUD_DIR"));
        environment.insert(QStringLiteral("QUILLARY_REPORT_FIRST_PAINT"), QStringLiteral("1"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        QElapsedTimer timer;
        timer.start();
        process.start(program, {});
        QByteArray out;
        while (!out.contains("first paint") && process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(20000);
            out += process.readAllStandardOutput();
        }
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        process.waitForFinished(20000);
        out += process.readAllStandardOutput();
        const int at = out.indexOf("resident ");
        if (at < 0) {
            std::printf("  %s: no first-paint report (%s)\n", qPrintable(label),
                        process.readAllStandardError().left(300).constData());
            return 1;
        }
        rss = out.mid(at + 9).split(' ').first().toDouble();
        timings.ms.push_back(ms);
    }
    printTimings(qPrintable(label + QStringLiteral(", start to first paint")), timings, 0);
    std::printf("  %-34s %.1f MB\n", qPrintable(label + QStringLiteral(", resident")), rss);
    return 0;
}

int runChild(const QStringList& arguments)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    child.waitForFinished(-1);
    return child.exitCode();
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
        return search(args.value(1), args.value(2).toInt(), args.value(3).toInt());

    // The parent's own settings and caches go to a scratch profile too.
    bench::ScratchProfile scratch;
    QCoreApplication application(argc, argv);
    std::vector<int> sizes{10000, 100000};
    if (!args.isEmpty() && args.first().toInt() > 0)
        sizes = {args.first().toInt()};
    const QString here = QCoreApplication::applicationDirPath();
    const QString quillary =
        QDir(here + QStringLiteral("/../../app")).absoluteFilePath(QStringLiteral("quillary"));
    const QString bare = here + QStringLiteral("/bench_app_bare_window");
    for (int count : sizes) {
        QTemporaryDir profile;
        QElapsedTimer timer;
        timer.start();
        if (runChild({QStringLiteral("--fill"), profile.path(), QString::number(count)}) != 0) {
            std::printf("filling the store failed\n");
            return 1;
        }
        std::printf("== store of %d + %d notes written in %.1f s\n", count, count,
                    double(timer.elapsed()) / 1000);
        std::fflush(stdout);
        for (const char* pauseMs : {"0", "300"})
            runChild(
                {QStringLiteral("--search"), profile.path(), QString::number(count), QLatin1String(pauseMs)});
        if (count == 10000) {
            std::printf("start-up, %d + %d notes (QT_QPA_PLATFORM=%s)\n", count, count,
                        qgetenv("QT_QPA_PLATFORM").constData());
            start(profile.path(), quillary, QStringLiteral("quillary"));
            start(profile.path(), bare, QStringLiteral("bare Qt window"));
            if (QStandardPaths::findExecutable(QStringLiteral("gnote")).isEmpty())
                std::printf("  gnote is not installed: not run\n");
        }
        std::fflush(stdout);
    }
    return 0;
}
