#include "launcher/QuillaryLauncher.h"

#include "platform/core/Log.h"
#include "platform/plist/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

static void logRelaunchFailure(const QString& mainPath, const QString& error)
{
    QString url = QUrl::fromLocalFile(mainPath).toString();
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    platform::log(
        QStringLiteral("Couldn't relaunch app: %1 Error: %2, %3").arg(url, error, QStringLiteral("{}")));
}

void AppDelegate::applicationDidFinishLaunching()
{
    // The launcher sits at <app>/Contents/Library/LoginItems/<launcher>.
    const QString bundle = m_workspace.mainBundlePath();
    const QString mainPath = QVRBundlePaths::removingLastPathComponents(bundle, 4);
    if (!mainPath.isEmpty() && !QVRBundlePaths::isLoginItemBundlePath(bundle)) {
        // Outside that layout "four levels up" is some folder, often "/", which
        // any process's executable three levels up also gives: nothing runs
        // from it and nothing is started from it.
        logRelaunchFailure(mainPath, QStringLiteral("The launcher is not inside the application's "
                                                    "Contents/Library/LoginItems folder."));
        m_workspace.terminate();
        return;
    }
    bool running = false;
    for (const QString& path : m_workspace.runningApplicationBundlePaths()) {
        if (path == mainPath) {
            running = true;
            break;
        }
    }
    if (!running && !mainPath.isEmpty()) {
        QString error;
        if (!m_workspace.launchApplication(mainPath, &error))
            logRelaunchFailure(mainPath, error);
    }
    m_workspace.terminate();
}

bool QVRBundlePaths::isLoginItemBundlePath(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QStringList parts = QDir::cleanPath(path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    // <app>/Contents/Library/LoginItems/<launcher>, with a real folder as <app>.
    return parts.size() >= 5 && parts.at(parts.size() - 2) == QLatin1String("LoginItems") &&
           parts.at(parts.size() - 3) == QLatin1String("Library") &&
           parts.at(parts.size() - 4) == QLatin1String("Contents");
}

QString QVRBundlePaths::removingLastPathComponents(const QString& path, int count)
{
    if (path.isEmpty())
        return QString();
    QString result = QDir::cleanPath(path);
    for (int i = 0; i < count; ++i) {
        if (result == QLatin1String("/"))
            break;
        const qsizetype slash = result.lastIndexOf(QLatin1Char('/'));
        if (slash < 0) {
            result = QString();
            break;
        }
        result = slash == 0 ? QStringLiteral("/") : result.left(slash);
    }
    return result;
}

QString QVRBundlePaths::bundlePathForExecutable(const QString& executable)
{
    return removingLastPathComponents(executable, 3);
}

QString QVRBundlePaths::executableInBundle(const QString& bundlePath, const QString& fallbackName)
{
    QString name = fallbackName;
    QFile info(bundlePath + QStringLiteral("/Contents/Info.plist"));
    if (info.open(QIODevice::ReadOnly)) {
        const QString declared = platform::readPropertyList(info.readAll())
                                     .toMap()
                                     .value(QStringLiteral("CFBundleExecutable"))
                                     .toString();
        // A name, not a path: the bundle's Info.plist cannot point elsewhere.
        if (!declared.isEmpty() && !declared.contains(QLatin1Char('/')) && declared != QLatin1String("..") &&
            declared != QLatin1String("."))
            name = declared;
    }
    return bundlePath + QStringLiteral("/Contents/MacOS/") + name;
}

QVRSystemLauncherWorkspace::QVRSystemLauncherWorkspace(QString procRoot, QString ownExecutable)
    : m_procRoot(std::move(procRoot)), m_ownExecutable(std::move(ownExecutable))
{
}

QString QVRSystemLauncherWorkspace::mainBundlePath() const
{
    const QString executable = m_ownExecutable.isEmpty()
                                   ? QFileInfo(m_procRoot + QStringLiteral("/self/exe")).symLinkTarget()
                                   : m_ownExecutable;
    return QVRBundlePaths::bundlePathForExecutable(executable);
}

QList<QString> QVRSystemLauncherWorkspace::runningApplicationBundlePaths() const
{
    QList<QString> paths;
    const uid_t me = getuid();
    QDir proc(m_procRoot);
    QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    // Process order, as the platform lists its applications by launch.
    std::sort(entries.begin(), entries.end(),
              [](const QString& a, const QString& b) { return a.toLongLong() < b.toLongLong(); });
    for (const QString& entry : entries) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QString folder = proc.filePath(entry);
        struct stat st
        {
        };
        if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || st.st_uid != me)
            continue;
        // The link is already resolved; other users' and kernel threads'
        // links are unreadable and give nothing.
        const QString executable = QFileInfo(folder + QStringLiteral("/exe")).symLinkTarget();
        if (executable.isEmpty())
            continue;
        paths.append(QVRBundlePaths::bundlePathForExecutable(executable));
    }
    return paths;
}

bool QVRSystemLauncherWorkspace::launchApplication(const QString& bundlePath, QString* error)
{
    const QString executable = QVRBundlePaths::executableInBundle(bundlePath, QStringLiteral("Quillary"));
    const QFileInfo info(executable);
    if (!info.isFile() || !info.isExecutable()) {
        if (error)
            *error =
                QStringLiteral("The application \u201c%1\u201d could not be launched because it is not there "
                               "or not executable.")
                    .arg(executable);
        return false;
    }
    QProcess process;
    process.setProgram(executable);
    // Started from the home folder, as a session starts applications; a home
    // that is not there must not stop the launch.
    process.setWorkingDirectory(QFileInfo(QDir::homePath()).isDir() ? QDir::homePath() : QDir::rootPath());
    if (!process.startDetached()) {
        if (error)
            *error = process.errorString();
        return false;
    }
    return true;
}

void QVRSystemLauncherWorkspace::terminate()
{
    QCoreApplication::exit(0);
}
