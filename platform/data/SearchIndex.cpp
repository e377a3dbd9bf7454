#include "platform/data/SearchIndex.h"

#include "platform/core/Log.h"
#include "platform/data/SqlName.h"
#include "platform/predicate/Predicate.h"
#include "platform/predicate/TextFolding.h"

#include <algorithm>
#include <cstring>

#include <sqlite3.h>

namespace platform {

namespace {

constexpr TextFolding kFolding(true, true);
const char* const GramsTokenizer = "quillary_grams";
// A candidate list this short is checked against the folded texts rather
// than searched for the next word.
constexpr size_t CheckTextsBelow = 2000;

QString tableName(const char* kind, const SearchIndex::Names& n)
{
    return QStringLiteral("QuillarySearch%1_%2_%3").arg(QLatin1String(kind), n.entity, n.attribute);
}
QString trigramTable(const SearchIndex::Names& n)
{
    return sqlQuoted(tableName("", n));
}
QString gramTable(const SearchIndex::Names& n)
{
    return sqlQuoted(tableName("Short", n));
}
QString pendingTable(const SearchIndex::Names& n)
{
    return sqlQuoted(tableName("Pending", n));
}
QString rowsTable(const SearchIndex::Names& n)
{
    return sqlQuoted(tableName("Rows", n));
}
// Present while the copied columns of the rows already in the file are
// still being copied: it holds the largest key copied so far (none yet:
// NULL).
QString rowsToCopyTable(const SearchIndex::Names& n)
{
    return sqlQuoted(tableName("RowsToCopy", n));
}
// Rows copied in one transaction: a copy reads whole rows, texts and all.
constexpr int CopyRowsPerBatch = 1000;
QString literal(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

struct Statement
{
    sqlite3_stmt* handle = nullptr;
    Statement() = default;
    Statement(sqlite3* db, const QString& sql)
    {
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &handle, nullptr) != SQLITE_OK) {
            sqlite3_finalize(handle);
            handle = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(handle); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return handle != nullptr; }
    void reset()
    {
        sqlite3_reset(handle);
        sqlite3_clear_bindings(handle);
    }
};

bool exec(sqlite3* db, const QString& sql)
{
    return sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// UTF-8 sequence length from its lead byte (the folded text is well-formed).
int sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead >> 5) == 0x6)
        return 2;
    if ((lead >> 4) == 0xE)
        return 3;
    if ((lead >> 3) == 0x1E)
        return 4;
    return 1;
}

// The tokenizer of the short-word table: a document gives every character
// and every pair of neighbouring characters; a query is one token as it
// stands (a word of one or two characters).
int gramsCreate(void*, const char**, int, Fts5Tokenizer** out)
{
    static int instance = 0;
    *out = reinterpret_cast<Fts5Tokenizer*>(&instance);
    return SQLITE_OK;
}

void gramsDelete(Fts5Tokenizer*) {}

int gramsTokenize(Fts5Tokenizer*, void* context, int flags, const char* text, int length,
                  int (*token)(void*, int, const char*, int, int, int))
{
    if (length <= 0)
        return SQLITE_OK;
    if (flags & FTS5_TOKENIZE_QUERY)
        return token(context, 0, text, length, 0, length);
    int rc = SQLITE_OK;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (int at = 0; at < length && rc == SQLITE_OK;) {
        const int first = std::min(sequenceLength(bytes[at]), length - at);
        rc = token(context, 0, text + at, first, at, at + first);
        if (rc == SQLITE_OK && at + first < length) {
            const int second = std::min(sequenceLength(bytes[at + first]), length - at - first);
            rc = token(context, 0, text + at, first + second, at, at + first + second);
        }
        at += first;
    }
    return rc;
}

// Statements for indexing rows one after the other.
struct Indexer
{
    Statement oldText, deleteGrams, deleteTrigrams, newText, insertTrigrams, insertGrams, isPending, unqueue;

