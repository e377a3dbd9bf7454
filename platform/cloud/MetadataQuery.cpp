#include "platform/cloud/MetadataQuery.h"

#include "platform/cloud/InotifyWatcher.h"
#include "platform/core/NotificationCenter.h"

#include <QFile>
#include <QTimer>
#include <QVariant>

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <algorithm>

namespace platform {

const QString MetadataQuery::DidFinishGatheringNotification =
    QStringLiteral("NSMetadataQueryDidFinishGatheringNotification");
const QString MetadataQuery::DidUpdateNotification = QStringLiteral("NSMetadataQueryDidUpdateNotification");
const QString MetadataQuery::AddedItemsKey = QStringLiteral("kMDQueryUpdateAddedItems");
const QString MetadataQuery::ChangedItemsKey = QStringLiteral("kMDQueryUpdateChangedItems");
const QString MetadataQuery::RemovedItemsKey = QStringLiteral("kMDQueryUpdateRemovedItems");

namespace {

constexpr std::uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                                        IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// Deeper trees are not a notes folder; the bound keeps a loop of bind mounts
// from recursing for ever.
constexpr int kMaxDepth = 32;

double seconds(const struct timespec& t)
{
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

QList<MetadataItem> sortedByPath(QList<MetadataItem> items)
{
    std::sort(items.begin(), items.end(),
              [](const MetadataItem& a, const MetadataItem& b) { return a.path < b.path; });
    return items;
}

} // namespace

MetadataQuery::MetadataQuery(QObject* parent) : QObject(parent)
{
    m_debounce = new QTimer(this);
    m_debounce->setSingleShot(true);
    m_debounce->setInterval(1000);
    connect(m_debounce, &QTimer::timeout, this, &MetadataQuery::rescan);
    // A folder that never falls quiet is still rescanned now and then.
    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    m_deadline->setInterval(10000);
    connect(m_deadline, &QTimer::timeout, this, &MetadataQuery::rescan);
}

MetadataQuery::~MetadataQuery() = default;

void MetadataQuery::setDebounceInterval(int milliseconds)
{
    m_debounce->setInterval(milliseconds);
    m_deadline->setInterval(std::max(milliseconds * 10, milliseconds + 1));
}

bool MetadataQuery::start()
{
    if (m_started)
        return true;
    if (m_searchPath.isEmpty())
        return false;
    struct stat st;
    if (::stat(QFile::encodeName(m_searchPath).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    m_watcher = new InotifyWatcher(this);
    if (!m_watcher->isValid() || m_watcher->addWatch(m_searchPath, kFolderEvents) < 0) {
        delete m_watcher;
        m_watcher = nullptr;
        return false;
    }
    connect(m_watcher, &InotifyWatcher::fileEvent, this,
            [this](int, quint32, const QString&) { changeSeen(); });
    m_started = true;
    QSet<QString> directories;
    m_snapshot = scan(&directories);
    watchDirectories(directories);
    // Gathering ends after start() has returned, as callers expect of a
    // query; a stop (or a stop and a new start) before then cancels it.
    const quint64 generation = ++m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (m_started && generation == m_generation)
                NotificationCenter::defaultCenter().post(DidFinishGatheringNotification, this);
        },
        Qt::QueuedConnection);
    return true;
}

void MetadataQuery::stop()
{
    if (!m_started)
        return;
    m_started = false;
    ++m_generation;
    m_debounce->stop();
    m_deadline->stop();
    delete m_watcher;
    m_watcher = nullptr;
    m_watches.clear();
    m_snapshot.clear();
}

QList<MetadataItem> MetadataQuery::results() const
{
    return sortedByPath(m_snapshot.values());
}

void MetadataQuery::changeSeen()
{
    if (!m_started)
        return;
    m_debounce->start();
    if (!m_deadline->isActive())
        m_deadline->start();
}

void MetadataQuery::rescan()
{
    m_debounce->stop();
    m_deadline->stop();
    if (!m_started)
        return;
    QSet<QString> directories;
    QHash<QString, MetadataItem> now = scan(&directories);
    watchDirectories(directories);

    QList<MetadataItem> added, changed, removed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        const auto previous = m_snapshot.constFind(it.key());
        if (previous == m_snapshot.cend())
            added.append(it.value());
        else if (previous->contentChangeDate != it->contentChangeDate || previous->size != it->size ||
                 previous->inode != it->inode)
            changed.append(it.value());
    }
    for (auto it = m_snapshot.cbegin(); it != m_snapshot.cend(); ++it)
        if (!now.contains(it.key()))
            removed.append(it.value());
    m_snapshot = std::move(now);
    if (added.isEmpty() && changed.isEmpty() && removed.isEmpty())
        return;
    QVariantMap info;
    info.insert(AddedItemsKey, QVariant::fromValue(sortedByPath(added)));
    info.insert(ChangedItemsKey, QVariant::fromValue(sortedByPath(changed)));
    info.insert(RemovedItemsKey, QVariant::fromValue(sortedByPath(removed)));
    NotificationCenter::defaultCenter().post(DidUpdateNotification, this, info);
}

QHash<QString, MetadataItem> MetadataQuery::scan(QSet<QString>* directories) const
{
    QHash<QString, MetadataItem> items;
    scanFolder(m_searchPath, 0, items, directories);
    return items;
}

void MetadataQuery::scanFolder(const QString& folder, int depth, QHash<QString, MetadataItem>& items,
                               QSet<QString>* directories) const
{
    if (depth > kMaxDepth)
        return;
    directories->insert(folder);
    const QByteArray native = QFile::encodeName(folder);
    DIR* dir = ::opendir(native.constData());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        // Dot-files are the temporary files of sync tools and of our own moves.
        if (entry->d_name[0] == '.')
            continue;
        struct stat st;
        // Symbolic links are not followed: a link must not lead the import to
        // files outside the folder, nor into a loop.
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        const QString path = folder + QLatin1Char('/') + name;
        if (S_ISDIR(st.st_mode)) {
            scanFolder(path, depth + 1, items, directories);
        } else if (S_ISREG(st.st_mode) && name.endsWith(m_suffix) && name.size() > m_suffix.size()) {
            MetadataItem item;
            item.path = path;
            item.fsName = name;
            item.contentChangeDate = seconds(st.st_mtim);
            item.size = st.st_size;
            item.inode = st.st_ino;
            items.insert(path, item);
        }
    }
    ::closedir(dir);
}

void MetadataQuery::watchDirectories(const QSet<QString>& directories)
{
    if (!m_watcher)
        return;
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (!directories.contains(it.key())) {
            m_watcher->removeWatch(it.value());
            it = m_watches.erase(it);
        } else {
            ++it;
        }
    }
    for (const QString& folder : directories)
        if (!m_watches.contains(folder)) {
            const int wd = m_watcher->addWatch(folder, kFolderEvents);
            if (wd >= 0)
                m_watches.insert(folder, wd);
        }
}

} // namespace platform
