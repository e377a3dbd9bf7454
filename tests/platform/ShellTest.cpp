#include "ShellTestSupport.h"

#include "platform/shell/ApplicationShell.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTimer>

using platform::ApplicationShell;
using Reply = ApplicationShell::TerminateReply;

namespace {

// Runs the event loop until something ends it; a stuck loop fails the test
// instead of hanging it.
int runEventLoop()
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(30000);
    return QCoreApplication::exec();
}

TEST(ApplicationShell, OperandsAreSortedIntoURLsAndAbsoluteFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile odd(dir.filePath(QStringLiteral("a:b")));
    ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
    odd.close();
    const QString cwd = dir.path();
    const auto result = ApplicationShell::classifyArguments(
        {QStringLiteral("quillary://add?text=hi%20there"), QStringLiteral("notes.txt"),
         QStringLiteral("mailto:someone@example.com"), QStringLiteral("../up/n.quillary"),
         QStringLiteral("/abs/n.txt"), QStringLiteral("file:///tmp/a%20b.txt"), QStringLiteral("a:b"),
         QString(), QStringLiteral("C:notes")},
        cwd);
    EXPECT_EQ(result.urls, (QStringList{QStringLiteral("quillary://add?text=hi%20there"),
                                        QStringLiteral("mailto:someone@example.com")}));
    EXPECT_EQ(result.files, (QStringList{cwd + QStringLiteral("/notes.txt"),
                                         QDir::cleanPath(cwd + QStringLiteral("/../up/n.quillary")),
                                         QStringLiteral("/abs/n.txt"), QStringLiteral("/tmp/a b.txt"),
                                         cwd + QStringLiteral("/a:b"), cwd + QStringLiteral("/C:notes")}));
}

TEST(ApplicationShell, LaterWaitsForTheReplyAndAsksOnce)
{
    ApplicationShell shell;
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
    int asked = 0, notices = 0;
    shell.setShouldTerminate([&] {
        ++asked;
        return Reply::Later;
    });
    QObject::connect(&shell, &ApplicationShell::willTerminate, [&] { ++notices; });

    shell.terminate();
    shell.terminate(); // a second Quit while the first waits
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(shell.terminationPending());

    shell.replyToApplicationShouldTerminate(false);
    EXPECT_FALSE(shell.terminationPending());
    EXPECT_EQ(notices, 0);

    shell.terminate();
    EXPECT_EQ(asked, 2);
    QTimer::singleShot(0, &shell, [&] { shell.replyToApplicationShouldTerminate(true); });
    EXPECT_EQ(runEventLoop(), 0);
    EXPECT_EQ(notices, 1);
}

TEST(ApplicationShell, NowEndsTheEventLoopAndCancelKeepsItRunning)
{
    ApplicationShell shell;
    Reply reply = Reply::Cancel;
    int notices = 0;
    shell.setShouldTerminate([&] { return reply; });
    QObject::connect(&shell, &ApplicationShell::willTerminate, [&] { ++notices; });
    shell.terminate();
    EXPECT_FALSE(shell.terminationPending());
    EXPECT_EQ(notices, 0);
    reply = Reply::Now;
    shell.terminate(); // before the loop runs: still ends it once it does
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(runEventLoop(), 0);
    EXPECT_EQ(notices, 1);
}

TEST(ApplicationShell, ActiveStateChangesBecomeBecomeAndResign)
{
    ApplicationShell shell;
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    QStringList log;
    QObject::connect(&shell, &ApplicationShell::didBecomeActive, [&] { log << QStringLiteral("become"); });
    QObject::connect(&shell, &ApplicationShell::willResignActive,
                     [&] { log << QStringLiteral("will-resign"); });
    QObject::connect(&shell, &ApplicationShell::didResignActive,
                     [&] { log << QStringLiteral("did-resign"); });
    for (auto state : {Qt::ApplicationActive, Qt::ApplicationActive, Qt::ApplicationInactive,
                       Qt::ApplicationHidden, Qt::ApplicationActive})
        emit qGuiApp->applicationStateChanged(state);
    EXPECT_EQ(log, (QStringList{QStringLiteral("become"), QStringLiteral("will-resign"),
                                QStringLiteral("did-resign"), QStringLiteral("become")}));
}

struct SignalCase
{
    const char* name;
    int number;
};

class TerminationSignal : public ::testing::TestWithParam<SignalCase>
{
};

TEST_P(TerminationSignal, AsksTheCallbackAndExitsCleanly)
{
    HelperProcess helper({QStringLiteral("signals"), QStringLiteral("later")});
    ASSERT_TRUE(helper.waitForLine(QStringLiteral("ready"))) << qPrintable(helper.errors());
    helper.signal(GetParam().number);
    ASSERT_TRUE(helper.waitForExit());
    EXPECT_TRUE(helper.exitedNormally());
    EXPECT_EQ(helper.exitCode(), 0);
    EXPECT_EQ(helper.lines(), (QStringList{QStringLiteral("ready"), QStringLiteral("should-terminate 1"),
                                           QStringLiteral("will-terminate"), QStringLiteral("exited")}));
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminationSignal,
                         ::testing::Values(SignalCase{"SIGTERM", SIGTERM}, SignalCase{"SIGINT", SIGINT},
                                           SignalCase{"SIGHUP", SIGHUP}),
                         [](const ::testing::TestParamInfo<SignalCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(TerminationSignal, CancelledSignalKeepsTheProcessRunning)
{
    HelperProcess helper({QStringLiteral("signals"), QStringLiteral("cancel-once")});
    ASSERT_TRUE(helper.waitForLine(QStringLiteral("ready")));
    helper.signal(SIGTERM);
    ASSERT_TRUE(helper.waitForLine(QStringLiteral("cancelled")));
    helper.signal(SIGINT); // answered, so the process was still running
    ASSERT_TRUE(helper.waitForExit());
    EXPECT_EQ(helper.exitCode(), 0);
    EXPECT_TRUE(helper.lines().contains(QStringLiteral("should-terminate 2")));
    EXPECT_EQ(helper.lines().mid(helper.lines().size() - 2),
              (QStringList{QStringLiteral("will-terminate"), QStringLiteral("exited")}));
}

// Settings changes are held back for a moment; a signal may be followed by
// another that ends the process before the event loop does.
TEST(TerminationSignal, WritesHeldBackSettingsBeforeAskingToQuit)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    HelperProcess helper({QStringLiteral("settings"), dir.filePath(QStringLiteral("settings.plist"))});
    ASSERT_TRUE(helper.waitForLine(QStringLiteral("ready"))) << qPrintable(helper.errors());
    helper.signal(SIGTERM);
    ASSERT_TRUE(helper.waitForExit());
    EXPECT_EQ(helper.exitCode(), 0);
    EXPECT_TRUE(helper.lines().contains(QStringLiteral("stored 1"))) << qPrintable(helper.lines().join('|'));
}

TEST(SingleInstance, WithoutASessionBusRunsAloneAndSaysSoOnce)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=/nonexistent/quillary-bus"));
    HelperProcess helper({QStringLiteral("instance"), QStringLiteral("com.quorvane.QuillaryTest.nobus")},
                         QString(), env);
    ASSERT_TRUE(helper.waitForExit());
    EXPECT_EQ(helper.exitCode(), 0);
    EXPECT_EQ(helper.lines(), QStringList{QStringLiteral("alone")});
    EXPECT_EQ(helper.errors().count(QStringLiteral("running as a lone instance")), 1)
        << qPrintable(helper.errors());
}

} // namespace