    Indexer(sqlite3* db, const SearchIndex::Names& n)
        : oldText(db, QStringLiteral("SELECT folded FROM %1 WHERE rowid = ?").arg(trigramTable(n))),
          deleteGrams(
              db,
              QStringLiteral("INSERT INTO %1(%1, rowid, folded) VALUES ('delete', ?, ?)").arg(gramTable(n))),
          deleteTrigrams(db, QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(trigramTable(n))),
          newText(db, QStringLiteral("SELECT CAST(%1 AS TEXT) FROM %2 WHERE pk = ?")
                          .arg(sqlQuoted(n.attribute), sqlQuoted(n.entity))),
          insertTrigrams(db,
                         QStringLiteral("INSERT INTO %1(rowid, folded) VALUES (?, ?)").arg(trigramTable(n))),
          insertGrams(db, QStringLiteral("INSERT INTO %1(rowid, folded) VALUES (?, ?)").arg(gramTable(n))),
          isPending(db, QStringLiteral("SELECT 1 FROM %1 WHERE pk = ?").arg(pendingTable(n))),
          unqueue(db, QStringLiteral("DELETE FROM %1 WHERE pk = ?").arg(pendingTable(n)))
    {
    }

    bool ready() const
    {
        return oldText && deleteGrams && deleteTrigrams && newText && insertTrigrams && insertGrams &&
               isPending && unqueue;
    }

    bool pending(qint64 key)
    {
        isPending.reset();
        sqlite3_bind_int64(isPending.handle, 1, key);
        return sqlite3_step(isPending.handle) == SQLITE_ROW;
    }

    static bool run(Statement& statement)
    {
        const int status = sqlite3_step(statement.handle);
        statement.reset();
        return status == SQLITE_DONE;
    }

    // Brings one row's entry up to date with its text; adds the bytes of
    // text indexed to `bytes`.
    bool index(qint64 key, qint64* bytes)
    {
        oldText.reset();
        sqlite3_bind_int64(oldText.handle, 1, key);
        if (sqlite3_step(oldText.handle) == SQLITE_ROW) {
            const QByteArray old(static_cast<const char*>(sqlite3_column_blob(oldText.handle, 0)),
                                 sqlite3_column_bytes(oldText.handle, 0));
            oldText.reset();
            sqlite3_bind_int64(deleteGrams.handle, 1, key);
            sqlite3_bind_text(deleteGrams.handle, 2, old.constData(), int(old.size()), SQLITE_STATIC);
            if (!run(deleteGrams))
                return false;
            sqlite3_bind_int64(deleteTrigrams.handle, 1, key);
            if (!run(deleteTrigrams))
                return false;
        }
        oldText.reset();
        newText.reset();
        sqlite3_bind_int64(newText.handle, 1, key);
        if (sqlite3_step(newText.handle) == SQLITE_ROW &&
            sqlite3_column_type(newText.handle, 0) != SQLITE_NULL) {
            // As the object layer reads it: any stored value as text.
            const QString text =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(newText.handle, 0)),
                                  sqlite3_column_bytes(newText.handle, 0));
            newText.reset();
            const QByteArray folded = SearchIndex::foldedText(text);
            *bytes += folded.size();
            for (Statement* insert : {&insertTrigrams, &insertGrams}) {
                sqlite3_bind_int64(insert->handle, 1, key);
                sqlite3_bind_text(insert->handle, 2, folded.constData(), int(folded.size()), SQLITE_STATIC);
                if (!run(*insert))
                    return false;
            }
        }
        newText.reset();
        sqlite3_bind_int64(unqueue.handle, 1, key);
        return run(unqueue);
    }
};

std::vector<qint64> column(Statement& statement)
{
    std::vector<qint64> keys;
    while (sqlite3_step(statement.handle) == SQLITE_ROW)
        keys.push_back(sqlite3_column_int64(statement.handle, 0));
    statement.reset();
    return keys;
}

} // namespace

QByteArray SearchIndex::foldedText(const QString& text)
{
    return kFolding.fold(text).toUtf8();
}

bool SearchIndex::registerTokenizer(sqlite3* db)
{
    fts5_api* api = nullptr;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return false;
    }
    sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
    sqlite3_step(statement);
    sqlite3_finalize(statement);
    if (!api)
        return false;
    fts5_tokenizer tokenizer{gramsCreate, gramsDelete, gramsTokenize};
    return api->xCreateTokenizer(api, GramsTokenizer, nullptr, &tokenizer, nullptr) == SQLITE_OK;
}

