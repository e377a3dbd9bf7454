// quillary: the note window, one instance per session.
#include "app/QuillaryAppDelegate.h"
#include "app/commands/QVRCommandLine.h"
#include "app/window/FirstPaintReport.h"

#include "launcher/LoginItems.h"
#include "platform/core/Memory.h"
#include "platform/core/SystemChanges.h"
#include "platform/core/UserDefaults.h"
#include "platform/shell/ApplicationShell.h"
#include "services/QVRServices.h"
#include "store/QVRDataStore.h"
#include "sync/QVRSyncManager.h"
#include "sync/QVRiCloudSyncInstaller.h"

#include <QApplication>
#include <QDir>

int main(int argc, char** argv)
{
    if (const std::optional<int> status = QVRCommandLine::runScriptingCommand(argc, argv))
        return *status;
    platform::returnLargeBlocksWhenFreed();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillary"));
    QApplication::setOrganizationName(QStringLiteral("Quorvane"));
    QApplication::setDesktopFileName(QStringLiteral("com.quorvane.Quillary"));

    platform::ApplicationShell shell;
    switch (shell.claimSingleInstance(QApplication::arguments().mid(1))) {
    case platform::ApplicationShell::InstanceRole::Forwarded:
        return 0;
    case platform::ApplicationShell::InstanceRole::ForwardFailed:
        return 1;
    case platform::ApplicationShell::InstanceRole::Primary:
    case platform::ApplicationShell::InstanceRole::Alone:
        break;
    }

    // The store, the sync manager and the hot-key centre of this process.
    QVRServices services;
    QVRDataStore* root = services.store();
    if (!root || !root->context()) {
        QuillaryAppDelegate::Environment broken;
        broken.rootStore = root;
        broken.defaults = &platform::UserDefaults::standard();
        QuillaryAppDelegate fatal(broken); // shows the fatal alert and exits
        return 1;
    }
    platform::SystemChanges::start();
    QVRSyncManager* syncManager = services.syncManager();
    QVRiCloudSyncInstaller::install(syncManager);

    QuillaryAppDelegate::Environment environment;
    environment.rootStore = root;
    environment.defaults = &platform::UserDefaults::standard();
    environment.syncManager = syncManager;
    environment.hotKeyCenter = &services.hotKeyCenter();
    // The program sits at Quillary.app/Contents/MacOS inside the install tree.
    environment.launcherExecutable = LoginItems::launcherExecutableForApplicationBundle(
        QDir(QApplication::applicationDirPath() + QStringLiteral("/../..")).absolutePath());
    QuillaryAppDelegate delegate(environment);
    shell.setShouldTerminate([&delegate] {
        if (delegate.applicationShouldTerminate())
            return platform::ApplicationShell::TerminateReply::Now;
        // Not terminating: the user kept the program (a note could not be saved).
        return delegate.terminating() ? platform::ApplicationShell::TerminateReply::Later
                                      : platform::ApplicationShell::TerminateReply::Cancel;
    });
    QObject::connect(&delegate, &QuillaryAppDelegate::terminationReady, &shell,
                     [&shell] { shell.replyToApplicationShouldTerminate(true); });
    QObject::connect(&shell, &platform::ApplicationShell::didBecomeActive, &delegate,
                     &QuillaryAppDelegate::applicationDidBecomeActive);
    QObject::connect(&shell, &platform::ApplicationShell::willResignActive, &delegate,
                     &QuillaryAppDelegate::applicationWillResignActive);
    QObject::connect(&shell, &platform::ApplicationShell::didResignActive, &delegate,
                     &QuillaryAppDelegate::applicationDidResignActive);
    QObject::connect(&shell, &platform::ApplicationShell::reopen, &delegate,
                     [&delegate] { delegate.applicationShouldHandleReopen(); });
    QObject::connect(&delegate, &QuillaryAppDelegate::quitRequested, &shell,
                     &platform::ApplicationShell::terminate);
    QObject::connect(&shell, &platform::ApplicationShell::saveRequested, &delegate,
                     &QuillaryAppDelegate::saveNoteAndSettings);
    shell.installSignalHandlers();
    // Benchmarks: report the first painted list and exit.
    if (delegate.tableView())
        reportFirstPaintIfAsked(delegate.tableView()->viewport());
    delegate.applicationWillFinishLaunching();
    delegate.connectShell(shell, QApplication::arguments().mid(1));
    return application.exec();
}
