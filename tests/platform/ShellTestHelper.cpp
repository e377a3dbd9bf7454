// A small program the shell tests start as a child process: it plays the
// application's part around ApplicationShell and prints what reaches it.
//   helper instance SERVICE [OPERAND...]   claim the single instance
//   helper signals later|cancel-once       answer termination requests (signals,
//                                          the session manager) and session saves
//   helper settings FILE                    hold a settings change back, then
//                                           say what FILE holds when a
//                                           signal asks to quit
#include "platform/core/UserDefaults.h"
#include "platform/shell/ApplicationShell.h"

#include <QGuiApplication>
#include <QTimer>

#include <cstdio>

using platform::ApplicationShell;

namespace {

void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    const QString mode = args[1];

    if (mode == QLatin1String("instance")) {
        ApplicationShell shell(nullptr, args[2]);
        switch (shell.claimSingleInstance(args.mid(3))) {
        case ApplicationShell::InstanceRole::Forwarded:
            say(QStringLiteral("forwarded"));
            return 0;
        case ApplicationShell::InstanceRole::ForwardFailed:
            say(QStringLiteral("forward failed"));
            return 1;
        case ApplicationShell::InstanceRole::Alone:
            say(QStringLiteral("alone"));
            return 0;
        case ApplicationShell::InstanceRole::Primary:
            break;
        }
        QObject::connect(&shell, &ApplicationShell::reopen, [] { say(QStringLiteral("reopen")); });
        QObject::connect(&shell, &ApplicationShell::openURL, [](const QString& url) { say("url " + url); });
        QObject::connect(&shell, &ApplicationShell::openFiles,
                         [](const QStringList& files) { say("files " + files.join(QLatin1Char('|'))); });
        shell.installSignalHandlers();
        say(QStringLiteral("ready"));
        return app.exec();
    }

    if (mode == QLatin1String("signals")) {
        const bool cancelOnce = args[2] == QLatin1String("cancel-once");
        ApplicationShell shell;
        int asked = 0;
        shell.setShouldTerminate([&] {
            ++asked;
            say(QStringLiteral("should-terminate %1").arg(asked));
            if (cancelOnce && asked == 1) {
                say(QStringLiteral("cancelled"));
                return ApplicationShell::TerminateReply::Cancel;
            }
            // Saving takes a while: answer from the event loop.
            QTimer::singleShot(0, &shell, [&] { shell.replyToApplicationShouldTerminate(true); });
            return ApplicationShell::TerminateReply::Later;
        });
        QObject::connect(&shell, &ApplicationShell::willTerminate,
                         [] { say(QStringLiteral("will-terminate")); });
        QObject::connect(&shell, &ApplicationShell::saveRequested, [] { say(QStringLiteral("saved")); });
        if (!shell.installSignalHandlers())
            return 3;
        say(QStringLiteral("ready"));
        const int status = app.exec();
        say(QStringLiteral("exited"));
        return status;
    }
    if (mode == QLatin1String("settings")) {
        platform::UserDefaults defaults(args[2], std::chrono::hours(24));
        defaults.set(QStringLiteral("a"), 1);
        ApplicationShell shell;
        shell.setShouldTerminate([&] {
            say(QStringLiteral("stored %1")
                    .arg(platform::UserDefaults(args[2]).integer(QStringLiteral("a"))));
            return ApplicationShell::TerminateReply::Now;
        });
        if (!shell.installSignalHandlers())
            return 3;
        say(QStringLiteral("ready"));
        return app.exec();
    }
    return 2;
}
