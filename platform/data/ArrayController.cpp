#include "platform/data/ArrayController.h"

#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/data/ManagedObjectModel.h"
#include "platform/predicate/Predicate.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace platform {

namespace {

// Marks the members of one longest strictly increasing run of `values`.
std::vector<bool> longestIncreasingRun(const std::vector<size_t>& values)
{
    std::vector<size_t> tails; // index into `values` of the smallest tail of each run length
    std::vector<ptrdiff_t> previous(values.size(), -1);
    for (size_t i = 0; i < values.size(); ++i) {
        const auto at = std::lower_bound(tails.begin(), tails.end(), values[i],
                                         [&](size_t index, size_t value) { return values[index] < value; });
        if (at != tails.begin())
            previous[i] = ptrdiff_t(*(at - 1));
        if (at == tails.end())
            tails.push_back(i);
        else
            *at = i;
    }
    std::vector<bool> member(values.size(), false);
    for (ptrdiff_t i = tails.empty() ? -1 : ptrdiff_t(tails.back()); i >= 0; i = previous[size_t(i)])
        member[size_t(i)] = true;
    return member;
}

qsizetype rowOf(const std::vector<ManagedObject*>& list, const ManagedObject* object)
{
    return qsizetype(std::find(list.begin(), list.end(), object) - list.begin());
}

} // namespace

namespace {

// The steps between two lists that differ in their first and last rows.
ArrangementUpdate changesBetween(const std::vector<ManagedObject*>& before,
                                 const std::vector<ManagedObject*>& after, size_t maxSteps)
{
    ArrangementUpdate update;
    std::unordered_map<const ManagedObject*, size_t> newRow;
    newRow.reserve(after.size());
    for (size_t row = 0; row < after.size(); ++row)
        newRow.emplace(after[row], row);

    std::vector<ManagedObject*> kept; // in their old order
    std::vector<size_t> keptNewRows;
    for (ManagedObject* object : before) {
        if (const auto found = newRow.find(object); found != newRow.end()) {
            kept.push_back(object);
            keptNewRows.push_back(found->second);
        }
    }
    const size_t removals = before.size() - kept.size();
    const size_t insertions = after.size() - kept.size();
    if (removals + insertions > maxSteps) {
        update.reset = true;
        return update;
    }
    const std::vector<bool> stays = longestIncreasingRun(keptNewRows);
    const size_t moves = size_t(std::count(stays.begin(), stays.end(), false));
    if (removals + insertions + moves > maxSteps) {
        update.reset = true;
        return update;
    }

    using Kind = ArrangementChange::Kind;
    std::vector<ManagedObject*> rows = before;
    for (size_t row = before.size(); row-- > 0;) {
        if (!newRow.count(before[row])) {
            update.changes.push_back({Kind::Remove, qsizetype(row), -1, before[row]});
            rows.erase(rows.begin() + ptrdiff_t(row));
        }
    }

    // Each moving row goes right after the kept row that precedes it in the
    // new order; taken in the new order, that row is already in place.
    std::unordered_set<const ManagedObject*> keptSet(kept.begin(), kept.end());
    std::unordered_set<const ManagedObject*> moving;
    for (size_t i = 0; i < kept.size(); ++i) {
        if (!stays[i])
            moving.insert(kept[i]);
    }
    for (size_t target = 0; target < after.size() && !moving.empty(); ++target) {
        ManagedObject* object = after[target];
        if (!moving.erase(object))
            continue;
        const qsizetype from = rowOf(rows, object);
        rows.erase(rows.begin() + from);
        qsizetype to = 0;
        for (size_t earlier = target; earlier-- > 0;) {
            if (keptSet.count(after[earlier])) {
                to = rowOf(rows, after[earlier]) + 1;
                break;
            }
        }
        rows.insert(rows.begin() + to, object);
        if (from != to)
            update.changes.push_back({Kind::Move, from, to, object});
    }

    for (size_t row = 0; row < after.size(); ++row) {
        if (!keptSet.count(after[row])) {
            update.changes.push_back({Kind::Insert, -1, qsizetype(row), after[row]});
            rows.insert(rows.begin() + ptrdiff_t(row), after[row]);
        }
    }
    Q_ASSERT(rows == after);
    return update;
}

} // namespace

