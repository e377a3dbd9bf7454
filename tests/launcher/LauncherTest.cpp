#include "launcher/LoginItems.h"
#include "launcher/QuillaryLauncher.h"

#include "platform/core/Log.h"
#include "tests/support/TemporaryProfile.h"
#include "tests/support/Wait.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

class FakeWorkspace : public QVRLauncherWorkspace
{
public:
    QString bundle;
    QList<QString> running;
    bool launchSucceeds = true;
    QStringList launched;
    int terminated = 0;

    QString mainBundlePath() const override { return bundle; }
    QList<QString> runningApplicationBundlePaths() const override { return running; }
    bool launchApplication(const QString& path, QString* error) override
    {
        launched << path;
        if (!launchSucceeds)
            *error = QStringLiteral("no such application");
        return launchSucceeds;
    }
    void terminate() override { ++terminated; }
};

const QString kLauncherBundle =
    QStringLiteral("/opt/q/lib/quillary/Quillary.app/Contents/Library/LoginItems/Quillary-Launcher.app");
const QString kApp = QStringLiteral("/opt/q/lib/quillary/Quillary.app");

QStringList captureLog(const std::function<void()>& body)
{
    auto lines = std::make_shared<QStringList>();
    platform::setLogSink([lines](const QString& line) { lines->append(line); });
    body();
    platform::setLogSink(nullptr);
    return *lines;
}

void writeFile(const QString& path, const QByteArray& contents, QFile::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(contents);
    f.close();
    if (permissions)
        f.setPermissions(permissions);
}

} // namespace

TEST(Launcher, LaunchDecision)
{
    const QString failed = QStringLiteral(
        "Couldn't relaunch app: file:///opt/q/lib/quillary/Quillary.app/ Error: no such application, {}");
    const QString outside = QStringLiteral(
        " Error: The launcher is not inside the application's Contents/Library/LoginItems folder., {}");
    struct Case
    {
        const char* label;
        QString bundle;
        QList<QString> running;
        bool launchSucceeds;
        QStringList expectLaunched;
        QString expectLog; // empty: nothing logged
    };
    const Case cases[] = {
        {"already running from this bundle", kLauncherBundle, {"/usr/lib/x", kApp}, true, {}, {}},
        {"a copy runs elsewhere", kLauncherBundle, {"/home/u/Quillary.app"}, true, {kApp}, {}},
        {"trailing slash is another string", kLauncherBundle, {kApp + "/"}, true, {kApp}, {}},
        {"nothing runs", kLauncherBundle, {}, true, {kApp}, {}},
        {"launch fails", kLauncherBundle, {}, false, {kApp}, failed},
        {"no bundle path", QString(), {QString()}, true, {}, {}},
        // Copied alone into a folder: its bundle and "four levels up" are both
        // "/", as is any /usr/bin program's bundle.
        {"launcher alone in a folder", "/", {"/"}, true, {}, "Couldn't relaunch app: file:///" + outside},
        {"launcher outside the login items",
         "/opt/q/a/b/c/Quillary-Launcher.app",
         {},
         true,
         {},
         "Couldn't relaunch app: file:///opt/q/" + outside},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FakeWorkspace workspace;
        workspace.bundle = c.bundle;
        workspace.running = c.running;
        workspace.launchSucceeds = c.launchSucceeds;
        const QStringList log = captureLog([&] { AppDelegate(workspace).applicationDidFinishLaunching(); });
        EXPECT_EQ(workspace.launched, c.expectLaunched);
        EXPECT_EQ(workspace.terminated, 1);
        EXPECT_EQ(log.join(u'\n').toStdString(), c.expectLog.toStdString());
    }
}

TEST(Launcher, PathComponents)
{
    using QVRBundlePaths::removingLastPathComponents;
    EXPECT_EQ(removingLastPathComponents(kLauncherBundle, 4), kApp);
    EXPECT_EQ(removingLastPathComponents(kLauncherBundle + "/", 4), kApp);
    EXPECT_EQ(removingLastPathComponents(QStringLiteral("/a/b"), 4), QStringLiteral("/"));
    EXPECT_EQ(removingLastPathComponents(QStringLiteral("a/b"), 4), QString());
    EXPECT_EQ(removingLastPathComponents(QString(), 4), QString());
    EXPECT_EQ(QVRBundlePaths::bundlePathForExecutable(kApp + "/Contents/MacOS/Quillary"), kApp);
}

TEST(Launcher, RunningApplicationsFromAProcessTree)
{
    QTemporaryDir proc;
    const auto process = [&](const QString& pid, const QString& exe) {
        QDir().mkpath(proc.filePath(pid));
        if (!exe.isEmpty())
            QFile::link(exe, proc.filePath(pid + "/exe"));
    };
    process("1200", kApp + "/Contents/MacOS/Quillary");
    process("17", "/usr/bin/bash");
    process("99", QString()); // a kernel thread: no executable
    process("self", "/usr/bin/whatever");
    process("net", QString());
    QVRSystemLauncherWorkspace workspace(proc.path(), kLauncherBundle + "/Contents/MacOS/Quillary-Launcher");
    EXPECT_EQ(workspace.runningApplicationBundlePaths(), (QList<QString>{"/", kApp}));
    EXPECT_EQ(workspace.mainBundlePath(), kLauncherBundle);
}

