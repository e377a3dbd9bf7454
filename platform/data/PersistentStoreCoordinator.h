#pragma once

#include "platform/core/Error.h"
#include "platform/data/ManagedObjectModel.h"
#include "platform/data/ObjectID.h"
#include "platform/data/SearchIndex.h"

#include <QString>
#include <QVariantMap>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace platform {

class Predicate;

// One row as read from the file.
struct StoredRow
{
    ObjectID objectID;
    QVariantMap values;
    qint64 version = 0;
    QStringList unread = {}; // stored keys the fetch left unread
    // Instead of `values`, when not empty: one value per attribute of the
    // entity, in its order (an invalid variant where there is none).
    std::vector<QVariant> slotValues = {};
};

// The changes of one save, written in one transaction.
struct StoreChanges
{
    struct Row
    {
        ObjectID objectID;
        QVariantMap values;     // inserts: every value; updates: the changed keys
        QVariantMap fullValues; // updates: every value the writer knows (a vanished row is written again)
    };
    std::vector<Row> inserted;
    std::vector<Row> updated;
    std::vector<ObjectID> deleted;
};

// The SQLite file under a root context. All members are thread-safe: they take
// the coordinator's own lock, which is the innermost lock of the whole layer.
class PersistentStoreCoordinator
{
public:
    explicit PersistentStoreCoordinator(std::shared_ptr<const ManagedObjectModel> model);
    ~PersistentStoreCoordinator();
    PersistentStoreCoordinator(const PersistentStoreCoordinator&) = delete;
    PersistentStoreCoordinator& operator=(const PersistentStoreCoordinator&) = delete;

    // Opens (or creates) the file and brings its schema to the model's
    // version. A file that is not a database, is of a newer version or fails
    // to migrate is left exactly as it was.
    bool open(const QString& path, Error* error = nullptr);
    bool isOpen() const;
    QString path() const { return m_path; }
    const ManagedObjectModel& model() const { return *m_model; }
    std::shared_ptr<const ManagedObjectModel> sharedModel() const { return m_model; }

    // How long a write waits for another process's lock (5 s by default).
    void setBusyTimeout(int milliseconds);

    // A key no other writer of the file is handed, in this process or any
    // other: keys are reserved from the file in small ranges, each range in a
    // write transaction of its own.
    ObjectID newObjectID(const QString& entity);

    // `deferredKeys` are stored keys left unread (each row names them in
    // `unread`); `firstLines` are filled in SQL from the texts, which stay in
    // the file. With `keys`, only the rows with those keys are read. With
    // `asSlots`, rows that keep no snapshot come in StoredRow::slotValues (a
    // context making objects of many rows: far fewer allocations).
    std::optional<std::vector<StoredRow>> fetchRows(const QString& entity, const Predicate* predicate,
                                                    Error* error, const QStringList& deferredKeys = {},
                                                    const std::vector<FirstLineKey>& firstLines = {},
                                                    const std::vector<qint64>* keys = nullptr,
                                                    bool asSlots = false);
    // The keys of the rows the predicate matches, in key order, without
    // their values; with a range, only the keys from its first to its second.
    std::optional<std::vector<qint64>> fetchKeys(const QString& entity, const Predicate* predicate,
                                                 Error* error,
                                                 std::optional<std::pair<qint64, qint64>> keyRange = {});
    std::optional<qint64> countRows(const QString& entity, const Predicate* predicate, Error* error);
    // The values of one row: from the snapshot cache when younger than
    // `staleness` seconds (negative = any age), otherwise from the file.
    // Empty when the row is gone. Rows of an entity that a fetch read with
    // keys left unread have no snapshots from then on: they are read from
    // the file each time, so that what was read on demand lives only as long
    // as the objects holding it.
    std::optional<QVariantMap> rowValues(const ObjectID& id, double staleness);

    // Writes every change in one transaction. Updates write only the changed
    // columns over what is in the file (in-memory values win per property);
    // an update of a row that is gone writes the whole row again.
    bool write(const StoreChanges& changes, Error* error);

    // Blocks until the search index has no row left to index, at most
    // `timeoutMs`; true when it has none (also when nothing is indexed).
    bool waitForSearchIndex(int timeoutMs);

    // For tests and tools: the raw connection (use under no context lock).
    sqlite3* handle() const { return m_db; }

private:
    struct Snapshot
    {
        QVariantMap values;
        qint64 version = 0;
        double readAt = 0;
    };
    bool migrate(int fromVersion, Error* error);
    bool exec(const QString& sql, Error* error);
    Error sqliteError(const QString& what) const;
    // The entity to read, or null with `error` set when there is no such
    // entity or no open file. Under m_mutex.
    const EntityDescription* readableEntity(const QString& name, Error* error) const;
    // The search index whose copied columns hold every one of `attributes`
    // of the entity, if any.
    const SearchIndex::Names* copiedColumns(const QString& entityName,
                                            const std::vector<const AttributeDescription*>& attributes) const;
    // One column's value as `attribute` holds it; invalid for NULL.
    static QVariant columnValue(const AttributeDescription& attribute, void* statement, int column);
    QVariantMap readValues(const std::vector<const AttributeDescription*>& attributes, void* statement,
                           int firstColumn) const;
    // One try of open(), under m_mutex.
    bool openOnce(const QString& path, Error* error);
    qint64 largestKey(const QString& entity) const;
    qint64 reservedKey(const QString& entity) const; // the next free key; -1 when unreadable
    // Reserves a range of keys from `floor` or later (keys below it were
    // handed out already).
    bool reserveKeys(const QString& entity, qint64 floor, qint64* first, qint64* end);
    // A prepared statement for `sql`, kept for the next fetch of the same
    // shape (a sync sends thousands of requests, each fetching its queue row
    // by uuid); null when it cannot be prepared. Under m_mutex.
    sqlite3_stmt* cachedStatement(const QByteArray& sql);
    void finalizeCachedStatements();

    std::shared_ptr<const ManagedObjectModel> m_model;
    QString m_path;
    sqlite3* m_db = nullptr;
    mutable std::mutex m_mutex;
    struct KeyRange
    {
        qint64 next = 0;
        qint64 end = 0; // one past the last key reserved
    };
    std::map<QString, KeyRange> m_keyRanges;
    std::map<ObjectID, Snapshot> m_snapshots;
    std::set<QString> m_readOnDemand;       // entities without snapshots
    std::map<QString, QByteArray> m_rowSql; // reads one row by key, per entity
    std::map<QByteArray, sqlite3_stmt*> m_fetchStatements;
    // The attributes the file's search index holds, and the thread that
    // indexes what saves left (see SearchIndex).
    std::vector<SearchIndex::Names> m_searchIndexes;
    std::vector<std::unique_ptr<SearchIndex::Builder>> m_searchBuilders;
    int m_busyTimeout = 5000;
    // One batch of a builder, on this connection when it is free.
    std::optional<qint64> indexPendingRows(const SearchIndex::Names& names, bool* busy);
};

} // namespace platform
