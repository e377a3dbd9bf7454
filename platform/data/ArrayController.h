#pragma once

#include "platform/core/Error.h"
#include "platform/core/NotificationCenter.h"
#include "platform/data/ManagedObjectModel.h"
#include "platform/data/SortDescriptor.h"

#include <QString>

#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

namespace platform {

class ManagedObject;
class ManagedObjectContext;
struct FetchRequest;
class Predicate;

// One step of a change to an arranged list. Applied in order to a copy of the
// list as it was, the steps of one change give the list as it is:
//   Insert: `object` goes in at row `to`;
//   Remove: the row `from` goes;
//   Move:   the row `from` is taken out and put back at row `to` (counted in
//           the list after the step; a model's beginMoveRows wants `to + 1`
//           as its destination when `to > from`).
struct ArrangementChange
{
    enum class Kind
    {
        Insert,
        Remove,
        Move
    };
    Kind kind;
    qsizetype from = -1;
    qsizetype to = -1;
    ManagedObject* object = nullptr;

    friend bool operator==(const ArrangementChange&, const ArrangementChange&) = default;
};

// What became of an arranged list: either steps, or a reset when it would
// take more than kMaxArrangementSteps of them (typically a new filter or sort
// that changes most rows) and the list is better read afresh.
struct ArrangementUpdate
{
    bool reset = false;
    std::vector<ArrangementChange> changes; // empty for a reset
};

inline constexpr size_t kMaxArrangementSteps = 256;

// The steps that turn `before` into `after` (each list holds an object once):
// removals from the bottom up, then the fewest single-row moves (the rows on
// a longest run already in order stay), then insertions from the top down.
// A reset when that takes more than `maxSteps`.
ArrangementUpdate arrangementChanges(const std::vector<ManagedObject*>& before,
                                     const std::vector<ManagedObject*>& after,
                                     size_t maxSteps = kMaxArrangementSteps);

// A list over every record of one entity in one context. Records inserted or
// deleted in the context join or leave `content` when the context processes
// its pending changes and show in `arrangedObjects` (filtered, sorted) at the
// next rearrangeObjects(). Setting the filter or the sort, and fetch(),
// arrange at once. Use on the context's queue; the arrangement observer runs
// there, after `arrangedObjects` has changed.
class ArrayController
{
public:
    using ArrangementObserver = std::function<void(const ArrangementUpdate&)>;
    // Picks from `content` the objects to arrange, keeping the order they
    // have in it, before the filter predicate (if any) and the sort; deleted
    // objects are left out afterwards. For filters that keep state of their
    // own between passes. The list given is the content, possibly in another
    // order (the sort's, so that what is picked needs no sorting again).
    using ContentFilter =
        std::function<std::vector<ManagedObject*>(const std::vector<ManagedObject*>& content)>;

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
    // A new content filter makes a new list: the observer is told of a
    // reset, not of the steps from the last one.
    void setContentFilter(ContentFilter filter);
    void setSortDescriptors(std::vector<SortDescriptor> sortDescriptors);
    const std::vector<SortDescriptor>& sortDescriptors() const { return m_sortDescriptors; }
    // The records fetch() loads into `content` (none: every record). Records
    // changed later to match it join `content` when the context processes
    // its changes, as new ones do.
    void setFetchPredicate(std::shared_ptr<const Predicate> predicate)
    {
        m_fetchPredicate = std::move(predicate);
    }
    // What fetch() leaves unloaded and derives instead (see FetchRequest).
    void setDeferredKeys(QStringList keys) { m_deferredKeys = std::move(keys); }
    void setFirstLineKeys(std::vector<FirstLineKey> keys) { m_firstLines = std::move(keys); }

    // Loads every record of the entity into `content`, keeping what is
    // there, and arranges.
    bool fetch(Error* error = nullptr);
    // The request fetch() makes: the entity, the fetch predicate and what is
    // left unread or derived.
    FetchRequest fetchRequest() const;
    const std::vector<ManagedObject*>& content() const { return m_content; }
    // Takes another list's content over the same context instead of fetching
    // it again, and arranges.
    void setContent(std::vector<ManagedObject*> content);
    // The same for a list with a content filter, `sortedLike` being most of
    // that content already in this list's order (another list's
    // arrangement): only the rest is sorted, and merged in.
    void setContent(std::vector<ManagedObject*> content, std::vector<ManagedObject*> sortedLike);
    const std::vector<ManagedObject*>& arrangedObjects() const { return m_arranged; }
    void rearrangeObjects();
    // Arranges again after a change to `object` alone: it leaves, joins or
    // moves to its place (a binary search) and the other rows stay. The same
    // as rearrangeObjects(), which it falls back to when more than that one
    // record changed since the last arrangement or a content filter decides.
    void rearrangeObject(ManagedObject* object);

    // Told of every change to `arrangedObjects`; nothing when an arrangement
    // leaves the list as it was.
    void setArrangementObserver(ArrangementObserver observer) { m_arrangementObserver = std::move(observer); }

private:
    void objectsDidChange(const Notification& notification);
    bool passesFilter(ManagedObject* object) const;
    qsizetype contentRow(const ManagedObject* object) const;
    // With a content filter: picks from the content kept in sort order and
    // arranges without sorting. False when there is nothing to sort by.
    bool arrangeSortedContent(std::vector<ManagedObject*>* arranged);
    void sortContent();
    // No unsaved change in the context, and no refresh since it counted
    // `refreshCount`.
    bool contextUnchangedSince(quint64 refreshCount) const;
    std::vector<ManagedObject*> pick(const std::vector<ManagedObject*>& candidates) const;
    // Whether `picked`, taken from m_sortedContent in its order, is in the
    // order a stable sort of the content gives.
    bool inOrder(const std::vector<ManagedObject*>& picked) const;

    QString m_entityName;
    ManagedObjectContext* m_context = nullptr;
    std::shared_ptr<const Predicate> m_filter;
    ContentFilter m_contentFilter;
    std::vector<SortDescriptor> m_sortDescriptors;
    std::shared_ptr<const Predicate> m_fetchPredicate;
    QStringList m_deferredKeys;
    std::vector<FirstLineKey> m_firstLines;
    std::vector<ManagedObject*> m_content;
    std::vector<ManagedObject*> m_arranged;
    // With a content filter: the content as the last sort of all of it left
    // it (a stable sort, equal keys in the content's order). Keys changed
    // since may have left it out of order; what is picked from it is checked.
    std::vector<ManagedObject*> m_sortedContent;
    std::vector<size_t> m_sortedRows; // each one's row in the content
    bool m_sortedContentStale = true;
    // Whether keys may have changed since the last sort of the content: an
    // object was announced as updated, or refreshed to be read again.
    bool m_updatedSinceSort = true;
    quint64 m_refreshCountAtSort = 0;
    bool m_resetNext = false; // the next arrangement is reported as a reset
    // Without a content filter: whether the arrangement still holds, nothing
    // it reads having changed since.
    bool m_arrangementCurrent = false;
    quint64 m_refreshCountAtArrangement = 0;
    ArrangementObserver m_arrangementObserver;
    ObserverToken m_observer;
    ObserverToken m_saveObserver;
    // What changed since the last full arrangement.
    bool m_contentChanged = false;
    std::unordered_set<const ManagedObject*> m_updated;
};

} // namespace platform
