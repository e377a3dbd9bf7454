#include "store/QVRObjectController.h"

#include "platform/core/Log.h"
#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/predicate/Predicate.h"

#include <algorithm>

QVRObjectController::QVRObjectController(platform::ManagedObjectContext* context, const QString& entityName,
                                         const std::vector<platform::SortDescriptor>& sortDescriptors)
    : m_arrayController(arrayControllerWithContext(context, entityName, sortDescriptors))
{
    m_arrayController->setFilterPredicate(platform::Predicate::parse(QStringLiteral("archived == NO")));
}

QVRObjectController::~QVRObjectController() = default;

std::unique_ptr<platform::ArrayController> QVRObjectController::arrayControllerWithContext(
    platform::ManagedObjectContext* context, const QString& entityName,
    const std::vector<platform::SortDescriptor>& sortDescriptors)
{
    auto controller = std::make_unique<platform::ArrayController>();
    controller->setEntityName(entityName);
    controller->setContext(context);
    platform::Error error;
    if (controller->fetch(&error))
        controller->setSortDescriptors(sortDescriptors);
    else
        platform::log(QStringLiteral("Error getting data: %1").arg(error.localizedDescription));
    return controller;
}

platform::ArrayController* QVRObjectController::currentController() const
{
    return m_searchController ? m_searchController.get() : m_arrayController.get();
}

std::vector<platform::ManagedObject*> QVRObjectController::objectsFiltered(bool filtered) const
{
    return (filtered ? currentController() : m_arrayController.get())->arrangedObjects();
}

quint64 QVRObjectController::countFiltered(bool filtered) const
{
    return (filtered ? currentController() : m_arrayController.get())->arrangedObjects().size();
}

quint64 QVRObjectController::indexOfObject(const platform::ManagedObject* object, bool filtered) const
{
    const auto& arranged = (filtered ? currentController() : m_arrayController.get())->arrangedObjects();
    const auto found = std::find(arranged.begin(), arranged.end(), object);
    return found == arranged.end() ? NotFound : quint64(found - arranged.begin());
}

platform::ManagedObject* QVRObjectController::objectAtIndex(quint64 index, bool filtered) const
{
    const auto& arranged = (filtered ? currentController() : m_arrayController.get())->arrangedObjects();
    return index < arranged.size() ? arranged[size_t(index)] : nullptr;
}

void QVRObjectController::rearrangeObjects()
{
    m_arrayController->rearrangeObjects();
    if (m_searchController)
        m_searchController->rearrangeObjects();
}

void QVRObjectController::setFilterPredicate(std::shared_ptr<const platform::Predicate> predicate)
{
    if (!predicate) {
        m_searchController.reset();
        return;
    }
    if (!m_searchController) {
        m_searchController = arrayControllerWithContext(m_arrayController->context(), m_arrayController->entityName(),
                                                        m_arrayController->sortDescriptors());
    }
    m_searchController->setFilterPredicate(std::move(predicate));
}
