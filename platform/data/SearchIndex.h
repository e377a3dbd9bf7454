#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct sqlite3;

namespace platform {

// A full-text index of one text attribute, kept in the store file beside the
// entity's table, over the text folded as a predicate's contains[cd] folds it
// (TextFolding with case and diacritics). Two FTS5 tables hold it: one with
// SQLite's trigram tokenizer, whose phrase queries find any substring of
// three characters or more, and one of every character and pair of
// characters, for the shorter words.
//
// Which rows wait to be indexed is kept in the file too: triggers in plain
// SQL put the key of every row inserted, deleted or given a new text into a
// table of pending keys, whoever writes the file, also a build that knows
// nothing of the index (it has no folding to call, so it could not index
// what it writes, and a trigger calling a function it lacks would make its
// saves fail). A save of this build indexes the rows it wrote in its own
// transaction and takes them off that table; rows it leaves (a very large
// save, or another build's writes) are indexed by a Builder in the
// background. A search answers from the index for every row not pending and
// reads the text of the pending ones, so it is exact at every moment.
class SearchIndex
{
public:
    // The names of the index's tables and triggers for one attribute.
    struct Names
    {
        QString entity;
        QString attribute;
        // Columns copied beside the index (numbers and flags a search
        // filters on), so that they are read without the table's texts.
        QStringList columns;
    };

    // The table of the copied columns (Names::columns), beside the key of
    // every row of the entity's table; quoted for SQL. Triggers keep it
    // exact for whoever writes the file.
    static QString copiedColumnsTable(const Names& names);

    // Registers the tokenizer of the short words on a connection; every
    // connection that writes or searches the index needs it.
    static bool registerTokenizer(sqlite3* db);
    // Creates what is missing, inside the caller's transaction. A new index
    // queues every row already in the table.
    static bool migrate(sqlite3* db, const Names& names, QString* error);
    // Inside the caller's transaction: indexes those of `keys` that are
    // pending, up to about `budgetBytes` of text; the rest stay pending.
    // Returns false when a statement failed (the caller's transaction is
    // left as it was before the call); `left` tells whether rows still wait.
    static bool indexKeys(sqlite3* db, const Names& names, const std::vector<qint64>& keys,
                          qint64 budgetBytes, bool* left);
    // One batch of pending rows (at most `limit` rows, about `maxBytes` of
    // text) in a transaction of its own, with a batch of the copied columns
    // while those are still being copied, or with nothing pending a step of
    // merging the index's segments (saves leave that to the builder); the
    // number of rows still pending afterwards (at least 1 while there is
    // more to copy or merge), or nullopt on failure (SQLITE_BUSY when the
    // file was locked).
    static std::optional<qint64> indexPending(sqlite3* db, const Names& names, int limit, qint64 maxBytes);
    // Whether the copied columns hold every row of the file: a file given
    // the copy at its first start has it made in batches, by indexPending().
    static bool columnsCopied(sqlite3* db, const Names& names);

    // The text as the index holds it (TextFolding with case and diacritics,
    // in UTF-8).
    static QByteArray foldedText(const QString& text);

private:
    // Inside the caller's transaction: copies the next batch of the rows
    // the copied columns lack; `more` tells whether rows are left.
    static bool copyRows(sqlite3* db, const Names& names, bool* more);
    // While the copy is made: the largest key copied so far (none yet).
    static bool rowsCopiedUpTo(sqlite3* db, const Names& names, std::optional<qint64>* upTo);

public:
    // Searches the index over a connection of its own (read-only), so that
    // the main thread never waits for a save on another thread.
    class Reader
    {
    public:
        Reader(const QString& path, const Names& names);
        ~Reader();
        Reader(const Reader&) = delete;
        Reader& operator=(const Reader&) = delete;

        bool isOpen() const { return m_db != nullptr; }
        // The keys of the rows whose text holds every one of `words` with
        // case and diacritics folded, sorted; nullopt when the file has no
        // usable index. An empty list of words gives every row with a text.
        std::optional<std::vector<qint64>> keysMatching(const QStringList& words);
        // Rows waiting to be indexed (their texts are read at each search).
        qint64 pendingCount();
        // The keys of the rows whose copied columns meet `condition` (SQL
        // over Names::columns, with `?` for each of `bindings`), sorted.
        std::optional<std::vector<qint64>> keysWhere(const QString& condition, const QVariantList& bindings);

    private:
        // The keys of one folded word's rows in the index (pending rows not
        // left out), kept for the next keystrokes while the file is the same.
        const std::vector<qint64>* cachedKeys(const QByteArray& folded) const;
        // Drops what is kept when another connection changed the file.
        void checkVersion();
        // Runs `sql` with `values` and keeps its keys as the answer for
        // `condition` with `bindings`.
        std::optional<std::vector<qint64>> whereKeys(const QString& sql, const QVariantList& values,
                                                     const QString& condition, const QVariantList& bindings);

        sqlite3* m_db = nullptr;
        Names m_names;
        qint64 m_dataVersion = -1;
        std::vector<std::pair<QByteArray, std::vector<qint64>>> m_cache; // most recent last
        QString m_whereCondition;
        QVariantList m_whereBindings;
        std::optional<std::vector<qint64>> m_whereKeys;
    };

    // Indexes pending rows on a thread of its own, a batch at a time, until
    // none is left; wake() when a save left some. Each batch is one call of
    // `step`, which runs it on the store's connection when that is free and
    // answers as indexPending() does, or sets `busy` (and is tried again a
    // moment later).
    class Builder
    {
    public:
        using Step = std::function<std::optional<qint64>(bool* busy)>;
        // With a `checkpointPath`, it also copies the write-ahead log into
        // the file after saves (checkpoint()), on a connection of its own,
        // so that a save never waits for that copy and its flush.
        explicit Builder(Step step, const QString& checkpointPath = {});
        ~Builder();
        Builder(const Builder&) = delete;
        Builder& operator=(const Builder&) = delete;

        void wake();
        void checkpoint();
        // Blocks until no row is pending or `timeoutMs` passed; true when
        // none is pending.
        bool waitUntilIdle(int timeoutMs);

    private:
        void run();
        void copyLog();
        // Sleeps up to `ms` unless stopped; false when stopped.
        bool pause(int ms);

        Step m_step;
        QString m_checkpointPath;
        sqlite3* m_checkpointDb = nullptr;
        bool m_checkpoint = false;
        std::mutex m_mutex;
        std::condition_variable m_condition;
        bool m_stop = false;
        bool m_work = true;
        bool m_idle = false;
        std::thread m_thread;
    };
};

} // namespace platform
