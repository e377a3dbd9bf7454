#include "platform/files/FileCoordinator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <unordered_map>

namespace platform {

namespace {
std::mutex gTableMutex;
// Weak entries: a lock lives while someone holds or waits for it.
std::unordered_map<std::string, std::weak_ptr<std::mutex>>& table()
{
    static auto* t = new std::unordered_map<std::string, std::weak_ptr<std::mutex>>();
    return *t;
}

// The key of a path's lock. The folder is known by its identity on disk (it
// usually exists), so every spelling of it, through links or not, gives one
// key; the name is kept as it is, because the file itself may not exist yet
// or may be a link we replace.
std::string lockKey(const QString& path)
{
    const QFileInfo info(path);
    const QString absolute = info.absoluteFilePath();
    const qsizetype slash = absolute.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash > 0 ? absolute.left(slash) : QStringLiteral("/");
    const QByteArray name = QFile::encodeName(info.fileName());
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return QFile::encodeName(QDir::cleanPath(absolute)).toStdString();
    return std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + '/' + name.toStdString();
}
} // namespace

FileCoordinator::Access::Access(QString path, std::shared_ptr<std::mutex> mutex, bool tryOnly)
    : m_path(std::move(path)), m_mutex(std::move(mutex))
{
    if (!m_mutex)
        return;
    if (!tryOnly)
        m_mutex->lock();
    else if (!m_mutex->try_lock())
        m_mutex.reset();
}

FileCoordinator::Access::~Access()
{
    if (m_mutex)
        m_mutex->unlock();
}

FileCoordinator::Access FileCoordinator::coordinate(const QString& path)
{
    if (path.isEmpty())
        return Access(QString(), nullptr);
    return Access(path, lockFor(path));
}

std::optional<FileCoordinator::Access> FileCoordinator::tryCoordinate(const QString& path)
{
    if (path.isEmpty())
        return Access(QString(), nullptr);
    Access access(path, lockFor(path), true);
    if (!access.m_mutex)
        return std::nullopt;
    return access;
}

std::shared_ptr<std::mutex> FileCoordinator::lockFor(const QString& path)
{
    const std::string key = lockKey(path);
    std::shared_ptr<std::mutex> mutex;
    {
        std::lock_guard lock(gTableMutex);
        auto& entries = table();
        auto& slot = entries[key];
        mutex = slot.lock();
        if (!mutex) {
            mutex = std::make_shared<std::mutex>();
            slot = mutex;
        }
        // Forget the locks nobody holds any more, now and then.
        if (entries.size() > 256) {
            for (auto it = entries.begin(); it != entries.end();)
                it = it->second.expired() ? entries.erase(it) : std::next(it);
        }
    }
    return mutex;
}

} // namespace platform
