#include "tests/support/TemporaryProfile.h"

#include <QDir>
#include <QFile>

namespace testsupport {

TemporaryProfile::TemporaryProfile()
{
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        m_saved.emplace_back(name,
                             qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    }
    if (!m_dir.isValid())
        return;
    for (const QString& folder : {dataHome(), configHome(), cacheHome()})
        QDir().mkpath(folder);
    qputenv("HOME", QFile::encodeName(path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome()));
}

TemporaryProfile::~TemporaryProfile()
{
    for (const auto& [name, value] : m_saved) {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
}

QString TemporaryProfile::dataHome() const
{
    return filePath(QStringLiteral(".local/share"));
}

QString TemporaryProfile::configHome() const
{
    return filePath(QStringLiteral(".config"));
}

QString TemporaryProfile::cacheHome() const
{
    return filePath(QStringLiteral(".cache"));
}

} // namespace testsupport
