#pragma once

#include "platform/data/ArrayController.h"

#include <QObject>
#include <QString>

#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class ManagedObject;
class ManagedObjectContext;
class Predicate;
} // namespace platform

// The two lists over the notes: the full list (every note not archived; only
// those are read at start, without their texts) and,
// while a search is active, the search list. Both are arranged as soon as they
// are made and whenever their filter changes; records saved or deleted since
// show at the next rearrangeObjects(). Main thread only (its context is the
// main queue's).
//
// The displayed list is the one `filtered == true` reads: the search list
// while there is one, else the full list. Its changes are signalled for a
// list model that keeps its own copy of the rows: arrangedObjectsChanged()
// with the steps (see platform::ArrangementChange) when the rows can be
// carried over, arrangedObjectsReset() when the displayed list is to be read
// afresh (a search starts or ends, a list is replaced, or too much moved).
// Both are emitted synchronously, after the controller's lists have changed.
class QVRObjectController : public QObject
{
    Q_OBJECT
public:
    static constexpr quint64 NotFound = quint64(std::numeric_limits<qint64>::max());

    QVRObjectController(platform::ManagedObjectContext* context, const QString& entityName,
                        const std::vector<platform::SortDescriptor>& sortDescriptors,
                        QObject* parent = nullptr);
    ~QVRObjectController() override;

    bool filtered() const { return m_searchController != nullptr; }
    quint64 countFiltered(bool filtered) const;
    std::vector<platform::ManagedObject*> objectsFiltered(bool filtered) const;
    quint64 indexOfObject(const platform::ManagedObject* object, bool filtered) const;
    platform::ManagedObject* objectAtIndex(quint64 index, bool filtered) const;
    void rearrangeObjects();
    // After a change to `object` alone (a save): its row moves, leaves or
    // joins without sorting the whole list again.
    void rearrangeObject(platform::ManagedObject* object);
    void setFilterPredicate(std::shared_ptr<const platform::Predicate> predicate);
    // The keys of the saved records a content filter can pick, sorted; none
    // when it cannot tell without reading the records.
    using CandidateKeys = std::function<std::optional<std::vector<qint64>>()>;

    // A search list picked by `filter` from every note, archived ones too,
    // rather than by a predicate; none drops the search list. The full list's
    // records and the notes changed and not saved are taken over. Of the
    // archived notes, the list reads those `candidates` names that it lacks;
    // without candidates, those modified after `historySince` (all without
    // it), which are all the filter can pick. They are read when the list is
    // made, and again whenever a later filter can pick more.
    void setContentFilter(platform::ArrayController::ContentFilter filter,
                          std::optional<double> historySince = std::nullopt, CandidateKeys candidates = {});
    // Readies the search list for `historySince` and `candidates` while the
    // search opens, a slice at a time: the first call looks up what to
    // read, it and each next one read at most `limit` of the archived
    // notes, and the last makes the list (not shown), so that the first
    // setContentFilter() only picks from it; one that comes earlier reads
    // the rest itself. True once ready (or a search list is shown). Dropped
    // when the lists change otherwise.
    bool prepareContentFilter(std::optional<double> historySince, CandidateKeys candidates, size_t limit);
    // Both lists take their records afresh from the file (another process
    // saved), read as at start: no texts, and of the archived notes only
    // those the search list can pick. Rows then move by their changes.
    void reloadRecords();

    // A list of the entity, fetched (the records matching `fetchPredicate`,
    // or all) and arranged at once; logs a failed fetch.
    static std::unique_ptr<platform::ArrayController>
    arrayControllerWithContext(platform::ManagedObjectContext* context, const QString& entityName,
                               const std::vector<platform::SortDescriptor>& sortDescriptors,
                               std::shared_ptr<const platform::Predicate> filterPredicate = nullptr,
                               std::shared_ptr<const platform::Predicate> fetchPredicate = nullptr);

    platform::ArrayController* currentController() const;
    platform::ArrayController* arrayController() const { return m_arrayController.get(); }
    void setArrayController(std::unique_ptr<platform::ArrayController> controller);
    platform::ArrayController* searchController() const { return m_searchController.get(); }
    void setSearchController(std::unique_ptr<platform::ArrayController> controller);

signals:
    void arrangedObjectsChanged(const std::vector<platform::ArrangementChange>& changes);
    void arrangedObjectsReset();

private:
    void watch(platform::ArrayController* controller);
    // The archived notes modified after `since` (all without it).
    std::vector<platform::ManagedObject*> archivedRecords(std::optional<double> since) const;
    // What `request` finds; a failure is logged and finds nothing.
    std::vector<platform::ManagedObject*> fetchRecords(const platform::FetchRequest& request) const;
    // The records with `keys` (sorted).
    std::vector<platform::ManagedObject*> recordsWithKeys(std::vector<qint64> keys) const;
    // The notes changed and not saved: what the file says of them may not
    // hold.
    std::vector<platform::ManagedObject*> unsavedRecords() const;
    // The archived notes the search list can pick and lacks, `held` being
    // its records: those m_candidates names, else (when it names none) all
    // as far back as `since` unless the list already reaches that far.
    std::vector<platform::ManagedObject*> missingHistory(const std::vector<platform::ManagedObject*>& held,
                                                         std::optional<double> since);
    // The candidates `held` lacks, into `missing`; false when there are no
    // candidates.
    bool missingHistoryKeys(const std::vector<platform::ManagedObject*>& held, std::vector<qint64>* missing);
    // Without candidates: the archived notes modified after `since` unless
    // the list already reaches that far.
    std::vector<platform::ManagedObject*> historyByDate(std::optional<double> since);
    struct PreparedSearch
    {
        std::vector<qint64> keys;                              // archived notes still to read
        std::vector<platform::ManagedObject*> history;         // read so far
        std::unique_ptr<platform::ArrayController> controller; // once made
    };
    // Reads `count` more of the archived notes `prepared` still lacks.
    void readAhead(PreparedSearch* prepared, size_t count) const;
    // The full list's records in its order, then the unsaved ones.
    std::vector<platform::ManagedObject*> liveRecords() const;
    // A search list picked by `filter`: the live records, the history read
    // ahead in `prepared` (none: none held yet) and what missingHistory()
    // gives beyond it.
    std::unique_ptr<platform::ArrayController>
    makeSearchController(platform::ArrayController::ContentFilter filter, std::optional<double> historySince,
                         const PreparedSearch* prepared = nullptr);
    // Gives `controller` the history it lacks (see missingHistory()).
    void addMissingHistory(platform::ArrayController* controller, std::optional<double> historySince);
    // Candidates none, history as a full fetch holds it.
    void forgetHistory();
    // Adds the records of `more` not in `records` yet; true when any were.
    static bool addRecords(std::vector<platform::ManagedObject*>* records,
                           const std::vector<platform::ManagedObject*>& more);

    std::unique_ptr<platform::ArrayController> m_arrayController;
    std::unique_ptr<platform::ArrayController> m_searchController;
    // Made ahead of the first search filter, not shown (see
    // prepareContentFilter()); the history fields below are its own until
    // it is.
    std::unique_ptr<PreparedSearch> m_prepared;
    CandidateKeys m_candidates;
    // How far back the search list's archived notes go: all of them
    // (nullopt), those modified after a date, or (m_historyByKeys) only
    // those candidates named.
    std::optional<double> m_historySince;
    bool m_historyByKeys = false;
    // Candidates whose records the search list was last given (sorted).
    std::vector<qint64> m_heldCandidates;
};
