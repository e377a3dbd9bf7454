#pragma once

#include <QString>

// Start-at-login through the desktop's autostart folder: an entry there makes
// the session start the launcher when the user logs in.
namespace LoginItems {

inline const QString launcherBundleIdentifier = QStringLiteral("com.quorvane.Quillary-Launcher");

// $XDG_CONFIG_HOME/autostart/<identifier>.desktop (~/.config when unset).
QString autostartFilePath(const QString& bundleIdentifier = launcherBundleIdentifier);

// The launcher inside the installed application bundle beside this program:
// <app>/Contents/Library/LoginItems/Quillary-Launcher.app/Contents/MacOS/Quillary-Launcher.
QString launcherExecutableForApplicationBundle(const QString& applicationBundle);

// One argument of an Exec line, quoted and escaped as desktop entries want
// it (ready to be written into the file).
QString desktopExecArgument(const QString& argument);

// Writes (enabled) or removes (disabled) the autostart entry that runs
// `launcherExecutable`. A missing launcher, a path that cannot be written as
// one line, or a write or removal failure gives false and `error`; removing
// an absent entry succeeds.
bool setLoginItemEnabled(const QString& launcherExecutable, bool enabled, QString* error = nullptr,
                         const QString& bundleIdentifier = launcherBundleIdentifier);

} // namespace LoginItems