// The real program in a bundle tree: it starts the application beside it once,
// and says so when there is none.
TEST(Launcher, ProgramStartsTheApplicationFourLevelsUp)
{
    QTemporaryDir root;
    const QString app = root.filePath(QStringLiteral("Quillary.app"));
    const QString launcher = LoginItems::launcherExecutableForApplicationBundle(app);
    QDir().mkpath(QFileInfo(launcher).absolutePath());
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("QUILLARY_LAUNCHER"), launcher));

    QProcess run;
    run.start(launcher, {});
    ASSERT_TRUE(run.waitForFinished(20000));
    EXPECT_EQ(run.exitCode(), 0);
    const QString err = QString::fromUtf8(run.readAllStandardError());
    EXPECT_TRUE(err.startsWith(QStringLiteral("Couldn't relaunch app: ") +
                               QUrl::fromLocalFile(app).toString() + "/ Error: "))
        << err.toStdString();

    const QString marker = root.filePath(QStringLiteral("started"));
    writeFile(app + "/Contents/MacOS/Quillary",
              QStringLiteral("#!/bin/sh\necho started >> '%1'\n").arg(marker).toUtf8(),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    run.start(launcher, {});
    ASSERT_TRUE(run.waitForFinished(20000));
    EXPECT_EQ(run.exitCode(), 0);
    EXPECT_TRUE(run.readAllStandardError().isEmpty());
    EXPECT_TRUE(testsupport::waitFor([&] { return QFile::exists(marker); }));
    QFile started(marker);
    ASSERT_TRUE(started.open(QIODevice::ReadOnly));
    EXPECT_EQ(started.readAll(), QByteArray("started\n"));
}

// The real program copied alone into an empty folder, while a program from
// /usr/bin (whose "bundle" is "/" too) runs: it must not take that for the
// application, and says that it could not start it.
TEST(Launcher, ProgramAloneInAFolderStartsNothingAndSaysSo)
{
    QTemporaryDir root;
    const QString launcher = root.filePath(QStringLiteral("Quillary-Launcher"));
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("QUILLARY_LAUNCHER"), launcher));
    QProcess shallow; // waits on its input until closed
    shallow.start(QStringLiteral("/usr/bin/cat"), {});
    ASSERT_TRUE(shallow.waitForStarted());

    QProcess run;
    run.start(launcher, {});
    ASSERT_TRUE(run.waitForFinished(20000));
    EXPECT_EQ(run.exitCode(), 0);
    const QString err = QString::fromUtf8(run.readAllStandardError());
    EXPECT_TRUE(err.startsWith(QStringLiteral("Couldn't relaunch app: file:/// Error: ")))
        << err.toStdString();
    shallow.closeWriteChannel();
    EXPECT_TRUE(shallow.waitForFinished(20000));
}

TEST(LoginItems, ExecArgumentQuoting)
{
    const std::pair<QString, QString> cases[] = {
        {"/usr/lib/q/L", "\"/usr/lib/q/L\""},           {"/home/a b/L", "\"/home/a b/L\""},
        {"/x/\"q\"", "\"/x/\\\\\"q\\\\\"\""},           {"/x/$HOME`id`", "\"/x/\\\\$HOME\\\\`id\\\\`\""},
        {"/x/back\\slash", "\"/x/back\\\\\\\\slash\""}, {"/x/100%d", "\"/x/100%%d\""},
        {"/x/caf\u00e9 'it'", "\"/x/caf\u00e9 'it'\""},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(LoginItems::desktopExecArgument(path), expected) << path.toStdString();
}

TEST(LoginItems, CreatesAndRemovesTheAutostartEntry)
{
    testsupport::TemporaryProfile home;
    const QString launcher = home.filePath(QStringLiteral("my apps/Launcher$"));
    writeFile(launcher, "#!/bin/sh\n", QFile::ReadOwner | QFile::ExeOwner);
    const QString entry = home.configHome() + "/autostart/com.quorvane.Quillary-Launcher.desktop";
    EXPECT_EQ(LoginItems::autostartFilePath(), entry);

    QString error;
    ASSERT_TRUE(LoginItems::setLoginItemEnabled(launcher, true, &error)) << error.toStdString();
    QFile f(entry);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()),
              QStringLiteral(
                  "[Desktop Entry]\nType=Application\nName=Quillary-Launcher\nExec=\"%1\"\nNoDisplay=true\n"
                  "X-GNOME-Autostart-enabled=true\n")
                  .arg(home.filePath(QStringLiteral("my apps/Launcher\\\\$"))));
    f.close();
    // Enabling twice rewrites the same entry.
    EXPECT_TRUE(LoginItems::setLoginItemEnabled(launcher, true, &error));

    EXPECT_TRUE(LoginItems::setLoginItemEnabled(launcher, false, &error));
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_TRUE(LoginItems::setLoginItemEnabled(launcher, false, &error)); // absent is fine

    // Refusals: no launcher there, a path with a line break, and an autostart
    // folder that cannot be made.
    EXPECT_FALSE(LoginItems::setLoginItemEnabled(home.filePath("missing"), true, &error));
    EXPECT_FALSE(error.isEmpty());
    const QString broken = home.filePath(QStringLiteral("line\nbreak"));
    writeFile(broken, "#!/bin/sh\n", QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_FALSE(LoginItems::setLoginItemEnabled(broken, true, &error));
    writeFile(home.filePath("blocked/autostart"), "not a folder");
    qputenv("XDG_CONFIG_HOME", home.filePath("blocked").toUtf8());
    EXPECT_FALSE(LoginItems::setLoginItemEnabled(launcher, true, &error));
    EXPECT_FALSE(error.isEmpty());
}
