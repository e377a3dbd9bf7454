#pragma once

#include "platform/core/NotificationCenter.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariant>

#include <optional>

namespace platform {

class InotifyWatcher;

// A small dictionary shared by the user's machines: a property-list file in
// the cloud container that the sync tool carries like any other file. When
// another machine's copy arrives, the changed keys are posted as
// DidChangeExternallyNotification (sender: the store) with the reason and the
// changed keys. Without a cloud folder the values stay in a local file and
// nothing is ever posted. Values are read on first use and written at once
// (temporary file + rename). The accessors are thread-safe; the watching
// runs on the thread that created the store (the main thread).
class UbiquitousKeyValueStore : public QObject
{
    Q_OBJECT
public:
    enum ChangeReason
    {
        ServerChange = 0,
        InitialSyncChange = 1,
        QuotaViolationChange = 2,
        AccountChange = 3
    };

    static const QString DidChangeExternallyNotification;
    static const QString ChangeReasonKey;
    static const QString ChangedKeysKey;
    static const QString FileName; // "KeyValueStore.plist"

    // Follows the cloud folder: a change of identity moves it to the new
    // folder's file and posts AccountChange for the keys that differ.
    static UbiquitousKeyValueStore& defaultStore();

    // A store over one file; watch says whether to watch it for changes made
    // by others. An empty path uses the default location.
    explicit UbiquitousKeyValueStore(const QString& filePath = QString(), bool watch = true,
                                     QObject* parent = nullptr);
    ~UbiquitousKeyValueStore() override;

    QString filePath() const;

    QVariant object(const QString& key) const;
    QString string(const QString& key) const; // empty when absent or not a string
    QVariantMap dictionaryRepresentation() const;
    void set(const QString& key, const QVariant& value);
    void remove(const QString& key);
    // Rereads the file and posts what others changed; true when the file was
    // readable (or absent).
    bool synchronize();

    // Points the store at another file (the account changed).
    void setFilePath(const QString& filePath, bool watch);

private:
    void ensureLoaded() const;
    bool readFile(QVariantMap* values) const;
    bool writeFile(const QVariantMap& values) const;
    void rearmWatch();
    void reload(int reason);
    void followIdentity();

    mutable QMutex m_mutex;
    QString m_path;
    bool m_watch = true;
    mutable bool m_loaded = false;
    mutable QVariantMap m_values;
    InotifyWatcher* m_watcher = nullptr;
    int m_folderWatch = -1;
    bool m_followsIdentity = false;
    std::optional<ObserverToken> m_identityObserver;
};

// Where the default store keeps its file: the container when there is a cloud
// folder, else the application's data folder (then never watched).
QString defaultKeyValueStorePath(bool* inCloud = nullptr);

} // namespace platform