ArrangementUpdate arrangementChanges(const std::vector<ManagedObject*>& before,
                                     const std::vector<ManagedObject*>& after, size_t maxSteps)
{
    if (before == after)
        return {};
    // Each row more or fewer is an insertion or a removal at least: a list
    // that grew or shrank by more than the steps allowed is read afresh,
    // without looking at its rows (a search narrowed by a key).
    const size_t difference =
        before.size() > after.size() ? before.size() - after.size() : after.size() - before.size();
    if (difference > maxSteps)
        return {true, {}};
    // Rows the same at the top and at the bottom of both lists stay where
    // they are (each is on a longest run in order anyway): work out the steps
    // for the rows between, which is all a save that moves one row touches.
    const size_t shorter = std::min(before.size(), after.size());
    size_t top = 0;
    while (top < shorter && before[top] == after[top])
        ++top;
    size_t bottom = 0;
    while (bottom < shorter - top && before[before.size() - 1 - bottom] == after[after.size() - 1 - bottom])
        ++bottom;
    if (top == 0 && bottom == 0)
        return changesBetween(before, after, maxSteps);
    ArrangementUpdate update = changesBetween(
        std::vector<ManagedObject*>(before.begin() + ptrdiff_t(top), before.end() - ptrdiff_t(bottom)),
        std::vector<ManagedObject*>(after.begin() + ptrdiff_t(top), after.end() - ptrdiff_t(bottom)),
        maxSteps);
    for (ArrangementChange& change : update.changes) {
        if (change.from >= 0)
            change.from += qsizetype(top);
        if (change.to >= 0)
            change.to += qsizetype(top);
    }
    return update;
}

ArrayController::ArrayController() = default;
ArrayController::~ArrayController() = default;

void ArrayController::setContext(ManagedObjectContext* context)
{
    m_context = context;
    m_observer.reset();
    m_saveObserver.reset();
    if (context) {
        m_observer = NotificationCenter::defaultCenter().addObserver(
            ContextObjectsDidChangeNotification, context,
            [this](const Notification& n) { objectsDidChange(n); });
        // An object changed again before a save is announced only once:
        // after a save, any key may differ from what was last arranged.
        m_saveObserver = NotificationCenter::defaultCenter().addObserver(ContextDidSaveNotification, context,
                                                                         [this](const Notification&) {
                                                                             m_updatedSinceSort = true;
                                                                             m_arrangementCurrent = false;
                                                                         });
    }
}

void ArrayController::setFilterPredicate(std::shared_ptr<const Predicate> predicate)
{
    m_filter = std::move(predicate);
    m_arrangementCurrent = false;
    rearrangeObjects();
}

void ArrayController::setContentFilter(ContentFilter filter)
{
    m_contentFilter = std::move(filter);
    m_arrangementCurrent = false;
    m_resetNext = true;
    rearrangeObjects();
}

void ArrayController::setContent(std::vector<ManagedObject*> content)
{
    m_content = std::move(content);
    m_arrangementCurrent = false;
    m_sortedContentStale = true;
    rearrangeObjects();
}

void ArrayController::setContent(std::vector<ManagedObject*> content, std::vector<ManagedObject*> sortedLike)
{
    m_content = std::move(content);
    m_arrangementCurrent = false;
    // The content is sorted next from this earlier order (see sortContent()).
    m_sortedContent = std::move(sortedLike);
    m_sortedContentStale = true;
    rearrangeObjects();
}

void ArrayController::setSortDescriptors(std::vector<SortDescriptor> sortDescriptors)
{
    m_sortDescriptors = std::move(sortDescriptors);
    m_arrangementCurrent = false;
    m_sortedContentStale = true;
    rearrangeObjects();
}

FetchRequest ArrayController::fetchRequest() const
{
    FetchRequest request{m_entityName, m_fetchPredicate, {}, 0};
    request.deferredKeys = m_deferredKeys;
    request.firstLines = m_firstLines;
    return request;
}

bool ArrayController::fetch(Error* error)
{
    if (!m_context) {
        if (error)
            *error = Error{
                QStringLiteral("QuillaryStore"), 134060, QStringLiteral("The list has no context"), {}, {}};
        return false;
    }
    Error fetchError;
    const auto objects = m_context->fetch(fetchRequest(), &fetchError);
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
    m_arrangementCurrent = false;
    m_sortedContentStale = true;
    rearrangeObjects();
    return true;
}

bool ArrayController::passesFilter(ManagedObject* object) const
{
    return !object->isDeleted() &&
           (!m_filter || m_filter->evaluate([object](const QString& key) { return object->value(key); },
                                            [object](const QString& key, bool c, bool d) {
                                                return object->foldedValue(key, c, d);
                                            }));
}

qsizetype ArrayController::contentRow(const ManagedObject* object) const
{
    return rowOf(m_content, object);
}

