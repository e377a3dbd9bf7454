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

void AppDelegate::applicationDidFinishLaunching() {
    // The launcher sits at <app>/Contents/Library/LoginItems/<launcher>.
    const QString mainPath = QVRBundlePaths::removingLastPathComponents(m_workspace.mainBundlePath(), 4);
    bool running = false;
    for (const QString& path : m_workspace.runningApplicationBundlePaths()) {
        if (path == mainPath) {
            running = true;
            break;
        }
    }
    if (!running && !mainPath.isEmpty()) {
        QString error;
        if (!m_workspace.launchApplication(mainPath, &error)) {
            const QString url = QUrl::fromLocalFile(mainPath).toString() + QLatin1Char('/');
            platform::log(QStringLiteral("Couldn't relaunch app: %1 Error: %2, %3").arg(url, error, QStringLiteral("{}")));
        }
    }
    m_workspace.terminate();
}

QString QVRBundlePaths::removingLastPathComponents(const QString& path, int count) {
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

QString QVRBundlePaths::bundlePathForExecutable(const QString& executable) {
    return removingLastPathComponents(executable, 3);
}

QString QVRBundlePaths::executableInBundle(const QString& bundlePath, const QString& fallbackName) {
    QString name = fallbackName;
    QFile info(bundlePath + QStringLiteral("/Contents/Info.plist"));
    if (info.open(QIODevice::ReadOnly)) {
        const QString declared =
            platform::readPropertyList(info.readAll()).toMap().value(QStringLiteral("CFBundleExecutable")).toString();
        // A name, not a path: the bundle's Info.plist cannot point elsewhere.
        if (!declared.isEmpty() && !declared.contains(QLatin1Char('/')) && declared != QLatin1String("..")
            && declared != QLatin1String("."))
            name = declared;
    }
    return bundlePath + QStringLiteral("/Contents/MacOS/") + name;
}

QVRSystemLauncherWorkspace::QVRSystemLauncherWorkspace(QString procRoot, QString ownExecutable)
    : m_procRoot(std::move(procRoot)), m_ownExecutable(std::move(ownExecutable)) {}

QString QVRSystemLauncherWorkspace::mainBundlePath() const {
    const QString executable = m_ownExecutable.isEmpty()
                                   ? QFileInfo(m_procRoot + QStringLiteral("/self/exe")).symLinkTarget()
                                   : m_ownExecutable;
    return QVRBundlePaths::bundlePathForExecutable(executable);
}

QList<QString> QVRSystemLauncherWorkspace::runningApplicationBundlePaths() const {
    QList<QString> paths;
    const uid_t me = getuid();
    QDir proc(m_procRoot);
    QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    // Process order, as the platform lists its applications by launch.
    std::sort(entries.begin(), entries.end(), [](const QString& a, const QString& b) {
        return a.toLongLong() < b.toLongLong();
    });
    for (const QString& entry : entries) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QString folder = proc.filePath(entry);
        struct stat st {};
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

bool QVRSystemLauncherWorkspace::launchApplication(const QString& bundlePath, QString* error) {
    const QString executable = QVRBundlePaths::executableInBundle(bundlePath, QStringLiteral("Quillary"));
    const QFileInfo info(executable);
    if (!info.isFile() || !info.isExecutable()) {
        if (error)
            *error = QStringLiteral("The application \u201c%1\u201d could not be launched because it is not there "
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

void QVRSystemLauncherWorkspace::terminate() { QCoreApplication::exit(0); }