bool SearchIndex::migrate(sqlite3* db, const Names& n, QString* error)
{
    bool existed = false;
    {
        Statement statement(db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = ?"));
        const QByteArray name = tableName("", n).toUtf8();
        sqlite3_bind_text(statement.handle, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        existed = statement && sqlite3_step(statement.handle) == SQLITE_ROW &&
                  sqlite3_column_int(statement.handle, 0) > 0;
    }
    if (!exec(db, QStringLiteral("SAVEPOINT quillary_search_index")))
        return false;
    const QString table = sqlQuoted(n.entity);
    const QString pending = pendingTable(n);
    auto trigger = [&](const QString& name, const QString& event, const char* row) {
        return QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1 AFTER %2 ON %3 BEGIN "
                              "INSERT OR IGNORE INTO %4 (pk) VALUES (%5.pk); END")
            .arg(sqlQuoted(QStringLiteral("QuillarySearch%1_%2_%3").arg(name, n.entity, n.attribute)), event,
                 table, pending, QLatin1String(row));
    };
    const QStringList statements{
        QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS %1 USING fts5(folded, tokenize='trigram "
                       "case_sensitive 1', detail=full)")
            .arg(trigramTable(n)),
        QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS %1 USING fts5(folded, tokenize='%2', content='', "
                       "detail=none)")
            .arg(gramTable(n), QLatin1String(GramsTokenizer)),
        QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (pk INTEGER PRIMARY KEY)").arg(pending),
        trigger(QStringLiteral("Insert"), QStringLiteral("INSERT"), "new"),
        trigger(QStringLiteral("Update"), QStringLiteral("UPDATE OF %1").arg(sqlQuoted(n.attribute)), "new"),
        trigger(QStringLiteral("Delete"), QStringLiteral("DELETE"), "old"),
    };
    QStringList all = statements;
    if (!existed)
        all << QStringLiteral("INSERT OR IGNORE INTO %1 (pk) SELECT pk FROM %2").arg(pending, table);
    // The copied columns follow every write in plain SQL too.
    const QString rows = rowsTable(n);
    QStringList columns{QStringLiteral("pk")};
    for (const QString& column : n.columns)
        columns << sqlQuoted(column);
    auto values = [&](const char* row) {
        QStringList list;
        for (const QString& column : columns)
            list << QLatin1String(row) + QLatin1Char('.') + column;
        return list.join(u", ");
    };
    auto rowsTrigger = [&](const char* name, const QString& event, const QString& action) {
        return QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1 AFTER %2 ON %3 BEGIN %4; END")
            .arg(sqlQuoted(QStringLiteral("QuillarySearchRows%1_%2_%3")
                               .arg(QLatin1String(name), n.entity, n.attribute)),
                 event, table, action);
    };
    const QString copy =
        QStringLiteral("INSERT OR REPLACE INTO %1 (%2) VALUES (%3)").arg(rows, columns.join(u", "));
    const bool rowsExisted = [&] {
        Statement statement(db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = ?"));
        const QByteArray name = tableName("Rows", n).toUtf8();
        sqlite3_bind_text(statement.handle, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        return statement && sqlite3_step(statement.handle) == SQLITE_ROW &&
               sqlite3_column_int(statement.handle, 0) > 0;
    }();
    QStringList copied = n.columns;
    for (QString& column : copied)
        column = sqlQuoted(column);
    all << QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (pk INTEGER PRIMARY KEY%2)")
               .arg(rows, copied.isEmpty() ? QString() : QStringLiteral(", ") + copied.join(u", "))
        << rowsTrigger("Insert", QStringLiteral("INSERT"), copy.arg(values("new")))
        << rowsTrigger("Update",
                       copied.isEmpty() ? QStringLiteral("UPDATE OF pk")
                                        : QStringLiteral("UPDATE OF %1").arg(copied.join(u", ")),
                       copy.arg(values("new")))
        << rowsTrigger("Delete", QStringLiteral("DELETE"),
                       QStringLiteral("DELETE FROM %1 WHERE pk = old.pk").arg(rows));
    // The rows already in the file are copied in batches, the first here
    // and the others in the background (indexPending()): a copy reads every
    // row whole, which in a large file takes seconds.
    if (!rowsExisted)
        all << QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (copied INTEGER)").arg(rowsToCopyTable(n))
            << QStringLiteral("INSERT INTO %1 (copied) VALUES (NULL)").arg(rowsToCopyTable(n));
    // Saves leave the merging of the index's segments to the builder
    // (mergeSegments()): a save that merged would take many times as long.
    // A save still merges once a level holds this many segments, should
    // nothing else have merged them.
    for (const char* kind : {"", "Short"}) {
        const QString index = sqlQuoted(tableName(kind, n));
        for (const auto& [key, value] : {std::pair{"automerge", 0}, std::pair{"crisismerge", 64}}) {
            // (A new index has no settings table before the statements run.)
            Statement current(
                db, QStringLiteral("SELECT v FROM %1 WHERE k = '%2'")
                        .arg(sqlQuoted(tableName(kind, n) + QStringLiteral("_config")), QLatin1String(key)));
            const bool set = current && sqlite3_step(current.handle) == SQLITE_ROW &&
                             sqlite3_column_int(current.handle, 0) == value;
            if (!set)
                all << QStringLiteral("INSERT INTO %1 (%1, rank) VALUES ('%2', %3)")
                           .arg(index, QLatin1String(key))
                           .arg(value);
        }
    }
    bool ok = true;
    for (const QString& sql : all)
        ok = ok && exec(db, sql);
    bool more = false;
    ok = ok && (rowsExisted || copyRows(db, n, &more));
    if (!ok) {
        if (error)
            *error = QString::fromUtf8(sqlite3_errmsg(db));
        exec(db, QStringLiteral("ROLLBACK TO quillary_search_index"));
        exec(db, QStringLiteral("RELEASE quillary_search_index"));
        return false;
    }
    return exec(db, QStringLiteral("RELEASE quillary_search_index"));
}

bool SearchIndex::copyRows(sqlite3* db, const Names& names, bool* more)
{
    *more = false;
    if (columnsCopied(db, names))
        return true;
    QStringList columns{QStringLiteral("pk")};
    for (const QString& column : names.columns)
        columns << sqlQuoted(column);
    const QString todo = rowsToCopyTable(names);
    std::optional<qint64> copied;
    if (!rowsCopiedUpTo(db, names, &copied))
        return false;
    // The condition on the keys not copied yet.
    const QString after = copied ? QStringLiteral("WHERE pk > %1").arg(*copied) : QString();
    qint64 count = 0, upTo = 0;
    {
        Statement last(
            db, QStringLiteral("SELECT max(pk), count(*) FROM (SELECT pk FROM %1 %2 ORDER BY pk LIMIT %3)")
                    .arg(sqlQuoted(names.entity), after)
                    .arg(CopyRowsPerBatch));
        if (!last || sqlite3_step(last.handle) != SQLITE_ROW)
            return false;
        count = sqlite3_column_int64(last.handle, 1);
        upTo = sqlite3_column_int64(last.handle, 0);
    }
    // Rows written meanwhile were copied by the triggers; a batch takes the
    // rows as they are now, which is what the triggers wrote.
    if (count > 0 &&
        !exec(db, QStringLiteral("INSERT OR REPLACE INTO %1 (%2) SELECT %2 FROM %3 %4 %5 pk <= %6")
                      .arg(rowsTable(names), columns.join(u", "), sqlQuoted(names.entity), after,
                           after.isEmpty() ? QStringLiteral("WHERE") : QStringLiteral("AND"))
                      .arg(upTo)))
        return false;
    if (count < CopyRowsPerBatch)
        return exec(db, QStringLiteral("DROP TABLE %1").arg(todo));
    *more = true;
    return exec(db, QStringLiteral("UPDATE %1 SET copied = %2").arg(todo).arg(upTo));
}

bool SearchIndex::rowsCopiedUpTo(sqlite3* db, const Names& names, std::optional<qint64>* upTo)
{
    Statement copied(db, QStringLiteral("SELECT copied FROM %1 LIMIT 1").arg(rowsToCopyTable(names)));
    if (!copied || sqlite3_step(copied.handle) != SQLITE_ROW)
        return false;
    if (sqlite3_column_type(copied.handle, 0) == SQLITE_NULL)
        upTo->reset();
    else
        *upTo = sqlite3_column_int64(copied.handle, 0);
    return true;
}

bool SearchIndex::columnsCopied(sqlite3* db, const Names& names)
{
    Statement statement(db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = %1")
                                .arg(literal(tableName("RowsToCopy", names))));
    return statement && sqlite3_step(statement.handle) == SQLITE_ROW &&
           sqlite3_column_int(statement.handle, 0) == 0;
}

bool SearchIndex::indexKeys(sqlite3* db, const Names& names, const std::vector<qint64>& keys,
                            qint64 budgetBytes, bool* left)
{
    *left = false;
    if (keys.empty())
        return true;
    if (!exec(db, QStringLiteral("SAVEPOINT quillary_search_keys")))
        return false;
    Indexer indexer(db, names);
    bool ok = indexer.ready();
    qint64 bytes = 0;
    for (size_t i = 0; ok && i < keys.size(); ++i) {
        if (!indexer.pending(keys[i]))
            continue;
        if (bytes >= budgetBytes) {
            *left = true;
            continue;
        }
        ok = indexer.index(keys[i], &bytes);
    }
    indexer.isPending.reset();
    if (!ok) {
        // The rows stay pending, to be indexed later; the save goes on.
        *left = true;
        exec(db, QStringLiteral("ROLLBACK TO quillary_search_keys"));
    }
    exec(db, QStringLiteral("RELEASE quillary_search_keys"));
    return ok;
}

std::optional<qint64> SearchIndex::indexPending(sqlite3* db, const Names& names, int limit, qint64 maxBytes)
{
    if (!exec(db, QStringLiteral("BEGIN IMMEDIATE")))
        return std::nullopt;
    auto fail = [&]() -> std::optional<qint64> {
        exec(db, QStringLiteral("ROLLBACK"));
        return std::nullopt;
    };
    bool moreToCopy = false;
    if (!copyRows(db, names, &moreToCopy))
        return fail();
    std::vector<qint64> keys;
    {
        Statement statement(
            db, QStringLiteral("SELECT pk FROM %1 ORDER BY pk LIMIT %2").arg(pendingTable(names)).arg(limit));
        if (!statement)
            return fail();
        keys = column(statement);
    }
    {
        Indexer indexer(db, names);
        if (!indexer.ready())
            return fail();
        qint64 bytes = 0;
        for (qint64 key : keys) {
            if (!indexer.index(key, &bytes))
                return fail();
            // A transaction holds the write lock: keep it short for the
            // application's saves.
            if (bytes > maxBytes)
                break;
        }
    }
    qint64 remaining = -1;
    {
        Statement statement(db, QStringLiteral("SELECT count(*) FROM %1").arg(pendingTable(names)));
        if (statement && sqlite3_step(statement.handle) == SQLITE_ROW)
            remaining = sqlite3_column_int64(statement.handle, 0);
    }
    // Every row indexed: a step of merging the segments the saves left
    // (each save adds one), a few pages at a time so that a save waiting
    // for the store is not held up for long. SQLite counts two changes or
    // more when it merged something, and there may be more to merge.
    if (remaining == 0) {
        for (const char* kind : {"", "Short"}) {
            const int before = sqlite3_total_changes(db);
            if (!exec(db, QStringLiteral("INSERT INTO %1 (%1, rank) VALUES ('merge', 64)")
                              .arg(sqlQuoted(tableName(kind, names)))))
                return fail();
            if (sqlite3_total_changes(db) - before >= 2)
                remaining = 1;
        }
    }
    if (remaining < 0 || !exec(db, QStringLiteral("COMMIT")))
        return fail();
    return moreToCopy ? std::max<qint64>(remaining, 1) : remaining;
}

SearchIndex::Reader::Reader(const QString& path, const Names& names) : m_names(names)
{
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK ||
        !registerTokenizer(m_db) || !registerSqliteFunctions(m_db)) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return;
    }
    sqlite3_busy_timeout(m_db, 2000);
    Statement statement(m_db,
                        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN (%1, %2, %3, %4)")
                            .arg(literal(tableName("", names)), literal(tableName("Short", names)),
                                 literal(tableName("Pending", names)), literal(tableName("Rows", names))));
    const bool present = statement && sqlite3_step(statement.handle) == SQLITE_ROW &&
                         sqlite3_column_int(statement.handle, 0) == 4;
    sqlite3_finalize(statement.handle);
    statement.handle = nullptr;
    if (!present) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

SearchIndex::Reader::~Reader()
{
    if (m_db)
        sqlite3_close_v2(m_db);
}

qint64 SearchIndex::Reader::pendingCount()
{
    if (!m_db)
        return -1;
    Statement statement(m_db, QStringLiteral("SELECT count(*) FROM %1").arg(pendingTable(m_names)));
    if (!statement || sqlite3_step(statement.handle) != SQLITE_ROW)
        return -1;
    return sqlite3_column_int64(statement.handle, 0);
}

std::optional<std::vector<qint64>> SearchIndex::Reader::keysMatching(const QStringList& words)
{
    if (!m_db)
        return std::nullopt;
    struct Word
    {
        QString typed;
        QByteArray folded;
        qsizetype characters = 0;
    };
    std::vector<Word> folded;
    for (const QString& word : words) {
        // An empty word is part of every text, even of a missing one.
        if (word.isEmpty())
            continue;
        const QString f = kFolding.fold(word);
        folded.push_back({word, f.toUtf8(), qsizetype(f.toUcs4().size())});
    }
    // The longest words first: they find the fewest rows.
    std::stable_sort(folded.begin(), folded.end(),
                     [](const Word& a, const Word& b) { return a.characters > b.characters; });

    if (!exec(m_db, QStringLiteral("BEGIN")))
        return std::nullopt;
    struct End
    {
        sqlite3* db;
        ~End() { sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr); }
    } end{m_db};

    std::optional<std::vector<qint64>> found;
    Statement trigrams(
        m_db,
        QStringLiteral("SELECT rowid FROM %1 WHERE %1 MATCH ? ORDER BY rowid").arg(trigramTable(m_names)));
    Statement grams(
        m_db, QStringLiteral("SELECT rowid FROM %1 WHERE %1 MATCH ? ORDER BY rowid").arg(gramTable(m_names)));
    Statement text(m_db, QStringLiteral("SELECT folded FROM %1 WHERE rowid = ?").arg(trigramTable(m_names)));
    Statement scan(m_db,
                   QStringLiteral("SELECT rowid FROM %1 WHERE instr(CAST(folded AS BLOB), ?) > 0 ORDER BY "
                                  "rowid")
                       .arg(trigramTable(m_names)));
    if (!trigrams || !grams || !text || !scan)
        return std::nullopt;

    // A word that folds to nothing (a lone accent) is in every text, also
    // an empty one, but not in a missing one.
    Statement withText(m_db, QStringLiteral("SELECT pk FROM %1 WHERE %2 IS NOT NULL ORDER BY pk")
                                 .arg(sqlQuoted(m_names.entity), sqlQuoted(m_names.attribute)));
    if (!withText)
        return std::nullopt;
    if (folded.empty())
        found = column(withText);
    checkVersion();
    auto checkTexts = [&](const std::vector<qint64>& candidates, const QByteArray& needle) {
        std::vector<qint64> kept;
        for (qint64 key : candidates) {
            text.reset();
            sqlite3_bind_int64(text.handle, 1, key);
            if (sqlite3_step(text.handle) != SQLITE_ROW)
                continue;
            const char* bytes = static_cast<const char*>(sqlite3_column_blob(text.handle, 0));
            const size_t size = size_t(sqlite3_column_bytes(text.handle, 0));
            if (needle.isEmpty() ||
                (bytes && ::memmem(bytes, size, needle.constData(), size_t(needle.size()))))
                kept.push_back(key);
        }
        text.reset();
        return kept;
    };
    auto remember = [&](const QByteArray& word, const std::vector<qint64>& keys) {
        std::erase_if(m_cache, [&](const auto& entry) { return entry.first == word; });
        m_cache.emplace_back(word, keys);
        if (m_cache.size() > 4)
            m_cache.erase(m_cache.begin());
    };
    // Words already looked up (the earlier words of a query being typed)
    // go first: they cost nothing.
    std::stable_partition(folded.begin(), folded.end(),
                          [&](const Word& word) { return cachedKeys(word.folded) != nullptr; });
    for (const Word& word : folded) {
        const std::vector<qint64>* cached = cachedKeys(word.folded);
        std::vector<qint64> keys;
        if (cached) {
            keys = *cached;
        } else if (found && found->size() < CheckTextsBelow) {
            // Few candidates: look for the word in their texts.
            found = checkTexts(*found, word.folded);
            continue;
        } else {
            // A word that extends one looked up before (the same word, a key
            // further on) is in a part of that one's rows: when few, their
            // texts are read rather than the index.
            const std::vector<qint64>* shorter = nullptr;
            for (const auto& [earlier, earlierKeys] : m_cache) {
                if (word.folded.contains(earlier) && (!shorter || earlierKeys.size() < shorter->size()))
                    shorter = &earlierKeys;
            }
            if (shorter && shorter->size() < CheckTextsBelow) {
                keys = checkTexts(*shorter, word.folded);
            } else if (word.folded.contains('\0')) {
                // Not something a full-text query can spell: every text is read.
                sqlite3_bind_blob(scan.handle, 1, word.folded.constData(), int(word.folded.size()),
                                  SQLITE_STATIC);
                keys = column(scan);
            } else {
                QByteArray phrase = word.folded;
                phrase.replace('"', "\"\"");
                phrase = '"' + phrase + '"';
                Statement& statement = word.characters >= 3 ? trigrams : grams;
                sqlite3_bind_text(statement.handle, 1, phrase.constData(), int(phrase.size()),
                                  SQLITE_TRANSIENT);
                keys = word.characters == 0 ? column(withText) : column(statement);
            }
            remember(word.folded, keys);
        }
        if (!found) {
            found = std::move(keys);
        } else {
            std::vector<qint64> both;
            std::set_intersection(found->begin(), found->end(), keys.begin(), keys.end(),
                                  std::back_inserter(both));
            found = std::move(both);
        }
    }

    // Rows not indexed yet (another build wrote them, or a large save left
    // them) are read and folded here, exactly as a predicate does it.
    std::vector<qint64> pending;
    {
        Statement statement(m_db, QStringLiteral("SELECT pk FROM %1 ORDER BY pk").arg(pendingTable(m_names)));
        if (!statement)
            return std::nullopt;
        pending = column(statement);
    }
    if (pending.empty())
        return found;
    std::vector<qint64> indexed;
    std::set_difference(found->begin(), found->end(), pending.begin(), pending.end(),
                        std::back_inserter(indexed));
    QString sql = QStringLiteral("SELECT pk FROM %1 WHERE pk IN (SELECT pk FROM %2) AND %3 IS NOT NULL")
                      .arg(sqlQuoted(m_names.entity), pendingTable(m_names), sqlQuoted(m_names.attribute));
    for (size_t i = 0; i < folded.size(); ++i)
        sql += QStringLiteral(" AND quillary_contains(CAST(%1 AS TEXT), ?, 3)")
                   .arg(sqlQuoted(m_names.attribute));
    sql += QStringLiteral(" ORDER BY pk");
    Statement statement(m_db, sql);
    if (!statement)
        return std::nullopt;
    for (size_t i = 0; i < folded.size(); ++i) {
        const QByteArray typed = folded[i].typed.toUtf8();
        sqlite3_bind_text(statement.handle, int(i) + 1, typed.constData(), int(typed.size()),
                          SQLITE_TRANSIENT);
    }
    const std::vector<qint64> unindexed = column(statement);
    std::vector<qint64> all;
    std::merge(indexed.begin(), indexed.end(), unindexed.begin(), unindexed.end(), std::back_inserter(all));
    return all;
}

void SearchIndex::Reader::checkVersion()
{
    // Another connection (a save here or in another process) changed the
    // file: what is kept from earlier searches is gone.
    Statement version(m_db, QStringLiteral("PRAGMA data_version"));
    const qint64 now =
        version && sqlite3_step(version.handle) == SQLITE_ROW ? sqlite3_column_int64(version.handle, 0) : -2;
    if (now != m_dataVersion || now < 0) {
        m_cache.clear();
        m_whereKeys.reset();
    }
    m_dataVersion = now;
}

QString SearchIndex::copiedColumnsTable(const Names& names)
{
    return rowsTable(names);
}

std::optional<std::vector<qint64>> SearchIndex::Reader::keysWhere(const QString& condition,
                                                                  const QVariantList& bindings)
{
    if (!m_db)
        return std::nullopt;
    checkVersion();
    if (m_whereKeys && condition == m_whereCondition && bindings == m_whereBindings)
        return m_whereKeys;
    QString sql = QStringLiteral("SELECT pk FROM %1 WHERE %2 ORDER BY pk").arg(rowsTable(m_names), condition);
    QVariantList values = bindings;
    if (!columnsCopied(m_db, m_names)) {
        // The file's rows are still being copied: those not copied yet are
        // read from the entity's own table (the columns have the same names
        // in both).
        std::optional<qint64> copied;
        if (!rowsCopiedUpTo(m_db, m_names, &copied))
            return std::nullopt;
        const QString entity = sqlQuoted(m_names.entity);
        if (!copied) {
            sql = QStringLiteral("SELECT pk FROM %1 WHERE %2 ORDER BY pk").arg(entity, condition);
        } else {
            // (The condition twice, each with its own bindings.)
            sql = QStringLiteral("SELECT pk FROM %1 WHERE (%3) AND pk <= %4 UNION ALL "
                                 "SELECT pk FROM %2 WHERE (%3) AND pk > %4 ORDER BY pk")
                      .arg(rowsTable(m_names), entity, condition)
                      .arg(*copied);
            values += bindings;
        }
    }
    return whereKeys(sql, values, condition, bindings);
}

std::optional<std::vector<qint64>> SearchIndex::Reader::whereKeys(const QString& sql,
                                                                  const QVariantList& values,
                                                                  const QString& condition,
                                                                  const QVariantList& bindings)
{
    Statement statement(m_db, sql);
    if (!statement)
        return std::nullopt;
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& value = values.at(i);
        if (value.typeId() == QMetaType::Double)
            sqlite3_bind_double(statement.handle, i + 1, value.toDouble());
        else if (value.typeId() == QMetaType::QString) {
            const QByteArray utf8 = value.toString().toUtf8();
            sqlite3_bind_text(statement.handle, i + 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        } else
            sqlite3_bind_int64(statement.handle, i + 1, value.toLongLong());
    }
    m_whereKeys = column(statement);
    m_whereCondition = condition;
    m_whereBindings = bindings;
    return m_whereKeys;
}

const std::vector<qint64>* SearchIndex::Reader::cachedKeys(const QByteArray& folded) const
{
    for (const auto& [word, keys] : m_cache) {
        if (word == folded)
            return &keys;
    }
    return nullptr;
}

SearchIndex::Builder::Builder(Step step, const QString& checkpointPath)
    : m_step(std::move(step)), m_checkpointPath(checkpointPath), m_thread([this] { run(); })
{
}

SearchIndex::Builder::~Builder()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_condition.notify_all();
    m_thread.join();
    if (m_checkpointDb)
        sqlite3_close_v2(m_checkpointDb);
}

