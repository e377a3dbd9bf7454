#pragma once

#include "platform/core/NotificationCenter.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
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
// Each note's text is folded once (to UTF-8) and kept, with the few values the
// test reads, until the context reports the note changed or deleted; a search
// then only scans folded bytes. When a query only extends the previous one
// (each earlier word is part of a later one, the cut-off the same or later)
// and nothing changed since, only the previous matches are looked at again.
// Main thread only, like the context's objects.
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

    // Watches `context` (when given) for changed, inserted and deleted notes.
    explicit SearchFilter(platform::ManagedObjectContext* context = nullptr);
    ~SearchFilter();
    SearchFilter(const SearchFilter&) = delete;
    SearchFilter& operator=(const SearchFilter&) = delete;

    void setQuery(const Query& query);
    const Query& query() const { return m_query; }

    bool matches(const platform::ManagedObject* note);
    // The matching objects of `content`, in its order; deleted objects never.
    std::vector<platform::ManagedObject*> filter(const std::vector<platform::ManagedObject*>& content);

    // Folds the texts of `content` not folded yet that the present cut-off
    // lets through, at most `limit` of them, going on from where the last
    // call stopped; returns how many notes are left to look at. Lets idle
    // time make the first search fast.
    size_t prepare(const std::vector<platform::ManagedObject*>& content, size_t limit);

    // Drops every kept text (the objects were refreshed from the store).
    void forgetAll();
    // Drops what is kept for one note (its values changed).
    void forget(const platform::ManagedObject* note);

private:
    struct Entry
    {
        std::string_view folded; // UTF-8, in m_texts
        bool folding = false;    // `folded` is made
        bool hasText = false;    // the text is a string (a missing text holds no word)
        bool live = false;       // removed == NO
        bool archivedNo = false;
        std::optional<double> modified;
    };
    // Folded texts live in large blocks, mapped and filled by the kernel at
    // once: a page at a time costs far more when thousands of texts are
    // folded for the first search.
    class TextBlocks;

    Entry& entryFor(const platform::ManagedObject* note);
    bool inHistory(const Entry& entry) const;
    bool test(const platform::ManagedObject* note, Entry& entry);
    void fold(const platform::ManagedObject* note, Entry& entry);
    bool narrowsPrevious(const Query& query, const std::vector<QByteArray>& needles) const;

    Query m_query;
    std::vector<QByteArray> m_needles; // folded words, most recent first
    std::unordered_map<const platform::ManagedObject*, Entry> m_entries;
    std::unique_ptr<TextBlocks> m_texts;
    size_t m_prepared = 0; // where prepare() goes on

    // The last filter's input and result, for narrowing.
    bool m_changedSinceFilter = true;
    Query m_filteredQuery;
    std::vector<QByteArray> m_filteredNeedles;
    std::vector<platform::ManagedObject*> m_filteredContent;
    std::vector<platform::ManagedObject*> m_filteredResult;

    platform::ObserverToken m_observer;
};
