#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <cstdint>

class QSocketNotifier;

namespace platform {

// A thin wrapper over one inotify descriptor, delivering its events on the
// thread that owns the watcher. QFileSystemWatcher is not enough for the cloud
// folder: it does not report a file rewritten in place, and watching every file
// would cost one kernel watch per note.
class InotifyWatcher : public QObject
{
    Q_OBJECT
public:
    explicit InotifyWatcher(QObject* parent = nullptr);
    ~InotifyWatcher() override;

    bool isValid() const { return m_fd >= 0; }

    // Returns the watch descriptor, or -1 when the path cannot be watched.
    // Watching a path twice returns the same descriptor with the new mask.
    int addWatch(const QString& path, std::uint32_t mask);
    void removeWatch(int wd);
    void removeAllWatches();
    QString pathForWatch(int wd) const { return m_paths.value(wd); }
    int watchCount() const { return int(m_paths.size()); }

signals:
    // name is empty for events on the watched path itself. wd is -1 for a
    // queue overflow, after which a caller must assume anything changed.
    void fileEvent(int wd, quint32 mask, const QString& name);

private:
    void readEvents();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QHash<int, QString> m_paths;
};

} // namespace platform