void SearchIndex::Builder::checkpoint()
{
    {
        std::lock_guard lock(m_mutex);
        m_checkpoint = true;
    }
    m_condition.notify_all();
}

void SearchIndex::Builder::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_work = true;
        m_idle = false;
    }
    m_condition.notify_all();
}

bool SearchIndex::Builder::waitUntilIdle(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_condition.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        return m_idle || m_stop;
    }) && m_idle;
}

void SearchIndex::Builder::copyLog()
{
    if (m_checkpointPath.isEmpty())
        return;
    if (!m_checkpointDb &&
        sqlite3_open_v2(m_checkpointPath.toUtf8().constData(), &m_checkpointDb,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(m_checkpointDb);
        m_checkpointDb = nullptr;
        return;
    }
    // Passive: as far as readers allow, never waiting for a writer.
    int frames = 0, copied = 0;
    sqlite3_wal_checkpoint_v2(m_checkpointDb, "main", SQLITE_CHECKPOINT_PASSIVE, &frames, &copied);
}

bool SearchIndex::Builder::pause(int ms)
{
    std::unique_lock lock(m_mutex);
    return !m_condition.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop; });
}

void SearchIndex::Builder::run()
{
    int failures = 0;
    for (;;) {
        bool checkpoint = false;
        {
            std::unique_lock lock(m_mutex);
            m_condition.wait(lock, [this] { return m_stop || m_work || m_checkpoint; });
            if (m_stop)
                break;
            checkpoint = m_checkpoint;
            m_checkpoint = false;
            if (!m_work) {
                lock.unlock();
                if (checkpoint)
                    copyLog();
                continue;
            }
            m_work = false;
        }
        for (;;) {
            bool busy = false;
            const std::optional<qint64> left = m_step(&busy);
            if (!left && busy) {
                // The store is in use (a save, a fetch, another process):
                // its work goes first.
                if (!pause(20))
                    return;
                continue;
            }
            if (!left) {
                // The rows stay pending (searches read them), and the next
                // wake() tries again.
                if (++failures % 10 == 1)
                    log(QStringLiteral("Indexing notes for search failed"));
                break;
            }
            failures = 0;
            if (*left == 0) {
                std::lock_guard lock(m_mutex);
                if (!m_work)
                    m_idle = true;
                break;
            }
            // Between batches, a save waiting for the store goes first.
            if (!pause(1))
                return;
        }
        m_condition.notify_all();
    }
}

} // namespace platform