void ArrayController::rearrangeObject(ManagedObject* object)
{
    // Changes not announced yet count as well.
    if (m_context)
        m_context->processPendingChanges();
    // Changed since the last arrangement: what was announced, and what is
    // changed and unsaved (an object changed again before a save is
    // announced only once).
    bool alone = m_updated.empty() || (m_updated.size() == 1 && m_updated.count(object));
    if (alone && m_context) {
        for (const ManagedObject* changed : m_context->updatedObjects())
            alone = alone && changed == object;
    }
    if (!object || m_contentFilter || m_contentChanged || !alone ||
        contentRow(object) == qsizetype(m_content.size())) {
        rearrangeObjects();
        return;
    }
    m_updated.clear();
    m_arrangementCurrent = false;
    const qsizetype from = rowOf(m_arranged, object);
    const bool wasThere = from < qsizetype(m_arranged.size());
    if (wasThere)
        m_arranged.erase(m_arranged.begin() + from);
    qsizetype to = -1;
    if (passesFilter(object)) {
        // Where a stable sort of the content puts it: after the rows whose
        // keys go first, and among equal keys by the order of the content.
        std::vector<QVariant> keys;
        keys.reserve(m_sortDescriptors.size());
        for (const SortDescriptor& descriptor : m_sortDescriptors)
            keys.push_back(object->value(descriptor.key));
        qsizetype row = -1;
        const auto goesBefore = [&](const ManagedObject* other) {
            for (size_t k = 0; k < m_sortDescriptors.size(); ++k) {
                const int result = compareValues(keys[k], other->value(m_sortDescriptors[k].key));
                if (result != 0)
                    return m_sortDescriptors[k].ascending ? result < 0 : result > 0;
            }
            if (row < 0)
                row = contentRow(object);
            return row < contentRow(other);
        };
        const auto at = std::partition_point(m_arranged.begin(), m_arranged.end(),
                                             [&](const ManagedObject* other) { return !goesBefore(other); });
        to = qsizetype(at - m_arranged.begin());
        m_arranged.insert(at, object);
    }
    if (!m_arrangementObserver || (wasThere && from == to) || (!wasThere && to < 0))
        return;
    using Kind = ArrangementChange::Kind;
    ArrangementUpdate update;
    if (!wasThere)
        update.changes.push_back({Kind::Insert, -1, to, object});
    else if (to < 0)
        update.changes.push_back({Kind::Remove, from, -1, object});
    else
        update.changes.push_back({Kind::Move, from, to, object});
    const ArrangementObserver observer = m_arrangementObserver;
    observer(update);
}

std::vector<ManagedObject*> ArrayController::pick(const std::vector<ManagedObject*>& candidates) const
{
    std::vector<ManagedObject*> picked;
    if (m_contentFilter)
        picked = m_contentFilter(candidates);
    const std::vector<ManagedObject*>& from = m_contentFilter ? picked : candidates;
    std::vector<ManagedObject*> arranged;
    arranged.reserve(from.size());
    for (ManagedObject* object : from) {
        if (passesFilter(object))
            arranged.push_back(object);
    }
    return arranged;
}

void ArrayController::sortContent()
{
    // The last sort is close to this one (a save moves a record or two).
    m_sortedRows = sortOrder(m_content, m_sortDescriptors, m_sortedContent);
    m_sortedContent.resize(m_content.size());
    for (size_t i = 0; i < m_sortedRows.size(); ++i)
        m_sortedContent[i] = m_content[m_sortedRows[i]];
    m_sortedContentStale = false;
    m_updatedSinceSort = false;
    m_refreshCountAtSort = m_context ? m_context->refreshCount() : 0;
}

bool ArrayController::inOrder(const std::vector<ManagedObject*>& picked) const
{
    const size_t width = m_sortDescriptors.size();
    std::vector<QVariant> previous(width);
    std::vector<QVariant> current(width);
    size_t at = 0; // where `picked` is found in m_sortedContent
    size_t previousRow = 0;
    for (size_t i = 0; i < picked.size(); ++i) {
        while (at < m_sortedContent.size() && m_sortedContent[at] != picked[i])
            ++at;
        if (at == m_sortedContent.size())
            return false;
        const size_t row = m_sortedRows[at++];
        for (size_t k = 0; k < width; ++k)
            current[k] = picked[i]->value(m_sortDescriptors[k].key);
        if (i > 0) {
            int result = 0;
            for (size_t k = 0; k < width && result == 0; ++k) {
                result = compareValues(previous[k], current[k]);
                if (!m_sortDescriptors[k].ascending)
                    result = -result;
            }
            // Equal keys keep the content's order.
            if (result > 0 || (result == 0 && previousRow > row))
                return false;
        }
        std::swap(previous, current);
        previousRow = row;
    }
    return true;
}

