#include "platform/core/Paths.h"

#include <QDir>

namespace platform {
namespace {
QString xdgFolder(const char* variable, const char* fallbackUnderHome)
{
    const QString value = qEnvironmentVariable(variable);
    // The XDG rules say a relative value is invalid and must be ignored.
    QString base = (!value.isEmpty() && QDir::isAbsolutePath(value))
                       ? value
                       : QDir::homePath() + QLatin1Char('/') + QLatin1String(fallbackUnderHome);
    const QString folder = QDir::cleanPath(base + QLatin1String("/Quillary"));
    QDir().mkpath(folder);
    return folder;
}
} // namespace

QString applicationDataDirectory()
{
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}
QString cacheDirectory()
{
    return xdgFolder("XDG_CACHE_HOME", ".cache");
}
QString configDirectory()
{
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

} // namespace platform
