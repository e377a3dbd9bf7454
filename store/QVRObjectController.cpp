#include "store/QVRObjectController.h"

#include "platform/core/Log.h"
#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/predicate/Predicate.h"
#include "store/Note.h"

#include <algorithm>
#include <unordered_set>

namespace {

const QString LiveNotes = QStringLiteral("archived == NO");

} // namespace

QVRObjectController::QVRObjectController(platform::ManagedObjectContext* context, const QString& entityName,
                                         const std::vector<platform::SortDescriptor>& sortDescriptors,
                                         QObject* parent)
    : QObject(parent), m_arrayController(arrayControllerWithContext(context, entityName, sortDescriptors,
                                                                    platform::Predicate::parse(LiveNotes),
                                                                    platform::Predicate::parse(LiveNotes)))
{
    watch(m_arrayController.get());
}

QVRObjectController::~QVRObjectController() = default;

std::unique_ptr<platform::ArrayController>
QVRObjectController::arrayControllerWithContext(platform::ManagedObjectContext* context,
                                                const QString& entityName,
                                                const std::vector<platform::SortDescriptor>& sortDescriptors,
                                                std::shared_ptr<const platform::Predicate> filterPredicate,
                                                std::shared_ptr<const platform::Predicate> fetchPredicate)
{
    // Sort and filter before the fetch, which arranges once with both.
    auto controller = std::make_unique<platform::ArrayController>();
    controller->setEntityName(entityName);
    controller->setContext(context);
    controller->setSortDescriptors(sortDescriptors);
    controller->setFilterPredicate(std::move(filterPredicate));
    controller->setFetchPredicate(std::move(fetchPredicate));
    if (entityName == QVRNoteEntityName) {
        // The list shows titles: the texts stay in the file until a note is
        // opened, searched, saved or synced.
        controller->setDeferredKeys({QVRNoteAttributeKey::text});
        controller->setFirstLineKeys({{Note::TitleKey, QVRNoteAttributeKey::text, Note::TitlePrefixLength}});
    }
    platform::Error error;
    if (!controller->fetch(&error))
        platform::log(QStringLiteral("Error getting data: %1").arg(error.localizedDescription));
    return controller;
}

platform::ArrayController* QVRObjectController::currentController() const
{
    return m_searchController ? m_searchController.get() : m_arrayController.get();
}

void QVRObjectController::setArrayController(std::unique_ptr<platform::ArrayController> controller)
{
    if (m_arrayController)
        m_arrayController->setArrangementObserver({});
    m_arrayController = std::move(controller);
    watch(m_arrayController.get());
    if (!m_searchController)
        emit arrangedObjectsReset();
}

void QVRObjectController::setSearchController(std::unique_ptr<platform::ArrayController> controller)
{
    if (m_searchController)
        m_searchController->setArrangementObserver({});
    m_searchController = std::move(controller);
    m_historySince.reset();
    watch(m_searchController.get());
    emit arrangedObjectsReset();
}

