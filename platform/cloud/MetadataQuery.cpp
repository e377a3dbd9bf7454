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

const QString MetadataQuery::DidFinishGatheringNotification = QStringLiteral("NSMetadataQueryDidFinishGatheringNotification");
const QString MetadataQuery::DidUpdateNotification = QStringLiteral("NSMetadataQueryDidUpdateNotification");
const QString MetadataQuery::AddedItemsKey = QStringLiteral("kMDQueryUpdateAddedItems");
const QString MetadataQuery::ChangedItemsKey = QStringLiteral("kMDQueryUpdateChangedItems");
const QString MetadataQuery::RemovedItemsKey = QStringLiteral("kMDQueryUpdateRemovedItems");

namespace {

constexpr std::uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ATTRIB
                                        | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// Deeper trees are not a notes folder; the bound keeps a loop of bind mounts
// from recursing for ever.
constexpr int kMaxDepth = 32;

double seconds(const struct timespec& t)
{
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

QList<MetadataItem> sortedByPath(QList<MetadataItem> items)
{
    std::sort(items.begin(), items.end(), [](const MetadataItem& a, const MetadataItem& b) { return a.path < b.path; });
    return items;
}

} // namespace

MetadataQuery::MetadataQuery(QObject* parent) : QObject(parent)
{
    debounce_ = new QTimer(this);
    debounce_->setSingleShot(true);
    debounce_->setInterval(1000);
    connect(debounce_, &QTimer::timeout, this, &MetadataQuery::rescan);
    // A folder that never falls quiet is still rescanned now and then.
    deadline_ = new QTimer(this);
    deadline_->setSingleShot(true);
    deadline_->setInterval(10000);
    connect(deadline_, &QTimer::timeout, this, &MetadataQuery::rescan);
}

MetadataQuery::~MetadataQuery() = default;

void MetadataQuery::setDebounceInterval(int milliseconds)
{
    debounce_->setInterval(milliseconds);
    deadline_->setInterval(std::max(milliseconds * 10, milliseconds + 1));
}

bool MetadataQuery::start()
{
    if (started_)
        return true;
    if (searchPath_.isEmpty())
        return false;
    struct stat st;
    if (::stat(QFile::encodeName(searchPath_).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    watcher_ = new InotifyWatcher(this);
    if (!watcher_->isValid() || watcher_->addWatch(searchPath_, kFolderEvents) < 0) {
        delete watcher_;
        watcher_ = nullptr;
        return false;
    }
    connect(watcher_, &InotifyWatcher::fileEvent, this, [this](int, quint32, const QString&) { changeSeen(); });
    started_ = true;
    QSet<QString> directories;
    snapshot_ = scan(&directories);
    watchDirectories(directories);
    // Gathering ends after start() has returned, as callers expect of a
    // query; a stop (or a stop and a new start) before then cancels it.
    const quint64 generation = ++generation_;
    QMetaObject::invokeMethod(this, [this, generation] {
        if (started_ && generation == generation_)
            NotificationCenter::defaultCenter().post(DidFinishGatheringNotification, this);
    }, Qt::QueuedConnection);
    return true;
}

void MetadataQuery::stop()
{
    if (!started_)
        return;
    started_ = false;
    ++generation_;
    debounce_->stop();
    deadline_->stop();
    delete watcher_;
    watcher_ = nullptr;
    watches_.clear();
    snapshot_.clear();
}

QList<MetadataItem> MetadataQuery::results() const
{
    return sortedByPath(snapshot_.values());
}

void MetadataQuery::changeSeen()
{
    if (!started_)
        return;
    debounce_->start();
    if (!deadline_->isActive())
        deadline_->start();
}

void MetadataQuery::rescan()
{
    debounce_->stop();
    deadline_->stop();
    if (!started_)
        return;
    QSet<QString> directories;
    QHash<QString, MetadataItem> now = scan(&directories);
    watchDirectories(directories);

    QList<MetadataItem> added, changed, removed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        const auto previous = snapshot_.constFind(it.key());
        if (previous == snapshot_.cend())
            added.append(it.value());
        else if (previous->contentChangeDate != it->contentChangeDate || previous->size != it->size
                 || previous->inode != it->inode)
            changed.append(it.value());
    }
    for (auto it = snapshot_.cbegin(); it != snapshot_.cend(); ++it)
        if (!now.contains(it.key()))
            removed.append(it.value());
    snapshot_ = std::move(now);
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
    scanFolder(searchPath_, 0, items, directories);
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
        } else if (S_ISREG(st.st_mode) && name.endsWith(suffix_) && name.size() > suffix_.size()) {
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
    if (!watcher_)
        return;
    for (auto it = watches_.begin(); it != watches_.end();) {
        if (!directories.contains(it.key())) {
            watcher_->removeWatch(it.value());
            it = watches_.erase(it);
        } else {
            ++it;
        }
    }
    for (const QString& folder : directories)
        if (!watches_.contains(folder)) {
            const int wd = watcher_->addWatch(folder, kFolderEvents);
            if (wd >= 0)
                watches_.insert(folder, wd);
        }
}

} // namespace platform
