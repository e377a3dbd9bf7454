#include "launcher/LoginItems.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace LoginItems {

QString autostartFilePath(const QString& bundleIdentifier)
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/") + bundleIdentifier + QStringLiteral(".desktop");
}

QString launcherExecutableForApplicationBundle(const QString& applicationBundle)
{
    return applicationBundle +
           QStringLiteral(
               "/Contents/Library/LoginItems/Quillary-Launcher.app/Contents/MacOS/Quillary-Launcher");
}

QString desktopExecArgument(const QString& argument)
{
    // Inside double quotes, ", `, $ and \ take a backslash. The file's own
    // string escaping then doubles every backslash, and % must be doubled
    // because it starts a field code.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    QString value;
    for (const QChar c : quoted) {
        if (c == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (c == QLatin1Char('%'))
            value += QStringLiteral("%%");
        else
            value += c;
    }
    return value;
}

bool setLoginItemEnabled(const QString& launcherExecutable, bool enabled, QString* error,
                         const QString& bundleIdentifier)
{
    const QString path = autostartFilePath(bundleIdentifier);
    if (!enabled) {
        QFile file(path);
        if (!file.exists() && !QFileInfo(path).isSymLink())
            return true;
        if (!file.remove()) {
            if (error)
                *error = file.errorString();
            return false;
        }
        return true;
    }
    const QFileInfo launcher(launcherExecutable);
    if (!launcher.isAbsolute() || !launcher.isFile() || !launcher.isExecutable()) {
        if (error)
            *error = QStringLiteral("No login item %1 at %2").arg(bundleIdentifier, launcherExecutable);
        return false;
    }
    for (const QChar c : launcherExecutable) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            if (error)
                *error = QStringLiteral("The launcher's path cannot be written into a desktop entry");
            return false;
        }
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error = QStringLiteral("Could not create %1").arg(QFileInfo(path).absolutePath());
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Quillary-Launcher\n"
                                         "Exec=%1\n"
                                         "NoDisplay=true\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(desktopExecArgument(launcherExecutable));
    file.write(entry.toUtf8());
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace LoginItems