void QVRObjectController::watch(platform::ArrayController* controller)
{
    if (!controller)
        return;
    controller->setArrangementObserver([this, controller](const platform::ArrangementUpdate& update) {
        if (controller != currentController())
            return;
        if (update.reset)
            emit arrangedObjectsReset();
        else
            emit arrangedObjectsChanged(update.changes);
    });
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

void QVRObjectController::rearrangeObject(platform::ManagedObject* object)
{
    m_arrayController->rearrangeObject(object);
    if (m_searchController)
        m_searchController->rearrangeObject(object);
}

void QVRObjectController::setFilterPredicate(std::shared_ptr<const platform::Predicate> predicate)
{
    if (!predicate) {
        if (m_searchController) {
            m_searchController.reset();
            emit arrangedObjectsReset();
        }
        return;
    }
    if (!m_searchController) {
        m_historySince.reset();
        m_searchController =
            arrayControllerWithContext(m_arrayController->context(), m_arrayController->entityName(),
                                       m_arrayController->sortDescriptors(), std::move(predicate));
        watch(m_searchController.get());
        emit arrangedObjectsReset();
        return;
    }
    m_searchController->setFilterPredicate(std::move(predicate));
}

std::vector<platform::ManagedObject*> QVRObjectController::archivedRecords(std::optional<double> since) const
{
    // Read as the list reads its own: their texts stay in the file until
    // needed.
    platform::FetchRequest request = m_arrayController->fetchRequest();
    QString format = QStringLiteral("NOT (%1)").arg(LiveNotes);
    QVariantList arguments;
    if (since) {
        format += QStringLiteral(" AND modified > %@");
        arguments << *since;
    }
    request.predicate = platform::Predicate::parse(format, arguments);
    platform::Error error;
    auto records = m_arrayController->context()->fetch(request, &error);
    if (!error.domain.isEmpty())
        platform::log(QStringLiteral("Error getting data: %1").arg(error.localizedDescription));
    // Changed and not saved: what the file says of them may not hold.
    platform::ManagedObjectContext* context = m_arrayController->context();
    for (const auto& changed : {context->insertedObjects(), context->updatedObjects()}) {
        for (platform::ManagedObject* object : changed) {
            if (object->objectID().entity == request.entityName)
                records.push_back(object);
        }
    }
    return records;
}

bool QVRObjectController::coversHistory(std::optional<double> since) const
{
    return !m_historySince || (since && *since >= *m_historySince);
}

void QVRObjectController::setContentFilter(platform::ArrayController::ContentFilter filter,
                                           std::optional<double> historySince)
{
    if (!filter) {
        setFilterPredicate(nullptr);
        return;
    }
    if (!m_searchController) {
        auto controller = std::make_unique<platform::ArrayController>();
        controller->setEntityName(m_arrayController->entityName());
        controller->setContext(m_arrayController->context());
        controller->setSortDescriptors(m_arrayController->sortDescriptors());
        controller->setContentFilter(std::move(filter));
        std::vector<platform::ManagedObject*> records = m_arrayController->content();
        addRecords(&records, archivedRecords(historySince));
        m_historySince = historySince;
        controller->setContent(std::move(records));
        m_searchController = std::move(controller);
        watch(m_searchController.get());
        emit arrangedObjectsReset();
        return;
    }
    if (m_searchController->filterPredicate())
        m_searchController->setFilterPredicate(nullptr);
    if (!coversHistory(historySince)) {
        // A longer history than the list was made for: the archived notes
        // it lacks join it.
        std::vector<platform::ManagedObject*> records = m_searchController->content();
        addRecords(&records, archivedRecords(historySince));
        m_historySince = historySince;
        m_searchController->setContent(std::move(records));
    }
    m_searchController->setContentFilter(std::move(filter));
}

void QVRObjectController::reloadRecords()
{
    platform::Error error;
    std::vector<platform::ManagedObject*> records =
        m_arrayController->context()->fetch(m_arrayController->fetchRequest(), &error);
    if (!error.domain.isEmpty()) {
        platform::log(QStringLiteral("Error getting data: %1").arg(error.localizedDescription));
        return;
    }
    if (m_searchController) {
        std::vector<platform::ManagedObject*> searched = records;
        addRecords(&searched, archivedRecords(m_historySince));
        m_searchController->setContent(std::move(searched));
    }
    m_arrayController->setContent(std::move(records));
}

void QVRObjectController::addRecords(std::vector<platform::ManagedObject*>* records,
                                     const std::vector<platform::ManagedObject*>& more)
{
    // One object per key in a context: the records already there are marked
    // by their keys, a bit each while the keys are dense, as a file's are.
    qint64 largest = -1;
    bool dense = true;
    for (const std::vector<platform::ManagedObject*>* list :
         {static_cast<const std::vector<platform::ManagedObject*>*>(records), &more}) {
        for (const platform::ManagedObject* record : *list) {
            const qint64 key = record->objectID().key;
            dense = dense && key > 0; // 0: no key yet
            largest = std::max(largest, key);
        }
    }
    const size_t count = records->size() + more.size();
    if (!dense || largest >= qint64(count) * 64 + (qint64(1) << 20)) {
        std::unordered_set<platform::ManagedObject*> present(records->begin(), records->end());
        for (platform::ManagedObject* record : more) {
            if (present.insert(record).second)
                records->push_back(record);
        }
        return;
    }
    std::vector<quint64> present(size_t(largest / 64 + 1), 0);
    const auto mark = [&](const platform::ManagedObject* record) {
        const qint64 key = record->objectID().key;
        quint64& word = present[size_t(key / 64)];
        const quint64 bit = quint64(1) << (key % 64);
        const bool was = word & bit;
        word |= bit;
        return !was;
    };
    for (const platform::ManagedObject* record : *records)
        mark(record);
    for (platform::ManagedObject* record : more) {
        if (mark(record))
            records->push_back(record);
    }
}
