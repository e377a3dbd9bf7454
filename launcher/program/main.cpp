// Quillary-Launcher: started by the session at login, it starts Quillary
// unless it already runs, and quits.
#include "launcher/QuillaryLauncher.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillary-Launcher"));
    QVRSystemLauncherWorkspace workspace;
    AppDelegate delegate(workspace);
    QTimer::singleShot(0, &app, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return app.exec();
}
