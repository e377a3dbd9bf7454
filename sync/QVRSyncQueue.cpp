#include "sync/QVRSyncQueue.h"

#include "platform/core/Log.h"
#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectContext.h"
#include "store/QVRDataStore.h"
#include "store/Queue.h"

namespace {

QVariantMap rowOf(platform::ManagedObject* object)
{
    return {{QStringLiteral("uuid"), object->value(QStringLiteral("uuid"))},
            {QStringLiteral("cmd"), object->value(QStringLiteral("cmd"))},
            {QStringLiteral("query"), object->value(QStringLiteral("query"))},
            {QStringLiteral("date"), object->value(QStringLiteral("date"))}};
}

} // namespace

std::vector<QVariantMap> QVRSyncQueue::items() const
{
    std::vector<QVariantMap> rows;
    if (!m_store)
        return rows;
    platform::ManagedObjectContext* context = m_store->context();
    context->performAndWait([&] {
        platform::FetchRequest request;
        request.entityName = QVRQueueEntityName;
        platform::Error error;
        const auto objects = context->fetch(request, &error);
        if (!error.domain.isEmpty()) {
            platform::log(QStringLiteral("Error getting queue items: %1, %2")
                              .arg(error.localizedDescription, QStringLiteral("{}")));
            return;
        }
        for (platform::ManagedObject* object : objects)
            rows.push_back(rowOf(object));
    });
    return rows;
}

QVariantMap QVRSyncQueue::itemWithUUID(const QString& uuid) const
{
    QVariantMap row;
    if (uuid.isNull() || !m_store)
        return row;
    platform::ManagedObjectContext* context = m_store->context();
    context->performAndWait([&] {
        platform::Error error;
        const auto objects = QVRDataStore::objectsWithUUID(context, QVRQueueEntityName, uuid, 1, &error);
        if (!error.domain.isEmpty()) {
            platform::log(QStringLiteral("Error getting queue item: %1, %2")
                              .arg(error.localizedDescription, QStringLiteral("{}")));
            return;
        }
        if (!objects.empty())
            row = rowOf(objects.front());
    });
    return row;
}

void QVRSyncQueue::insert(const QString& uuid, const QString& cmd, double date, const QString& query)
{
    if (!m_store)
        return;
    platform::ManagedObjectContext* context = m_store->context();
    context->performAndWait([&] {
        platform::ManagedObject* row = context->insert(QVRQueueEntityName);
        row->setValue(QStringLiteral("uuid"), uuid);
        row->setValue(QStringLiteral("cmd"), cmd);
        row->setValue(QStringLiteral("date"), date);
        row->setValue(QStringLiteral("query"), query);
        platform::Error error;
        if (!context->save(&error))
            platform::log(QStringLiteral("Error saving queue: %1").arg(error.localizedDescription));
    });
}

void QVRSyncQueue::remove(const std::function<bool(const QVariantMap& row)>& which,
                          const std::optional<QString>& uuid)
{
    if (!m_store)
        return;
    platform::ManagedObjectContext* context = m_store->context();
    context->performAndWait([&] {
        platform::Error error;
        std::vector<platform::ManagedObject*> objects;
        if (uuid) {
            objects = QVRDataStore::objectsWithUUID(context, QVRQueueEntityName, *uuid, 0, &error);
        } else {
            platform::FetchRequest request;
            request.entityName = QVRQueueEntityName;
            objects = context->fetch(request, &error);
        }
        bool changed = false;
        for (platform::ManagedObject* object : objects) {
            if (which(rowOf(object))) {
                context->remove(object);
                changed = true;
            }
        }
        // Saved at once: unsaved deletions make every later fetch of the
        // context slower.
        if (changed && !context->save(&error))
            platform::log(QStringLiteral("Error saving queue: %1").arg(error.localizedDescription));
    });
}

QString QVRSyncQueue::describe(const QVariantMap& row)
{
    if (row.isEmpty())
        return QStringLiteral("(null)");
    return QStringLiteral("{cmd = %1; uuid = %2; date = %3; query = %4}")
        .arg(row.value(QStringLiteral("cmd")).toString(), row.value(QStringLiteral("uuid")).toString(),
             QString::number(row.value(QStringLiteral("date")).toDouble(), 'f', 6),
             row.value(QStringLiteral("query")).toString());
}
