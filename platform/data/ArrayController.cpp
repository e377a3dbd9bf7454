#include "platform/data/ArrayController.h"

#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/data/ManagedObjectModel.h"
#include "platform/predicate/Predicate.h"

#include <algorithm>
#include <unordered_set>

namespace platform {

ArrayController::ArrayController() = default;
ArrayController::~ArrayController() = default;

void ArrayController::setContext(ManagedObjectContext* context)
{
    m_context = context;
    m_observer.reset();
    if (context) {
        m_observer = NotificationCenter::defaultCenter().addObserver(
            ContextObjectsDidChangeNotification, context, [this](const Notification& n) { objectsDidChange(n); });
    }
}

void ArrayController::setFilterPredicate(std::shared_ptr<const Predicate> predicate)
{
    m_filter = std::move(predicate);
}

void ArrayController::setSortDescriptors(std::vector<SortDescriptor> sortDescriptors)
{
    m_sortDescriptors = std::move(sortDescriptors);
}

bool ArrayController::fetch(Error* error)
{
    if (!m_context) {
        if (error)
            *error = Error{QStringLiteral("QuillaryStore"), 134060, QStringLiteral("The list has no context"), {}, {}};
        return false;
    }
    Error fetchError;
    const auto objects = m_context->fetch(FetchRequest{m_entityName, nullptr, {}, 0}, &fetchError);
    if (!fetchError.domain.isEmpty()) {
        if (error)
            *error = fetchError;
        return false;
    }
    std::unordered_set<ManagedObject*> present(m_content.begin(), m_content.end());
    for (ManagedObject* object : objects) {
        if (present.insert(object).second)
            m_content.push_back(object);
    }
    return true;
}

void ArrayController::rearrangeObjects()
{
    std::vector<ManagedObject*> arranged;
    arranged.reserve(m_content.size());
    for (ManagedObject* object : m_content) {
        if (object->isDeleted())
            continue;
        if (m_filter && !m_filter->evaluate([object](const QString& key) { return object->value(key); },
                                            [object](const QString& key, bool c, bool d) {
                                                return object->foldedValue(key, c, d);
                                            }))
            continue;
        arranged.push_back(object);
    }
    sortObjects(arranged, m_sortDescriptors);
    m_arranged = std::move(arranged);
}

void ArrayController::objectsDidChange(const Notification& notification)
{
    const QVariantList inserted = notification.userInfo.value(QStringLiteral("inserted")).toList();
    const QVariantList deleted = notification.userInfo.value(QStringLiteral("deleted")).toList();
    if (!deleted.isEmpty()) {
        std::unordered_set<ManagedObject*> gone;
        for (const auto& value : deleted)
            gone.insert(value.value<ManagedObject*>());
        std::erase_if(m_content, [&](ManagedObject* object) { return gone.count(object) != 0; });
    }
    if (!inserted.isEmpty()) {
        std::unordered_set<ManagedObject*> present(m_content.begin(), m_content.end());
        for (const auto& value : inserted) {
            auto* object = value.value<ManagedObject*>();
            if (object && object->entity() && object->entity()->name == m_entityName && present.insert(object).second)
                m_content.push_back(object);
        }
    }
}

}  // namespace platform
