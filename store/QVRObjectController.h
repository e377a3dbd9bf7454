#pragma once

#include "platform/data/ArrayController.h"

#include <QString>

#include <limits>
#include <memory>
#include <vector>

namespace platform {
class ManagedObject;
class ManagedObjectContext;
class Predicate;
}

// The two lists over the notes: the full list (every note not archived) and,
// while a search is active, the search list. Main thread only.
class QVRObjectController {
public:
    static constexpr quint64 NotFound = quint64(std::numeric_limits<qint64>::max());

    QVRObjectController(platform::ManagedObjectContext* context, const QString& entityName,
                        const std::vector<platform::SortDescriptor>& sortDescriptors);
    ~QVRObjectController();

    bool filtered() const { return m_searchController != nullptr; }
    quint64 countFiltered(bool filtered) const;
    std::vector<platform::ManagedObject*> objectsFiltered(bool filtered) const;
    quint64 indexOfObject(const platform::ManagedObject* object, bool filtered) const;
    platform::ManagedObject* objectAtIndex(quint64 index, bool filtered) const;
    void rearrangeObjects();
    void setFilterPredicate(std::shared_ptr<const platform::Predicate> predicate);

    static std::unique_ptr<platform::ArrayController> arrayControllerWithContext(
        platform::ManagedObjectContext* context, const QString& entityName,
        const std::vector<platform::SortDescriptor>& sortDescriptors);

    platform::ArrayController* currentController() const;
    platform::ArrayController* arrayController() const { return m_arrayController.get(); }
    void setArrayController(std::unique_ptr<platform::ArrayController> controller) { m_arrayController = std::move(controller); }
    platform::ArrayController* searchController() const { return m_searchController.get(); }
    void setSearchController(std::unique_ptr<platform::ArrayController> controller) { m_searchController = std::move(controller); }

private:
    std::unique_ptr<platform::ArrayController> m_arrayController;
    std::unique_ptr<platform::ArrayController> m_searchController;
};
