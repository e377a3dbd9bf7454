#pragma once

#include <QString>
#include <QVariantMap>

#include <functional>
#include <optional>
#include <vector>

class QVRDataStore;

// The changes waiting for the web service: rows {uuid, cmd, query, date} in
// the store's root context. Every change is saved at once, so a queued change
// survives a crash during its request. Used on the main thread.
class QVRSyncQueue
{
public:
    explicit QVRSyncQueue(QVRDataStore* store) : m_store(store) {}

    std::vector<QVariantMap> items() const;
    // The row of that uuid, or empty.
    QVariantMap itemWithUUID(const QString& uuid) const;
    void insert(const QString& uuid, const QString& cmd, double date, const QString& query);
    // Deletes the rows `which` accepts, among those of `uuid` when given.
    void remove(const std::function<bool(const QVariantMap& row)>& which,
                const std::optional<QString>& uuid = std::nullopt);
    // For the log: the row holds the note's text but never a credential.
    static QString describe(const QVariantMap& row);

private:
    QVRDataStore* m_store;
};
