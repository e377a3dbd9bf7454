#pragma once

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QString>

class QTimer;

namespace platform {

class InotifyWatcher;

// One file the query found. Files of a sync tool are always local, so every
// item is current and none is downloading.
struct MetadataItem
{
    QString path;
    QString fsName;
    double contentChangeDate = 0; // seconds since 1970, with nanoseconds
    qint64 size = 0;
    quint64 inode = 0;
    bool isCurrent = true;
    bool isDownloading = false;
};

// Watches a folder tree for files whose name ends with a suffix. start() scans
// the tree and, once control is back in the event loop, posts
// DidFinishGathering; afterwards every change in any
// folder of the tree, once things have been quiet for the debounce interval,
// leads to a rescan whose differences from the last one are posted as
// DidUpdate with the added, changed and removed items (as
// QVariant::fromValue(QList<MetadataItem>)). The notices are posted through
// NotificationCenter with the query as sender. Lives on the main thread.
//
// The debounce matters: a sync tool that writes a file in place and sets its
// time afterwards would otherwise be reported with a transient "now".
class MetadataQuery : public QObject
{
    Q_OBJECT
public:
    static const QString DidFinishGatheringNotification;
    static const QString DidUpdateNotification;
    static const QString AddedItemsKey;
    static const QString ChangedItemsKey;
    static const QString RemovedItemsKey;

    explicit MetadataQuery(QObject* parent = nullptr);
    ~MetadataQuery() override;

    void setSearchPath(const QString& path) { m_searchPath = path; }
    QString searchPath() const { return m_searchPath; }
    // Names are matched case-sensitively, as LIKE does ("*.quillary").
    void setNameSuffix(const QString& suffix) { m_suffix = suffix; }
    void setDebounceInterval(int milliseconds);

    // False when the folder does not exist or cannot be watched.
    bool start();
    void stop();
    bool isStarted() const { return m_started; }

    QList<MetadataItem> results() const;
    int resultCount() const { return int(m_snapshot.size()); }

    // Rescans at once (what the debounce timer does when it fires).
    void rescan();

private:
    QHash<QString, MetadataItem> scan(QSet<QString>* directories) const;
    void scanFolder(const QString& folder, int depth, QHash<QString, MetadataItem>& items,
                    QSet<QString>* directories) const;
    void watchDirectories(const QSet<QString>& directories);
    void changeSeen();

    QString m_searchPath;
    QString m_suffix = QStringLiteral(".quillary");
    bool m_started = false;
    quint64 m_generation = 0;
    QHash<QString, MetadataItem> m_snapshot;
    QHash<QString, int> m_watches; // folder -> watch descriptor
    InotifyWatcher* m_watcher = nullptr;
    QTimer* m_debounce = nullptr;
    QTimer* m_deadline = nullptr;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::MetadataItem)
Q_DECLARE_METATYPE(QList<platform::MetadataItem>)
