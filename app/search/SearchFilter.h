#pragma once

#include "platform/core/NotificationCenter.h"
#include "platform/data/SearchIndex.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace platform {
class ManagedObject;
class ManagedObjectContext;
} // namespace platform

// The search over notes and history: a note matches when it is not removed,
// is live or was archived after the cut-off, and its text contains every word
// with case and diacritics folded exactly as a predicate's contains[cd] folds
// them (platform::TextFolding), so that the two never disagree.
//
// The words are looked up in the store file's search index
// (platform::SearchIndex), which answers with the keys of the rows holding
// them, and the history test in the copies of the flags the index keeps; no
// note's values are read for that. Notes whose values in memory may differ
// from the file (changed and not saved yet, here or in a parent context) are
// tested against their values in memory instead, so that a search always
// agrees with what the list shows; the few values their history test reads
// are kept per note until the context reports the note changed.
// Without an index (no file, or a SQLite without FTS5) every note is tested
// in memory. Main thread only, like the context's objects.
class SearchFilter
{
public:
    struct Query
    {
        QStringList words;            // as typed; empty words are left out
        std::optional<double> cutoff; // seconds since 1970; none: history of any age
        friend bool operator==(const Query&, const Query&) = default;
    };

    // The words of a search text split at white space and line breaks, and
    // the cut-off for a positive number of history days (0 and less keep
    // history for good).
    static Query queryForText(const QString& text, qint64 historyDays, double cutoff);

    // Watches `context` (when given) for changed, inserted and deleted notes,
    // and searches the index of the file under it.
    explicit SearchFilter(platform::ManagedObjectContext* context = nullptr);
    ~SearchFilter();
    SearchFilter(const SearchFilter&) = delete;
    SearchFilter& operator=(const SearchFilter&) = delete;

    void setQuery(const Query& query);
    const Query& query() const { return m_query; }

    bool matches(const platform::ManagedObject* note);
    // The matching objects of `content`, in its order; deleted objects never.
    std::vector<platform::ManagedObject*> filter(const std::vector<platform::ManagedObject*>& content);

    // Lets idle time make the first search fast: looks up the history of
    // the present cut-off in the index, or without one reads the history
    // values of `content` not read yet, at most `limit` notes, going on from
    // where the last call stopped. Returns how many notes are left to look at.
    size_t prepare(const std::vector<platform::ManagedObject*>& content, size_t limit);

    // Drops every kept value (the objects were refreshed from the store).
    void forgetAll();
    // Drops what is kept for one note (its values changed).
    void forget(const platform::ManagedObject* note);

    // The keys of the saved notes the filter can pick for the present
    // query, sorted: the rows of the file the index names and the notes a
    // parent context holds changes of. None without an index.
    std::optional<std::vector<qint64>> candidateKeys();

    // True when the file's index answers searches (for tests and benches).
    bool usesIndex();

private:
    struct Entry
    {
        bool live = false; // removed == NO
        bool archivedNo = false;
        std::optional<double> modified;
    };
    // The notes to test in memory: changed and not in the file yet.
    struct Unsaved
    {
        std::unordered_set<const platform::ManagedObject*> objects;
        std::unordered_set<qint64> keys; // pending in a parent context
        bool contains(const platform::ManagedObject* note) const;
    };

    Entry& entryFor(const platform::ManagedObject* note);
    bool inHistory(const Entry& entry) const;
    bool textMatches(const platform::ManagedObject* note) const;
    Unsaved unsavedNotes() const;
    // The keys of the rows of the file in the history that hold every
    // word; nullopt without an index.
    const std::optional<std::vector<qint64>>& indexedKeys();
    platform::SearchIndex::Reader* reader();

    platform::ManagedObjectContext* m_context = nullptr;
    Query m_query;
    std::vector<QByteArray> m_needles; // folded words
    std::unordered_map<const platform::ManagedObject*, Entry> m_entries;
    size_t m_prepared = 0; // where prepare() goes on

    std::unique_ptr<platform::SearchIndex::Reader> m_reader;
    bool m_readerTried = false;
    // The index's answer for m_query, until the query or the file changes.
    std::optional<std::vector<qint64>> m_keys;
    Unsaved m_unsaved; // when m_keys was looked up
    bool m_keysValid = false;
    std::shared_ptr<std::atomic<bool>> m_fileChanged = std::make_shared<std::atomic<bool>>(false);

    platform::ObserverToken m_observer;
    platform::ObserverToken m_saveObserver;
};
