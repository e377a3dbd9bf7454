// One very large note in the window: selecting and showing it, a keystroke in
// it and a repaint of the list that holds it, for a note of one unbroken line
// and for one of 80-character lines.
//   bench_app_large_note [MEGABYTES [SECONDS]]   both shapes (10 MB, 120 s each)
// Internally: --run DIR SHAPE BYTES, in a process of its own per shape, so that
// a shape that blocks the window is stopped after SECONDS and reported as such.
#include "app/QuillaryAppDelegate.h"
#include "app/editor/QVRLinkTextView.h"
#include "app/list/NoteListModel.h"
#include "bench/support/BenchProfile.h"
#include "platform/core/UserDefaults.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListView>
#include <QPlainTextEdit>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int Runs = 5;

void printTimings(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    QStringList each;
    for (double v : ms)
        each << QString::number(v, 'f', 1);
    std::printf("  %-30s min %9.2f ms  median %9.2f ms  [%s]\n", what, ms.front(), ms[ms.size() / 2],
                qPrintable(each.join(QLatin1Char(' '))));
    std::fflush(stdout);
}

std::vector<double> time(const std::function<void()>& prepare, const std::function<void()>& step)
{
    std::vector<double> ms;
    for (int run = 0; run < Runs; ++run) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        step();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return ms;
}

// Base64-like letters without a break, or words in lines of 80 characters.
QString largeText(bool oneLine, qsizetype bytes)
{
    QString text;
    text.reserve(bytes + 80);
    if (oneLine) {
        static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (qsizetype i = 0; i < bytes; ++i)
            text += QLatin1Char(letters[(i * 7 + i / 64) % 64]);
        return text;
    }
    const QString line =
        QStringLiteral("the plan for the budget review and the project deadline, call the client")
            .leftJustified(79, QLatin1Char('.'));
    for (int n = 0; text.size() < bytes; ++n)
        text += QString::number(n % 10) + line + QLatin1Char('\n');
    return text;
}

int run(const QString& dir, bool oneLine, qsizetype bytes)
{
    if (bench::useProfile(dir).isEmpty())
        return 2;
    int argc = 1;
    char name[] = "bench_app_large_note";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    auto root = QVRDataStore::makeRootStore(QVRDataStore::storeURL());
    if (!root || !root->context())
        return 1;
    // A small note on top (selected at start) and the large one below it.
    const double now = double(QDateTime::currentSecsSinceEpoch());
    auto* context = root->context();
    bool saved = false;
    context->performAndWait([&] {
        for (int i = 0; i < 3; ++i) {
            auto* note = static_cast<Note*>(context->insert(QVRNoteEntityName));
            note->setUuid(QStringLiteral("BENCH-%1").arg(i));
            note->setText(i == 1 ? largeText(oneLine, bytes) : QStringLiteral("A small note\nof two lines"));
            note->setDate(now - 60.0 * i);
            note->setModified(now - 60.0 * i);
            note->setArchived(false);
            note->setRemoved(false);
        }
        saved = context->save();
    });
    if (!saved)
        return 1;
    platform::UserDefaults defaults(dir + QStringLiteral("/settings.plist"));
    QuillaryAppDelegate::Environment environment;
    environment.rootStore = root.get();
    environment.defaults = &defaults;
    auto app = std::make_unique<QuillaryAppDelegate>(environment);
    app->window()->resize(1000, 700);
    app->applicationWillFinishLaunching();
    app->window()->show();
    QApplication::processEvents();
    Note* small = app->listModel()->noteAt(0);
    Note* large = app->listModel()->noteAt(1);
    if (!small || !large || large->text().size() < bytes) {
        std::printf("  the large note is not in the list\n");
        return 1;
    }

    const auto nothing = [] {};
    printTimings("list repaint", time(nothing, [&] {
                     app->tableView()->viewport()->repaint();
                     QApplication::processEvents();
                 }));
    // Selected as a click on its row selects it.
    printTimings("selected and shown", time(
                                           [&] {
                                               app->tableView()->setCurrentIndex(app->listModel()->index(0));
                                               QApplication::processEvents();
                                           },
                                           [&] {
                                               app->tableView()->setCurrentIndex(app->listModel()->index(1));
                                               app->window()->repaint();
                                               QApplication::processEvents();
                                           }));
    QPlainTextEdit* editor = app->textView();
    if (editor->toPlainText().size() < bytes) {
        std::printf("  the large note is not in the editor\n");
        return 1;
    }
    // Typed in the middle of the text, which is where the view scrolls.
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(int(editor->document()->characterCount() / 2));
    editor->setTextCursor(cursor);
    editor->setFocus();
    QApplication::processEvents();
    printTimings("keystroke", time(nothing, [&] {
                     QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
                     QApplication::sendEvent(editor, &press);
                     QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
                     QApplication::sendEvent(editor, &release);
                     editor->viewport()->repaint();
                     QApplication::processEvents();
                 }));
    printTimings("list repaint, large note open", time(nothing, [&] {
                     app->tableView()->viewport()->repaint();
                     QApplication::processEvents();
                 }));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.value(0) == QLatin1String("--run"))
        return run(args.value(1), args.value(2) == QLatin1String("one-line"), args.value(3).toLongLong());

    QCoreApplication application(argc, argv);
    const double megabytes = args.isEmpty() ? 10.0 : args.value(0).toDouble();
    const int seconds = args.size() < 2 ? 120 : args.value(1).toInt();
    const auto bytes = qsizetype(megabytes * 1024 * 1024);
    int status = 0;
    for (const char* shape : {"one-line", "lines"}) {
        std::printf("a note of %.1f MB, %s\n", megabytes,
                    qstrcmp(shape, "lines") == 0 ? "80-character lines" : "one line");
        std::fflush(stdout);
        bench::ScratchProfile profile;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--run"), profile.path(), QLatin1String(shape), QString::number(bytes)});
        if (!child.waitForFinished(seconds * 1000)) {
            child.kill();
            child.waitForFinished();
            std::printf("  not finished within %d s: stopped\n", seconds);
            status = 1;
        } else if (child.exitCode() != 0) {
            status = 1;
        }
    }
    return status;
}
