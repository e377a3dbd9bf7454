#include "store/QVRObjectController.h"

#include "platform/core/Log.h"
#include "platform/data/KeySet.h"
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
    m_prepared.reset();
    if (m_arrayController)
        m_arrayController->setArrangementObserver({});
    m_arrayController = std::move(controller);
    watch(m_arrayController.get());
    if (!m_searchController)
        emit arrangedObjectsReset();
}

void QVRObjectController::setSearchController(std::unique_ptr<platform::ArrayController> controller)
{
    m_prepared.reset();
    if (m_searchController)
        m_searchController->setArrangementObserver({});
    m_searchController = std::move(controller);
    forgetHistory();
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
    m_prepared.reset();
    if (!predicate) {
        if (m_searchController) {
            m_searchController.reset();
            emit arrangedObjectsReset();
        }
        return;
    }
    if (!m_searchController) {
        forgetHistory();
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
    return fetchRecords(request);
}

std::vector<platform::ManagedObject*> QVRObjectController::recordsWithKeys(std::vector<qint64> keys) const
{
    if (keys.empty())
        return {};
    // The search list sorts and picks these by their dates and flags; the
    // uuid and text (with the title) are read when a row is shown or the
    // note opened. The store then reads them from the search index's narrow
    // copy of the flags rather than from the notes' rows.
    platform::FetchRequest request = m_arrayController->fetchRequest();
    request.predicate = nullptr;
    request.keys = std::move(keys);
    if (request.entityName == QVRNoteEntityName) {
        request.deferredKeys = {QVRNoteAttributeKey::uuid, QVRNoteAttributeKey::text};
        request.firstLines.clear();
    }
    return fetchRecords(request);
}

std::vector<platform::ManagedObject*>
QVRObjectController::fetchRecords(const platform::FetchRequest& request) const
{
    platform::Error error;
    auto records = m_arrayController->context()->fetch(request, &error);
    if (!error.domain.isEmpty())
        platform::log(QStringLiteral("Error getting data: %1").arg(error.localizedDescription));
    return records;
}

std::vector<platform::ManagedObject*> QVRObjectController::unsavedRecords() const
{
    std::vector<platform::ManagedObject*> records;
    platform::ManagedObjectContext* context = m_arrayController->context();
    for (const auto& changed : {context->insertedObjects(), context->updatedObjects()}) {
        for (platform::ManagedObject* object : changed) {
            if (object->objectID().entity == m_arrayController->entityName())
                records.push_back(object);
        }
    }
    return records;
}

bool QVRObjectController::missingHistoryKeys(const std::vector<platform::ManagedObject*>& held,
                                             std::vector<qint64>* missing)
{
    missing->clear();
    std::optional<std::vector<qint64>> candidates = m_candidates ? m_candidates() : std::nullopt;
    if (!candidates)
        return false;
    // Only the keys the list lacks are read; a query that narrows the last
    // one lacks none.
    m_historyByKeys = true;
    if (candidates->empty() || std::includes(m_heldCandidates.begin(), m_heldCandidates.end(),
                                             candidates->begin(), candidates->end()))
        return true;
    platform::KeySet present(candidates->back(), held.size());
    for (const platform::ManagedObject* record : held)
        present.insert(record->objectID().key);
    for (qint64 key : *candidates) {
        if (!present.contains(key))
            missing->push_back(key);
    }
    m_heldCandidates = std::move(*candidates);
    return true;
}

std::vector<platform::ManagedObject*> QVRObjectController::historyByDate(std::optional<double> since)
{
    if (!m_historyByKeys && (!m_historySince || (since && *since >= *m_historySince)))
        return {};
    m_historyByKeys = false;
    m_heldCandidates.clear();
    m_historySince = since;
    return archivedRecords(since);
}

std::vector<platform::ManagedObject*>
QVRObjectController::missingHistory(const std::vector<platform::ManagedObject*>& held,
                                    std::optional<double> since)
{
    std::vector<qint64> missing;
    if (missingHistoryKeys(held, &missing))
        return recordsWithKeys(std::move(missing));
    return historyByDate(since);
}

std::vector<platform::ManagedObject*> QVRObjectController::liveRecords() const
{
    // In the full list's order first, which is most of the search list's
    // own.
    std::vector<platform::ManagedObject*> records = m_arrayController->arrangedObjects();
    addRecords(&records, m_arrayController->content());
    addRecords(&records, unsavedRecords());
    return records;
}

std::unique_ptr<platform::ArrayController>
QVRObjectController::makeSearchController(platform::ArrayController::ContentFilter filter,
                                          std::optional<double> historySince, const PreparedSearch* prepared)
{
    auto controller = std::make_unique<platform::ArrayController>();
    controller->setEntityName(m_arrayController->entityName());
    controller->setContext(m_arrayController->context());
    controller->setSortDescriptors(m_arrayController->sortDescriptors());
    controller->setContentFilter(std::move(filter));
    std::vector<platform::ManagedObject*> records = liveRecords();
    if (prepared) {
        // The history read ahead, as the held candidates say.
        addRecords(&records, prepared->history);
    } else {
        // No history held yet.
        m_historyByKeys = true;
        m_heldCandidates.clear();
    }
    addRecords(&records, missingHistory(records, historySince));
    // Most of it is the full list, sorted already.
    controller->setContent(std::move(records), m_arrayController->arrangedObjects());
    return controller;
}

void QVRObjectController::addMissingHistory(platform::ArrayController* controller,
                                            std::optional<double> historySince)
{
    const std::vector<platform::ManagedObject*> more = missingHistory(controller->content(), historySince);
    if (more.empty())
        return;
    std::vector<platform::ManagedObject*> records = controller->content();
    if (addRecords(&records, more))
        controller->setContent(std::move(records));
}

void QVRObjectController::readAhead(PreparedSearch* prepared, size_t count) const
{
    // The last keys first: what is left stays sorted.
    count = std::min(count, prepared->keys.size());
    std::vector<qint64> slice(prepared->keys.end() - std::ptrdiff_t(count), prepared->keys.end());
    prepared->keys.resize(prepared->keys.size() - count);
    const std::vector<platform::ManagedObject*> read = recordsWithKeys(std::move(slice));
    prepared->history.insert(prepared->history.end(), read.begin(), read.end());
}

bool QVRObjectController::prepareContentFilter(std::optional<double> historySince, CandidateKeys candidates,
                                               size_t limit)
{
    if (m_searchController)
        return true;
    if (!m_prepared) {
        m_prepared = std::make_unique<PreparedSearch>();
        m_candidates = std::move(candidates);
        m_historyByKeys = true;
        m_heldCandidates.clear();
        if (!missingHistoryKeys(liveRecords(), &m_prepared->keys))
            m_prepared->history = historyByDate(historySince);
        readAhead(m_prepared.get(), std::max<size_t>(limit, 1));
        return false;
    }
    if (m_prepared->controller)
        return true;
    if (!m_prepared->keys.empty()) {
        readAhead(m_prepared.get(), std::max<size_t>(limit, 1));
        return false;
    }
    m_prepared->controller =
        makeSearchController([](const std::vector<platform::ManagedObject*>& content) { return content; },
                             historySince, m_prepared.get());
    m_prepared->history = {};
    return true;
}

void QVRObjectController::setContentFilter(platform::ArrayController::ContentFilter filter,
                                           std::optional<double> historySince, CandidateKeys candidates)
{
    if (!filter) {
        setFilterPredicate(nullptr);
        return;
    }
    m_candidates = std::move(candidates);
    if (!m_searchController) {
        std::unique_ptr<PreparedSearch> prepared = std::move(m_prepared);
        std::unique_ptr<platform::ArrayController> controller;
        if (prepared && prepared->controller) {
            // Made while the search opened: it only lacks what this
            // filter may pick beyond the history it was made with.
            controller = std::move(prepared->controller);
            addMissingHistory(controller.get(), historySince);
            controller->setContentFilter(std::move(filter));
        } else if (prepared) {
            // Still being read: the rest now.
            readAhead(prepared.get(), prepared->keys.size());
            controller = makeSearchController(std::move(filter), historySince, prepared.get());
        } else {
            controller = makeSearchController(std::move(filter), historySince);
        }
        m_searchController = std::move(controller);
        watch(m_searchController.get());
        emit arrangedObjectsReset();
        return;
    }
    if (m_searchController->filterPredicate())
        m_searchController->setFilterPredicate(nullptr);
    addMissingHistory(m_searchController.get(), historySince);
    m_searchController->setContentFilter(std::move(filter));
}

void QVRObjectController::reloadRecords()
{
    m_prepared.reset();
    platform::Error error;
    std::vector<platform::ManagedObject*> records =
        m_arrayController->context()->fetch(m_arrayController->fetchRequest(), &error);
    if (!error.domain.isEmpty()) {
        platform::log(QStringLiteral("Error getting data: %1").arg(error.localizedDescription));
        return;
    }
    if (m_searchController) {
        std::vector<platform::ManagedObject*> searched = records;
        m_heldCandidates.clear();
        addRecords(&searched, unsavedRecords());
        addRecords(&searched, m_historyByKeys ? missingHistory(searched, std::nullopt)
                                              : archivedRecords(m_historySince));
        m_searchController->setContent(std::move(searched));
    }
    m_arrayController->setContent(std::move(records));
}

void QVRObjectController::forgetHistory()
{
    // A list fetched whole, or given: as if it held all of history.
    m_candidates = {};
    m_historySince.reset();
    m_historyByKeys = false;
    m_heldCandidates.clear();
}

bool QVRObjectController::addRecords(std::vector<platform::ManagedObject*>* records,
                                     const std::vector<platform::ManagedObject*>& more)
{
    const size_t before = records->size();
    // One object per key in a context: the records already there are marked
    // by their keys. A record with no key yet (0) is told by itself.
    qint64 largest = -1;
    bool keyed = true;
    for (const std::vector<platform::ManagedObject*>* list :
         {static_cast<const std::vector<platform::ManagedObject*>*>(records), &more}) {
        for (const platform::ManagedObject* record : *list) {
            const qint64 key = record->objectID().key;
            keyed = keyed && key > 0;
            largest = std::max(largest, key);
        }
    }
    if (!keyed) {
        std::unordered_set<platform::ManagedObject*> present(records->begin(), records->end());
        for (platform::ManagedObject* record : more) {
            if (present.insert(record).second)
                records->push_back(record);
        }
        return records->size() > before;
    }
    platform::KeySet present(largest, records->size() + more.size());
    for (const platform::ManagedObject* record : *records)
        present.insert(record->objectID().key);
    for (platform::ManagedObject* record : more) {
        if (present.insert(record->objectID().key))
            records->push_back(record);
    }
    return records->size() > before;
}
