#include "platform/cloud/InotifyWatcher.h"

#include <QFile>
#include <QSocketNotifier>

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

InotifyWatcher::InotifyWatcher(QObject* parent) : QObject(parent)
{
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InotifyWatcher::readEvents);
}

InotifyWatcher::~InotifyWatcher()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_fd >= 0)
        ::close(m_fd);
}

int InotifyWatcher::addWatch(const QString& path, std::uint32_t mask)
{
    if (m_fd < 0 || path.isEmpty())
        return -1;
    const QByteArray native = QFile::encodeName(path);
    const int wd = inotify_add_watch(m_fd, native.constData(), mask);
    if (wd >= 0)
        m_paths.insert(wd, path);
    return wd;
}

void InotifyWatcher::removeWatch(int wd)
{
    if (m_fd < 0 || !m_paths.contains(wd))
        return;
    inotify_rm_watch(m_fd, wd);
    m_paths.remove(wd);
}

void InotifyWatcher::removeAllWatches()
{
    const auto wds = m_paths.keys();
    for (int wd : wds)
        removeWatch(wd);
}

void InotifyWatcher::readEvents()
{
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0) {
            if (length < 0 && errno == EINTR)
                continue;
            return;
        }
        ssize_t offset = 0;
        while (offset + ssize_t(sizeof(inotify_event)) <= length) {
            inotify_event event;
            std::memcpy(&event, buffer + offset, sizeof event);
            const char* nameStart = buffer + offset + sizeof(inotify_event);
            offset += ssize_t(sizeof(inotify_event) + event.len);
            if (offset > length)
                break;
            QString name;
            if (event.len > 0)
                name = QFile::decodeName(QByteArray(nameStart, int(strnlen(nameStart, event.len))));
            if (event.mask & IN_Q_OVERFLOW) {
                emit fileEvent(-1, event.mask, QString());
                continue;
            }
            if (event.mask & IN_IGNORED) {
                // The kernel dropped the watch (path deleted or unmounted).
                m_paths.remove(event.wd);
            }
            emit fileEvent(event.wd, event.mask, name);
        }
    }
}

} // namespace platform
