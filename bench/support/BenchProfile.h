#pragma once

// A benchmark never runs in the user's own profile: HOME and the XDG folders
// point into a folder of its own, a scratch one or one given to it.

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <utility>
#include <vector>

namespace bench {

// The variables that place a profile at `root` (an absolute folder).
inline std::vector<std::pair<QByteArray, QString>> profileVariables(const QString& root)
{
    return {{"HOME", root},
            {"XDG_CONFIG_HOME", root + QStringLiteral("/.config")},
            {"XDG_DATA_HOME", root + QStringLiteral("/.local/share")},
            {"XDG_CACHE_HOME", root + QStringLiteral("/.cache")},
            {"XDG_STATE_HOME", root + QStringLiteral("/.local/state")}};
}

// Makes `dir` this process's profile. A relative folder is taken from the
// current one: Qt ignores a relative XDG folder and would fall back to the
// user's. Returns the absolute folder, or an empty string when it cannot be
// made.
inline QString useProfile(const QString& dir)
{
    if (dir.isEmpty())
        return {};
    const QString root = QDir::cleanPath(QDir(dir).absolutePath());
    for (const auto& [variable, folder] : profileVariables(root)) {
        if (!QDir().mkpath(folder))
            return {};
        qputenv(variable.constData(), folder.toUtf8());
    }
    return root;
}

// A scratch profile for the whole run, removed at its end.
class ScratchProfile
{
public:
    ScratchProfile() : m_root(m_dir.isValid() ? useProfile(m_dir.path()) : QString()) {}
    QString path() const { return m_root; }

private:
    QTemporaryDir m_dir;
    QString m_root;
};

} // namespace bench
