#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <optional>
#include <utility>
#include <vector>

namespace testsupport {

// A home folder of its own (HOME and the XDG data, config and cache folders)
// under a temporary directory, set in the environment while it lives. The
// previous values come back afterwards, also any the test set meanwhile.
// Settings already opened (UserDefaults::standard()) keep their file.
class TemporaryProfile
{
public:
    TemporaryProfile();
    ~TemporaryProfile();
    TemporaryProfile(const TemporaryProfile&) = delete;
    TemporaryProfile& operator=(const TemporaryProfile&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); } // HOME
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    QString dataHome() const;
    QString configHome() const;
    QString cacheHome() const;

private:
    QTemporaryDir m_dir;
    std::vector<std::pair<const char*, std::optional<QByteArray>>> m_saved;
};

} // namespace testsupport
