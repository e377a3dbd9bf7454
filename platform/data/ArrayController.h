#pragma once

#include "platform/core/Error.h"
#include "platform/core/NotificationCenter.h"
#include "platform/data/SortDescriptor.h"

#include <QString>

#include <memory>
#include <vector>

namespace platform {

class ManagedObject;
class ManagedObjectContext;
class Predicate;

// A list over every record of one entity in one context. Records inserted or
// deleted in the context join or leave `content` when the context processes
// its pending changes; `arrangedObjects` (filtered, sorted) changes only when
// rearrangeObjects() runs. Use on the context's queue.
class ArrayController {
public:
    ArrayController();
    ~ArrayController();
    ArrayController(const ArrayController&) = delete;
    ArrayController& operator=(const ArrayController&) = delete;

    void setEntityName(const QString& name) { m_entityName = name; }
    QString entityName() const { return m_entityName; }
    void setContext(ManagedObjectContext* context);
    ManagedObjectContext* context() const { return m_context; }
    void setFilterPredicate(std::shared_ptr<const Predicate> predicate);
    std::shared_ptr<const Predicate> filterPredicate() const { return m_filter; }
    void setSortDescriptors(std::vector<SortDescriptor> sortDescriptors);
    const std::vector<SortDescriptor>& sortDescriptors() const { return m_sortDescriptors; }

    // Loads every record of the entity into `content`, keeping what is there.
    bool fetch(Error* error = nullptr);
    const std::vector<ManagedObject*>& content() const { return m_content; }
    const std::vector<ManagedObject*>& arrangedObjects() const { return m_arranged; }
    void rearrangeObjects();

private:
    void objectsDidChange(const Notification& notification);

    QString m_entityName;
    ManagedObjectContext* m_context = nullptr;
    std::shared_ptr<const Predicate> m_filter;
    std::vector<SortDescriptor> m_sortDescriptors;
    std::vector<ManagedObject*> m_content;
    std::vector<ManagedObject*> m_arranged;
    ObserverToken m_observer;
};

}  // namespace platform
