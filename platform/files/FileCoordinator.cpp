#include "platform/files/FileCoordinator.h"

#include <QDir>
#include <QFileInfo>

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

QString canonical(const QString& path)
{
    const QFileInfo info(path);
    // The folder is resolved (it usually exists); the name is kept, because
    // the file itself may not exist yet or may be a link we replace.
    const QString folder = info.absoluteDir().canonicalPath();
    if (folder.isEmpty())
        return QDir::cleanPath(info.absoluteFilePath());
    return folder + QLatin1Char('/') + info.fileName();
}
} // namespace

FileCoordinator::Access::Access(QString path, std::shared_ptr<std::mutex> mutex)
    : m_path(std::move(path)), m_mutex(std::move(mutex))
{
    if (m_mutex)
        m_mutex->lock();
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
    const QString key = canonical(path);
    std::shared_ptr<std::mutex> mutex;
    {
        std::lock_guard lock(gTableMutex);
        auto& entries = table();
        auto& slot = entries[key.toStdString()];
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
    return Access(path, std::move(mutex));
}

} // namespace platform