bool ArrayController::arrangeSortedContent(std::vector<ManagedObject*>* arranged)
{
    if (m_sortDescriptors.empty())
        return false;
    if (m_sortedContentStale) {
        // A stable sort of the content, and a filter that keeps its order:
        // what it picks is in the order a stable sort of it gives.
        sortContent();
        *arranged = pick(m_sortedContent);
        return true;
    }
    *arranged = pick(m_sortedContent);
    // Keys may have changed since the content was sorted: what is picked
    // is checked, and the content sorted again when it is out of order.
    if ((!m_updatedSinceSort && contextUnchangedSince(m_refreshCountAtSort)) || inOrder(*arranged))
        return true;
    sortContent();
    *arranged = pick(m_sortedContent);
    return true;
}

bool ArrayController::contextUnchangedSince(quint64 refreshCount) const
{
    // (An object changed again before a save is announced only once: while
    // any is unsaved, keys may have changed unannounced.)
    return !m_context || (!m_context->hasChanges() && m_context->refreshCount() == refreshCount);
}

void ArrayController::rearrangeObjects()
{
    // Nothing it read has changed since the last arrangement: it stands (a
    // search that ends leaves the full list as it was).
    if (m_arrangementCurrent && !m_contentChanged && contextUnchangedSince(m_refreshCountAtArrangement)) {
        m_updated.clear();
        return;
    }
    if (m_contentChanged)
        m_sortedContentStale = true;
    m_contentChanged = false;
    m_updated.clear();
    std::vector<ManagedObject*> arranged;
    if (!m_contentFilter || !arrangeSortedContent(&arranged)) {
        arranged = pick(m_content);
        // The last arrangement is close to the new one (a save moves a row
        // or two): sorting from it costs little more than reading the keys.
        sortObjects(arranged, m_sortDescriptors, m_arranged);
    }
    const bool reset = std::exchange(m_resetNext, false);
    // A content filter keeps state of its own: it is asked each time.
    m_arrangementCurrent = !m_contentFilter;
    m_refreshCountAtArrangement = m_context ? m_context->refreshCount() : 0;
    if (!m_arrangementObserver) {
        m_arranged = std::move(arranged);
        return;
    }
    ArrangementUpdate update;
    if (!reset)
        update = arrangementChanges(m_arranged, arranged);
    else if (arranged != m_arranged)
        update.reset = true;
    m_arranged = std::move(arranged);
    if (update.reset || !update.changes.empty()) {
        // A copy: the observer may drop this list (a search that ends).
        const ArrangementObserver observer = m_arrangementObserver;
        observer(update);
    }
}

void ArrayController::objectsDidChange(const Notification& notification)
{
    const QVariantList inserted = notification.userInfo.value(QStringLiteral("inserted")).toList();
    const QVariantList deleted = notification.userInfo.value(QStringLiteral("deleted")).toList();
    m_arrangementCurrent = false;
    if (!inserted.isEmpty() || !deleted.isEmpty())
        m_contentChanged = true;
    std::vector<ManagedObject*> joining;
    const QVariantList updated = notification.userInfo.value(QStringLiteral("updated")).toList();
    if (!updated.isEmpty())
        m_updatedSinceSort = true;
    for (const auto& value : updated) {
        ManagedObject* object = value.value<ManagedObject*>();
        m_updated.insert(object);
        // A record the fetch left out that now matches it (a note brought
        // back from the archive) joins the list; with a content filter, which
        // may be given only part of the records, any changed one does, and
        // the filter decides.
        if (!object || object->isDeleted() || !object->entity() || object->entity()->name != m_entityName)
            continue;
        if (m_fetchPredicate
                ? m_fetchPredicate->evaluate([&](const QString& key) { return object->value(key); })
                : bool(m_contentFilter))
            joining.push_back(object);
    }
    if (!joining.empty()) {
        // A save changes a record or two: a scan of the content costs less
        // than a set of it.
        std::unordered_set<const ManagedObject*> present;
        if (joining.size() > 8)
            present.insert(m_content.begin(), m_content.end());
        for (ManagedObject* object : joining) {
            const bool there = joining.size() > 8
                                   ? !present.insert(object).second
                                   : std::find(m_content.begin(), m_content.end(), object) != m_content.end();
            if (!there) {
                m_content.push_back(object);
                m_contentChanged = true;
            }
        }
    }
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
            if (object && object->entity() && object->entity()->name == m_entityName &&
                present.insert(object).second)
                m_content.push_back(object);
        }
    }
}

} // namespace platform
