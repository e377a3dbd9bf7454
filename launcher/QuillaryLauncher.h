#pragma once

#include <QList>
#include <QString>

#include <functional>

// What the login-item launcher needs from the desktop: where it lives, what
// runs, how to start an application and how to quit. Tests give their own.
class QVRLauncherWorkspace
{
public:
    virtual ~QVRLauncherWorkspace() = default;
    // The launcher's own bundle (…/Quillary-Launcher.app).
    virtual QString mainBundlePath() const = 0;
    // The bundle paths of the user's running applications, in process order.
    virtual QList<QString> runningApplicationBundlePaths() const = 0;
    // Starts the application bundle at `bundlePath`; false with `error` set
    // when nothing was started.
    virtual bool launchApplication(const QString& bundlePath, QString* error) = 0;
    virtual void terminate() = 0;
};

class AppDelegate
{
public:
    explicit AppDelegate(QVRLauncherWorkspace& workspace) : m_workspace(workspace) {}
    // Starts the main application unless it already runs from this bundle,
    // then quits.
    void applicationDidFinishLaunching();

private:
    QVRLauncherWorkspace& m_workspace;
};

namespace QVRBundlePaths {
// `path` without its last component, `count` times (never above "/").
QString removingLastPathComponents(const QString& path, int count);
// Whether `path` is a bundle at <app>/Contents/Library/LoginItems/<name>.
bool isLoginItemBundlePath(const QString& path);
// The bundle holding an executable at <bundle>/Contents/MacOS/<name>.
QString bundlePathForExecutable(const QString& executable);
// The executable inside a bundle: its Info.plist's CFBundleExecutable, else
// `fallbackName`.
QString executableInBundle(const QString& bundlePath, const QString& fallbackName);
} // namespace QVRBundlePaths

// The real desktop: procfs for the running applications (the current user's
// processes only), a detached process for the launch, and the event loop's
// quit.
class QVRSystemLauncherWorkspace : public QVRLauncherWorkspace
{
public:
    explicit QVRSystemLauncherWorkspace(QString procRoot = QStringLiteral("/proc"),
                                        QString ownExecutable = QString());
    QString mainBundlePath() const override;
    QList<QString> runningApplicationBundlePaths() const override;
    bool launchApplication(const QString& bundlePath, QString* error) override;
    void terminate() override;

private:
    QString m_procRoot;
    QString m_ownExecutable;
};
