#include "platform/data/PersistentStoreCoordinator.h"

#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/data/SqlName.h"
#include "platform/predicate/Predicate.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include <sqlite3.h>

namespace platform {

namespace {

const QString ErrorDomain = QStringLiteral("QuillaryStore");
// The next free key of each entity, shared by every process that writes the
// file. A process reserves a range of keys at a time and hands them out from
// memory, so new records never need the write lock before their save.
const char* const KeyTable = "QuillaryKeyRanges";
constexpr qint64 KeyRangeSize = 64;

QString columnType(AttributeType type)
{
    switch (type) {
    case AttributeType::String:
        return QStringLiteral("TEXT");
    case AttributeType::Double:
        return QStringLiteral("REAL");
    case AttributeType::Boolean:
    case AttributeType::Integer:
        return QStringLiteral("INTEGER");
    }
    return QStringLiteral("BLOB");
}

QString sqlLiteral(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return QStringLiteral("NULL");
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', 17);
    case QMetaType::Int:
    case QMetaType::LongLong:
        return QString::number(value.toLongLong());
    default: {
        QString text = value.toString();
        text.replace(QLatin1Char('\''), QStringLiteral("''"));
        return QLatin1Char('\'') + text + QLatin1Char('\'');
    }
    }
}

std::vector<const AttributeDescription*> storedAttributes(const EntityDescription& entity)
{
    std::vector<const AttributeDescription*> stored;
    for (const auto& attribute : entity.attributes) {
        if (!attribute.transient)
            stored.push_back(&attribute);
    }
    return stored;
}

// UTF-8 for SQLite. An unpaired surrogate has no UTF-8 form; it is written
// as U+FFFD (as a value coerced on its way in already is) rather than as the
// "?" that QString::toUtf8 would put in its place.
QByteArray textBytes(const QString& text)
{
    return replaceUnpairedSurrogates(text).toUtf8();
}

// Finalizes on every path out of a scope.
struct Statement
{
    sqlite3_stmt* handle = nullptr;
    ~Statement() { sqlite3_finalize(handle); }
};

bool bindValue(sqlite3_stmt* statement, int index, const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return sqlite3_bind_null(statement, index) == SQLITE_OK;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return sqlite3_bind_int(statement, index, value.toBool() ? 1 : 0) == SQLITE_OK;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return sqlite3_bind_int64(statement, index, value.toLongLong()) == SQLITE_OK;
    case QMetaType::ULongLong:
        return sqlite3_bind_double(statement, index, value.toDouble()) == SQLITE_OK;
    case QMetaType::Double:
    case QMetaType::Float:
        return sqlite3_bind_double(statement, index, value.toDouble()) == SQLITE_OK;
    default: {
        const QByteArray utf8 = textBytes(value.toString());
        return sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) ==
               SQLITE_OK;
    }
    }
}

QString columnText(sqlite3_stmt* statement, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
                             sqlite3_column_bytes(statement, column));
}

// As QChar::isSpace, with the common case first.
bool isWhiteSpace(char32_t c)
{
    if (c < 0x80)
        return c == ' ' || (c >= 0x09 && c <= 0x0D);
    return QChar::isSpace(c);
}

bool isLineBreak(char32_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// One character of UTF-8 at `at` (which is before `end`), and how many bytes
// it takes; a byte that starts no valid sequence counts as one character, as
// QString::fromUtf8 makes it one replacement character.
char32_t decodeUtf8(const unsigned char* at, const unsigned char* end, int* length)
{
    const unsigned char lead = *at;
    if (lead < 0x80) {
        *length = 1;
        return lead;
    }
    int size = lead < 0x80           ? 1
               : (lead >> 5) == 0x6  ? 2
               : (lead >> 4) == 0xE  ? 3
               : (lead >> 3) == 0x1E ? 4
                                     : 0;
    if (size == 0 || end - at < size) {
        *length = 1;
        return 0xFFFD;
    }
    char32_t c = size == 1 ? lead : lead & (0x7F >> size);
    for (int i = 1; i < size; ++i) {
        if ((at[i] & 0xC0) != 0x80) {
            *length = 1;
            return 0xFFFD;
        }
        c = (c << 6) | (at[i] & 0x3F);
    }
    *length = size;
    return c;
}

// quillary_first_line(text, length): see FirstLineKey. Works on the UTF-8 in
// place, so that a title costs its own length rather than its note's.
void firstLineFunction(sqlite3_context* context, int, sqlite3_value** arguments)
{
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto* text = sqlite3_value_text(arguments[0]);
    const auto* end = text + sqlite3_value_bytes(arguments[0]);
    const qint64 maxLength = sqlite3_value_int64(arguments[1]);
    const unsigned char* start = text;
    int length = 0;
    while (start < end) {
        const char32_t c = decodeUtf8(start, end, &length);
        if (!isWhiteSpace(c))
            break;
        start += length;
    }
    // Up to the first line break, or the length, whichever comes first;
    // most characters are ASCII and need no decoding.
    const unsigned char* at = start;
    qint64 units = 0;
    bool cut = false;
    while (at < end) {
        // Eight bytes at a time while they are ASCII and no line break.
        constexpr quint64 Ones = 0x0101010101010101ULL;
        constexpr quint64 High = 0x8080808080808080ULL;
        while (end - at >= 8 && units + 8 <= maxLength) {
            quint64 word;
            std::memcpy(&word, at, 8);
            // A byte of 0x80 or more, or one from 0x0A to 0x0D.
            const quint64 between = (Ones * (127 + 0x0E) - (word & ~High)) & ~word &
                                    ((word & ~High) + Ones * (127 - 0x09)) & High;
            if ((word & High) || between)
                break;
            at += 8;
            units += 8;
        }
        if (at >= end)
            break;
        const unsigned char byte = *at;
        if (byte < 0x80) {
            if ((byte >= 0x0A && byte <= 0x0D) || units + 1 > maxLength) {
                cut = true;
                break;
            }
            ++units;
            ++at;
            continue;
        }
        const char32_t c = decodeUtf8(at, end, &length);
        const int width = c > 0xFFFF ? 2 : 1;
        if (isLineBreak(c) || units + width > maxLength) {
            cut = true;
            break;
        }
        units += width;
        at += length;
    }
    // The text's trailing white space goes first, line breaks and all: a
    // line followed by nothing but white space loses its own; a line that
    // goes on keeps it.
    if (cut) {
        const unsigned char* rest = at;
        while (rest < end) {
            const char32_t c = decodeUtf8(rest, end, &length);
            if (!isWhiteSpace(c))
                break;
            rest += length;
        }
        cut = rest < end;
    }
    const unsigned char* stop = at;
    if (!cut) {
        while (stop > start) {
            const unsigned char* previous = stop - 1;
            while (previous > start && stop - previous < 4 && (*previous & 0xC0) == 0x80)
                --previous;
            int size = 0;
            const char32_t c = decodeUtf8(previous, stop, &size);
            if (previous + size != stop || !isWhiteSpace(c))
                break;
            stop = previous;
        }
    }
    sqlite3_result_text(context, reinterpret_cast<const char*>(start), int(stop - start), SQLITE_TRANSIENT);
}

// The WHERE part of a read of `entity`: the predicate's conditions on its
// stored keys and `more`, all of them ("" when there are none), with the
// bindings of both in order.
SqlWhere whereClause(const EntityDescription& entity, const Predicate* predicate,
                     const QStringList& more = {}, const QVariantList& moreBindings = {})
{
    SqlWhere where;
    if (predicate) {
        where = predicate->toSql([&](const QString& key) {
            const AttributeDescription* attribute = entity.attribute(key);
            return attribute && !attribute->transient ? sqlQuoted(key) : QString();
        });
    }
    QStringList conditions;
    if (!where.clause.isEmpty())
        conditions << QStringLiteral("(") + where.clause + QStringLiteral(")");
    conditions << more;
    where.clause = conditions.isEmpty()
                       ? QString()
                       : QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    where.bindings << moreBindings;
    return where;
}

} // namespace

PersistentStoreCoordinator::PersistentStoreCoordinator(std::shared_ptr<const ManagedObjectModel> model)
    : m_model(std::move(model))
{
}

PersistentStoreCoordinator::~PersistentStoreCoordinator()
{
    if (m_db)
        sqlite3_wal_hook(m_db, nullptr, nullptr);
    m_searchBuilders.clear();
    finalizeCachedStatements();
    if (m_db)
        sqlite3_close_v2(m_db);
}

sqlite3_stmt* PersistentStoreCoordinator::cachedStatement(const QByteArray& sql)
{
    if (auto found = m_fetchStatements.find(sql); found != m_fetchStatements.end())
        return found->second;
    // Searches make fetches of many shapes: the cache stays small.
    if (m_fetchStatements.size() >= 32)
        finalizeCachedStatements();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(m_db, sql.constData(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &statement,
                           nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    m_fetchStatements.emplace(sql, statement);
    return statement;
}

void PersistentStoreCoordinator::finalizeCachedStatements()
{
    for (const auto& [sql, statement] : m_fetchStatements)
        sqlite3_finalize(statement);
    m_fetchStatements.clear();
}

Error PersistentStoreCoordinator::sqliteError(const QString& what) const
{
    Error error;
    error.domain = ErrorDomain;
    error.code = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
    error.localizedDescription = what;
    if (m_db)
        error.userInfo.insert(QStringLiteral("reason"), QString::fromUtf8(sqlite3_errmsg(m_db)));
    error.userInfo.insert(QStringLiteral("path"), m_path);
    return error;
}

bool PersistentStoreCoordinator::exec(const QString& sql, Error* error)
{
    if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    if (error)
        *error = sqliteError(QStringLiteral("The store could not be changed"));
    return false;
}

bool PersistentStoreCoordinator::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_db != nullptr;
}

bool PersistentStoreCoordinator::open(const QString& path, Error* error)
{
    std::lock_guard lock(m_mutex);
    // Another process creating or migrating the same file holds it for a
    // moment. SQLite answers some of those moments with "busy" at once,
    // without its busy timeout (where waiting could deadlock), so an open that
    // met only that is tried again for a while rather than failing start-up.
    constexpr int Attempts = 50;
    Error failure;
    for (int attempt = 1;; ++attempt) {
        if (openOnce(path, &failure))
            return true;
        if ((failure.code & 0xff) != SQLITE_BUSY || attempt == Attempts)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (error)
        *error = failure;
    return false;
}

bool PersistentStoreCoordinator::openOnce(const QString& path, Error* error)
{
    finalizeCachedStatements();
    m_path = path;
    auto fail = [&](const QString& what, int code = 0) {
        Error failure = sqliteError(what);
        if (code)
            failure.code = code;
        if (error)
            *error = failure;
        if (m_db) {
            sqlite3_close_v2(m_db);
            m_db = nullptr;
        }
        return false;
    };
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
        return fail(QStringLiteral("The store file could not be opened"));
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, m_busyTimeout);
    // SQLite falls back to reading only when the file cannot be written, and
    // says so only at the first save, when the edits it holds would be lost.
    if (sqlite3_db_readonly(m_db, "main") == 1)
        return fail(QStringLiteral("The store file is read-only"), SQLITE_READONLY);

    // Reading the header first refuses a file that is not a database before
    // anything is written to it. Both reads see one state of the file: another
    // process may be creating the schema of a new file right now.
    if (sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(QStringLiteral("The store file could not be opened"));
    int fileVersion = -1;
    {
        Statement statement;
        if (sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &statement.handle, nullptr) != SQLITE_OK ||
            sqlite3_step(statement.handle) != SQLITE_ROW)
            return fail(QStringLiteral("The store file is not a database"));
        fileVersion = sqlite3_column_int(statement.handle, 0);
    }
    int schemaObjects = 0;
    {
        Statement statement;
        if (sqlite3_prepare_v2(m_db, "SELECT count(*) FROM sqlite_master", -1, &statement.handle, nullptr) !=
                SQLITE_OK ||
            sqlite3_step(statement.handle) != SQLITE_ROW)
            return fail(QStringLiteral("The store file is not a database"));
        schemaObjects = sqlite3_column_int(statement.handle, 0);
    }
    sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    // Every file this layer writes carries a version; a database without one
    // that already holds tables belongs to someone else and is left alone.
    if (fileVersion == 0 && schemaObjects > 0)
        return fail(QStringLiteral("The store file is a database of another kind"), SQLITE_CANTOPEN);
    if (fileVersion > m_model->version)
        return fail(QStringLiteral("The store file was written by a newer version (%1, this is %2)")
                        .arg(fileVersion)
                        .arg(m_model->version),
                    SQLITE_CANTOPEN);
    if (!registerSqliteFunctions(m_db) ||
        sqlite3_create_function_v2(m_db, "quillary_first_line", 2,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   &firstLineFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(QStringLiteral("The store's functions could not be registered"));
    // Without it (a SQLite without FTS5) the file simply gets no search index.
    SearchIndex::registerTokenizer(m_db);
    m_searchBuilders.clear();
    m_searchIndexes.clear();
    Error migrationError;
    if (!migrate(fileVersion, &migrationError)) {
        if (error)
            *error = migrationError;
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    // WAL only once the file is known to be ours: a reader never blocks the
    // writer, and a killed process leaves every committed save in place.
    if (!exec(QStringLiteral("PRAGMA journal_mode=WAL"), error) ||
        !exec(QStringLiteral("PRAGMA synchronous=NORMAL"), error))
        return fail(QStringLiteral("The store file could not be opened"));
    // Rows left pending (an index new to this file, another build's writes)
    // are indexed in the background.
    for (const SearchIndex::Names& names : m_searchIndexes)
        m_searchBuilders.push_back(std::make_unique<SearchIndex::Builder>(
            [this, names](bool* busy) { return indexPendingRows(names, busy); },
            m_searchBuilders.empty() ? path : QString()));
    // The index makes saves write more of the log: once it holds as much as
    // SQLite's own automatic checkpoint lets it, the first builder copies it
    // into the file in the background, not the save that filled it. (The
    // hook takes the place of that automatic checkpoint.)
    if (!m_searchBuilders.empty()) {
        sqlite3_wal_hook(
            m_db,
            [](void* builder, sqlite3*, const char*, int pages) {
                if (pages >= 1000)
                    static_cast<SearchIndex::Builder*>(builder)->checkpoint();
                return SQLITE_OK;
            },
            m_searchBuilders.front().get());
    }
    return true;
}

bool PersistentStoreCoordinator::migrate(int fromVersion, Error* error)
{
    // Even a current file gets missing tables and columns added, so an
    // interrupted or hand-edited schema heals; all of it in one transaction.
    if (!exec(QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    auto rollback = [&] {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    };
    // Another process opening the same new file may have migrated it since
    // its version was read: steps run once.
    {
        Statement statement;
        if (sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &statement.handle, nullptr) != SQLITE_OK ||
            sqlite3_step(statement.handle) != SQLITE_ROW) {
            if (error)
                *error = sqliteError(QStringLiteral("The store's schema could not be read"));
            return rollback();
        }
        fromVersion = sqlite3_column_int(statement.handle, 0);
    }
    if (fromVersion > m_model->version) {
        if (error)
            *error = Error{ErrorDomain,
                           SQLITE_CANTOPEN,
                           QStringLiteral("The store file was written by a newer version (%1, this is %2)")
                               .arg(fromVersion)
                               .arg(m_model->version),
                           {},
                           {}};
        return rollback();
    }
    for (const auto& entity : m_model->entities) {
        QStringList columns{QStringLiteral("pk INTEGER PRIMARY KEY"),
                            QStringLiteral("version INTEGER NOT NULL DEFAULT 1")};
        for (const auto* attribute : storedAttributes(entity)) {
            QString column = sqlQuoted(attribute->name) + QLatin1Char(' ') + columnType(attribute->type);
            if (attribute->defaultValue.isValid())
                column += QStringLiteral(" DEFAULT ") + sqlLiteral(attribute->defaultValue);
            columns << column;
        }
        if (!exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2)")
                      .arg(sqlQuoted(entity.name), columns.join(u", ")),
                  error))
            return rollback();
        QStringList existing;
        {
            Statement statement;
            const QByteArray sql =
                QStringLiteral("PRAGMA table_info(%1)").arg(sqlQuoted(entity.name)).toUtf8();
            if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &statement.handle, nullptr) != SQLITE_OK) {
                if (error)
                    *error = sqliteError(QStringLiteral("The store's schema could not be read"));
                return rollback();
            }
            while (sqlite3_step(statement.handle) == SQLITE_ROW)
                existing << QString::fromUtf8(
                    reinterpret_cast<const char*>(sqlite3_column_text(statement.handle, 1)));
        }
        if (!existing.contains(QStringLiteral("pk")) || !existing.contains(QStringLiteral("version"))) {
            if (error)
                *error =
                    Error{ErrorDomain,
                          SQLITE_CANTOPEN,
                          QStringLiteral("The store's table %1 is not in the expected form").arg(entity.name),
                          {},
                          {}};
            return rollback();
        }
        for (const auto* attribute : storedAttributes(entity)) {
            if (existing.contains(attribute->name))
                continue;
            QString sql =
                QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                    .arg(sqlQuoted(entity.name), sqlQuoted(attribute->name), columnType(attribute->type));
            if (attribute->defaultValue.isValid())
                sql += QStringLiteral(" DEFAULT ") + sqlLiteral(attribute->defaultValue);
            if (!exec(sql, error))
                return rollback();
        }
        for (const auto* attribute : storedAttributes(entity)) {
            if (!attribute->indexed)
                continue;
            const QString index = sqlQuoted(entity.name + QLatin1Char('_') + attribute->name);
            if (!exec(QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3)")
                          .arg(index, sqlQuoted(entity.name), sqlQuoted(attribute->name)),
                      error))
                return rollback();
        }
    }
    for (const auto& entity : m_model->entities) {
        for (const auto* attribute : storedAttributes(entity)) {
            if (!attribute->searchIndexed)
                continue;
            SearchIndex::Names names{entity.name, attribute->name, {}};
            for (const auto* other : storedAttributes(entity)) {
                if (other->type != AttributeType::String)
                    names.columns << other->name;
            }
            QString why;
            if (SearchIndex::migrate(m_db, names, &why))
                m_searchIndexes.push_back(names);
            else
                log(QStringLiteral("No search index for %1.%2: %3").arg(entity.name, attribute->name, why));
        }
    }
    if (!exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (entity TEXT PRIMARY KEY, next INTEGER NOT NULL)")
                  .arg(sqlQuoted(QString::fromLatin1(KeyTable))),
              error))
        return rollback();
    for (const auto& [version, steps] : m_model->migrationSteps) {
        if (version <= fromVersion || version > m_model->version)
            continue;
        for (const auto& sql : steps) {
            if (!exec(sql, error))
                return rollback();
        }
    }
    if (fromVersion != m_model->version &&
        !exec(QStringLiteral("PRAGMA user_version=%1").arg(m_model->version), error))
        return rollback();
    if (!exec(QStringLiteral("COMMIT"), error))
        return rollback();
    return true;
}

bool PersistentStoreCoordinator::waitForSearchIndex(int timeoutMs)
{
    std::vector<SearchIndex::Builder*> builders;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& builder : m_searchBuilders)
            builders.push_back(builder.get());
    }
    bool idle = true;
    for (SearchIndex::Builder* builder : builders)
        idle = builder->waitUntilIdle(timeoutMs) && idle;
    return idle;
}

std::optional<qint64> PersistentStoreCoordinator::indexPendingRows(const SearchIndex::Names& names,
                                                                   bool* busy)
{
    // Never waits for the lock: open() joins the builder while holding it.
    std::unique_lock lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock() || !m_db) {
        *busy = lock.owns_lock() == false;
        return std::nullopt;
    }
    // Another process writing the file: no waiting under the lock either.
    sqlite3_busy_timeout(m_db, 0);
    const std::optional<qint64> left = SearchIndex::indexPending(m_db, names, 256, 128 << 10);
    *busy = !left && (sqlite3_errcode(m_db) & 0xff) == SQLITE_BUSY;
    sqlite3_busy_timeout(m_db, m_busyTimeout);
    return left;
}

void PersistentStoreCoordinator::setBusyTimeout(int milliseconds)
{
    std::lock_guard lock(m_mutex);
    m_busyTimeout = milliseconds;
    if (m_db)
        sqlite3_busy_timeout(m_db, milliseconds);
}

qint64 PersistentStoreCoordinator::largestKey(const QString& entity) const
{
    Statement statement;
    const QByteArray sql = QStringLiteral("SELECT max(pk) FROM %1").arg(sqlQuoted(entity)).toUtf8();
    if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &statement.handle, nullptr) == SQLITE_OK &&
        sqlite3_step(statement.handle) == SQLITE_ROW)
        return sqlite3_column_int64(statement.handle, 0);
    return 0;
}

qint64 PersistentStoreCoordinator::reservedKey(const QString& entity) const
{
    Statement statement;
    const QByteArray sql =
        "SELECT next FROM " + sqlQuoted(QString::fromLatin1(KeyTable)).toUtf8() + " WHERE entity = ?";
    const QByteArray name = entity.toUtf8();
    if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &statement.handle, nullptr) != SQLITE_OK)
        return -1;
    sqlite3_bind_text(statement.handle, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    const int status = sqlite3_step(statement.handle);
    if (status == SQLITE_ROW)
        return sqlite3_column_int64(statement.handle, 0);
    return status == SQLITE_DONE ? 1 : -1;
}

bool PersistentStoreCoordinator::reserveKeys(const QString& entity, qint64 floor, qint64* first, qint64* end)
{
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    auto rollback = [&] {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    };
    qint64 next = reservedKey(entity);
    if (next < 0)
        return rollback();
    // Rows written by a build that counted keys by itself count as taken too,
    // and so do keys this process handed out while the file could not be
    // written (their records may not be in the file yet).
    next = std::max({next, largestKey(entity) + 1, floor, qint64(1)});
    {
        Statement statement;
        const QByteArray sql = "INSERT OR REPLACE INTO " + sqlQuoted(QString::fromLatin1(KeyTable)).toUtf8() +
                               " (entity, next) VALUES (?, ?)";
        const QByteArray name = entity.toUtf8();
        if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &statement.handle, nullptr) != SQLITE_OK)
            return rollback();
        sqlite3_bind_text(statement.handle, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(statement.handle, 2, next + KeyRangeSize);
        if (sqlite3_step(statement.handle) != SQLITE_DONE)
            return rollback();
    }
    if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return rollback();
    *first = next;
    *end = next + KeyRangeSize;
    return true;
}

ObjectID PersistentStoreCoordinator::newObjectID(const QString& entity)
{
    std::lock_guard lock(m_mutex);
    KeyRange& range = m_keyRanges[entity];
    if (range.next >= range.end) {
        qint64 first = 0, end = 0;
        if (m_db && reserveKeys(entity, range.next, &first, &end)) {
            range = {first, end};
        } else {
            // The file could not be written (busy past the timeout, or full).
            // This one key goes past every key in the file, every range
            // reserved so far and every key handed out here; the next new
            // record tries to reserve again.
            qint64 next = range.next;
            if (m_db) {
                log(QStringLiteral("Could not reserve keys for new %1 records: %2")
                        .arg(entity, QString::fromUtf8(sqlite3_errmsg(m_db))));
                next = std::max({next, largestKey(entity) + 1, reservedKey(entity)});
            }
            next = std::max(next, qint64(1));
            range = {next, next + 1};
        }
    }
    return ObjectID{entity, range.next++};
}

QVariantMap PersistentStoreCoordinator::readValues(const std::vector<const AttributeDescription*>& attributes,
                                                   void* handle, int firstColumn) const
{
    QVariantMap values;
    int column = firstColumn;
    for (const auto* attribute : attributes) {
        QVariant value = columnValue(*attribute, handle, column);
        if (value.isValid())
            values.insert(attribute->name, value);
        ++column;
    }
    return values;
}

QVariant PersistentStoreCoordinator::columnValue(const AttributeDescription& attribute, void* handle,
                                                 int column)
{
    auto* statement = static_cast<sqlite3_stmt*>(handle);
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return {};
    switch (attribute.type) {
    case AttributeType::String:
        return columnText(statement, column);
    case AttributeType::Double:
        return sqlite3_column_double(statement, column);
    case AttributeType::Boolean:
        return sqlite3_column_int64(statement, column) != 0;
    case AttributeType::Integer:
        return qint64(sqlite3_column_int64(statement, column));
    }
    return {};
}

const EntityDescription* PersistentStoreCoordinator::readableEntity(const QString& name, Error* error) const
{
    const EntityDescription* entity = m_model->entity(name);
    if (m_db && entity)
        return entity;
    if (error)
        *error = Error{ErrorDomain, SQLITE_MISUSE, QStringLiteral("No such entity: %1").arg(name), {}, {}};
    return nullptr;
}

std::optional<std::vector<StoredRow>> PersistentStoreCoordinator::fetchRows(
    const QString& entityName, const Predicate* predicate, Error* error, const QStringList& deferredKeys,
    const std::vector<FirstLineKey>& firstLines, const std::vector<qint64>* keys, bool asSlots)
{
    std::lock_guard lock(m_mutex);
    const EntityDescription* entity = readableEntity(entityName, error);
    if (!entity)
        return std::nullopt;
    std::vector<const AttributeDescription*> read;
    QStringList unread;
    for (const auto* attribute : storedAttributes(*entity)) {
        if (deferredKeys.contains(attribute->name))
            unread << attribute->name;
        else
            read.push_back(attribute);
    }
    QStringList columns{QStringLiteral("pk"), QStringLiteral("version")};
    for (const auto* attribute : read)
        columns << sqlQuoted(attribute->name);
    std::vector<const FirstLineKey*> derived;
    for (const auto& firstLine : firstLines) {
        const AttributeDescription* source = entity->attribute(firstLine.sourceKey);
        if (!source || source->transient || source->type != AttributeType::String || firstLine.key.isEmpty())
            continue;
        columns << QStringLiteral("quillary_first_line(%1, %2)")
                       .arg(sqlQuoted(firstLine.sourceKey))
                       .arg(std::max(firstLine.maxLength, 0));
        derived.push_back(&firstLine);
    }
    QStringList more;
    QVariantList moreBindings;
    if (keys) {
        // The keys go in as one JSON array: one statement, however many.
        QByteArray list;
        list.reserve(qsizetype(keys->size()) * 8 + 2);
        list += '[';
        for (size_t i = 0; i < keys->size(); ++i) {
            if (i > 0)
                list += ',';
            list += QByteArray::number((*keys)[i]);
        }
        list += ']';
        more << QStringLiteral("pk IN (SELECT value FROM json_each(?))");
        moreBindings << QString::fromLatin1(list);
    }
    const SqlWhere where = whereClause(*entity, predicate, more, moreBindings);
    QString table = sqlQuoted(entityName);
    if (const SearchIndex::Names* copy = keys && !predicate && derived.empty() && !unread.isEmpty()
                                             ? copiedColumns(entityName, read)
                                             : nullptr) {
        // Records read by key for their numbers and flags alone come from
        // the copy the search index keeps of those: many rows to a page,
        // where the entity's own rows, texts and all, take a page or more
        // each. The copy has no versions, which only rows kept as snapshots
        // need, and these are not (their texts are left in the file).
        table = SearchIndex::copiedColumnsTable(*copy);
        columns[1] = QStringLiteral("0");
    }
    const QString sql = QStringLiteral("SELECT %1 FROM %2%3").arg(columns.join(u", "), table, where.clause);
    sqlite3_stmt* const handle = cachedStatement(sql.toUtf8());
    if (!handle) {
        if (error)
            *error = sqliteError(QStringLiteral("The store could not be read"));
        return std::nullopt;
    }
    // Reset on every way out, so that no read stays open on the file.
    struct Reset
    {
        sqlite3_stmt* handle;
        ~Reset()
        {
            sqlite3_reset(handle);
            sqlite3_clear_bindings(handle);
        }
    } statement{handle};
    for (int i = 0; i < where.bindings.size(); ++i)
        bindValue(statement.handle, i + 1, where.bindings.at(i));
    if (!unread.isEmpty() && m_readOnDemand.insert(entityName).second) {
        // From now on the entity's rows are read whole from the file each
        // time: a snapshot would keep alive the texts the lists leave out.
        std::erase_if(m_snapshots, [&](const auto& entry) { return entry.first.entity == entityName; });
    }
    const bool cached = !m_readOnDemand.contains(entityName);
    // Where each value read goes among the entity's attributes, when the
    // rows come as slots.
    std::vector<size_t> slotOf;
    if (asSlots && !cached) {
        for (const auto* attribute : read)
            slotOf.push_back(size_t(attribute - entity->attributes.data()));
        for (const FirstLineKey* firstLine : derived) {
            const AttributeDescription* attribute = entity->attribute(firstLine->key);
            if (!attribute) {
                slotOf.clear();
                break;
            }
            slotOf.push_back(size_t(attribute - entity->attributes.data()));
        }
        if (slotOf.size() != read.size() + derived.size())
            slotOf.clear();
    }
    std::vector<StoredRow> rows;
    if (keys)
        rows.reserve(keys->size());
    const double readAt = platform::now();
    int status;
    while ((status = sqlite3_step(statement.handle)) == SQLITE_ROW) {
        StoredRow row;
        row.objectID = ObjectID{entityName, sqlite3_column_int64(statement.handle, 0)};
        row.version = sqlite3_column_int64(statement.handle, 1);
        row.unread = unread;
        if (!slotOf.empty()) {
            row.slotValues.resize(entity->attributes.size());
            for (size_t i = 0; i < read.size(); ++i)
                row.slotValues[slotOf[i]] = columnValue(*read[i], statement.handle, 2 + int(i));
            for (size_t i = 0; i < derived.size(); ++i) {
                const int column = 2 + int(read.size() + i);
                if (sqlite3_column_type(statement.handle, column) != SQLITE_NULL)
                    row.slotValues[slotOf[read.size() + i]] = columnText(statement.handle, column);
            }
            rows.push_back(std::move(row));
            continue;
        }
        row.values = readValues(read, statement.handle, 2);
        if (cached)
            m_snapshots[row.objectID] = Snapshot{row.values, row.version, readAt};
        int column = 2 + int(read.size());
        for (const FirstLineKey* firstLine : derived) {
            if (sqlite3_column_type(statement.handle, column) != SQLITE_NULL)
                row.values.insert(firstLine->key, columnText(statement.handle, column));
            ++column;
        }
        rows.push_back(std::move(row));
    }
    if (status != SQLITE_DONE) {
        if (error)
            *error = sqliteError(QStringLiteral("The store could not be read"));
        return std::nullopt;
    }
    return rows;
}

const SearchIndex::Names*
PersistentStoreCoordinator::copiedColumns(const QString& entityName,
                                          const std::vector<const AttributeDescription*>& attributes) const
{
    for (const SearchIndex::Names& names : m_searchIndexes) {
        if (names.entity == entityName &&
            std::all_of(attributes.begin(), attributes.end(),
                        [&](const auto* a) { return names.columns.contains(a->name); }))
            // (Until the rows the file held before the copy existed are all
            // in it, the entity's own table answers.)
            return SearchIndex::columnsCopied(m_db, names) ? &names : nullptr;
    }
    return nullptr;
}

std::optional<std::vector<qint64>>
PersistentStoreCoordinator::fetchKeys(const QString& entityName, const Predicate* predicate, Error* error,
                                      std::optional<std::pair<qint64, qint64>> keyRange)
{
    std::lock_guard lock(m_mutex);
    const EntityDescription* entity = readableEntity(entityName, error);
    if (!entity)
        return std::nullopt;
    const SqlWhere where = keyRange ? whereClause(*entity, predicate, {QStringLiteral("pk BETWEEN ? AND ?")},
                                                  {keyRange->first, keyRange->second})
                                    : whereClause(*entity, predicate);
    const QString sql =
        QStringLiteral("SELECT pk FROM %1%2 ORDER BY pk").arg(sqlQuoted(entityName), where.clause);
    Statement statement;
    if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &statement.handle, nullptr) != SQLITE_OK) {
        if (error)
            *error = sqliteError(QStringLiteral("The store could not be read"));
        return std::nullopt;
    }
    for (int i = 0; i < where.bindings.size(); ++i)
        bindValue(statement.handle, i + 1, where.bindings.at(i));
    std::vector<qint64> keys;
    int status;
    while ((status = sqlite3_step(statement.handle)) == SQLITE_ROW)
        keys.push_back(sqlite3_column_int64(statement.handle, 0));
    if (status != SQLITE_DONE) {
        if (error)
            *error = sqliteError(QStringLiteral("The store could not be read"));
        return std::nullopt;
    }
    return keys;
}

std::optional<qint64> PersistentStoreCoordinator::countRows(const QString& entityName,
                                                            const Predicate* predicate, Error* error)
{
    auto rows = fetchRows(entityName, predicate, error);
    if (!rows)
        return std::nullopt;
    return qint64(rows->size());
}

std::optional<QVariantMap> PersistentStoreCoordinator::rowValues(const ObjectID& id, double staleness)
{
    std::lock_guard lock(m_mutex);
    const double currentTime = platform::now();
    const bool cached = !m_readOnDemand.contains(id.entity);
    if (auto found = m_snapshots.find(id); cached && found != m_snapshots.end()) {
        if (staleness < 0 || currentTime - found->second.readAt < staleness)
            return found->second.values;
    }
    const EntityDescription* entity = m_model->entity(id.entity);
    if (!m_db || !entity)
        return std::nullopt;
    // Kept: a list reading its texts on demand reads them one row at a time.
    QByteArray& sql = m_rowSql[id.entity];
    if (sql.isEmpty()) {
        QStringList columns{QStringLiteral("version")};
        for (const auto* attribute : storedAttributes(*entity))
            columns << sqlQuoted(attribute->name);
        sql = QStringLiteral("SELECT %1 FROM %2 WHERE pk = ?")
                  .arg(columns.join(u", "), sqlQuoted(id.entity))
                  .toUtf8();
    }
    sqlite3_stmt* const handle = cachedStatement(sql);
    if (!handle)
        return std::nullopt;
    struct Reset
    {
        sqlite3_stmt* handle;
        ~Reset() { sqlite3_reset(handle); }
    } statement{handle};
    sqlite3_bind_int64(statement.handle, 1, id.key);
    if (sqlite3_step(statement.handle) != SQLITE_ROW) {
        m_snapshots.erase(id);
        return std::nullopt;
    }
    QVariantMap values = readValues(storedAttributes(*entity), statement.handle, 1);
    if (cached)
        m_snapshots[id] = Snapshot{values, sqlite3_column_int64(statement.handle, 0), currentTime};
    return values;
}

bool PersistentStoreCoordinator::write(const StoreChanges& changes, Error* error)
{
    std::lock_guard lock(m_mutex);
    if (!m_db) {
        if (error)
            *error = Error{ErrorDomain, SQLITE_CANTOPEN, QStringLiteral("The store is not open"), {}, {}};
        return false;
    }
    auto fail = [&](const QString& what) {
        if (error)
            *error = sqliteError(what);
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    };
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        if (error)
            *error = sqliteError(QStringLiteral("The store is busy"));
        return false;
    }

    std::map<QString, std::unique_ptr<Statement>> inserts;
    auto insertRow = [&](const ObjectID& id, const QVariantMap& values) {
        const EntityDescription* entity = m_model->entity(id.entity);
        if (!entity)
            return false;
        const auto stored = storedAttributes(*entity);
        auto& statement = inserts[id.entity];
        if (!statement) {
            statement = std::make_unique<Statement>();
            QStringList columns{QStringLiteral("pk")};
            QStringList marks{QStringLiteral("?")};
            for (const auto* attribute : stored) {
                columns << sqlQuoted(attribute->name);
                marks << QStringLiteral("?");
            }
            const QByteArray sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                       .arg(sqlQuoted(id.entity), columns.join(u", "), marks.join(u", "))
                                       .toUtf8();
            if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &statement->handle, nullptr) != SQLITE_OK)
                return false;
        }
        sqlite3_reset(statement->handle);
        sqlite3_bind_int64(statement->handle, 1, id.key);
        int index = 2;
        for (const auto* attribute : stored)
            bindValue(statement->handle, index++, values.value(attribute->name));
        return sqlite3_step(statement->handle) == SQLITE_DONE;
    };

    for (const auto& row : changes.inserted) {
        if (!insertRow(row.objectID, row.values))
            return fail(QStringLiteral("A new record could not be written"));
    }
    for (const auto& row : changes.updated) {
        const EntityDescription* entity = m_model->entity(row.objectID.entity);
        if (!entity)
            return fail(QStringLiteral("A record of an unknown kind could not be written"));
        QStringList assignments{QStringLiteral("version = version + 1")};
        QVariantList bindings;
        for (auto it = row.values.cbegin(); it != row.values.cend(); ++it) {
            const AttributeDescription* attribute = entity->attribute(it.key());
            if (!attribute || attribute->transient)
                continue;
            assignments << sqlQuoted(it.key()) + QStringLiteral(" = ?");
            bindings << it.value();
        }
        const QByteArray sql = QStringLiteral("UPDATE %1 SET %2 WHERE pk = ?")
                                   .arg(sqlQuoted(row.objectID.entity), assignments.join(u", "))
                                   .toUtf8();
        Statement statement;
        if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &statement.handle, nullptr) != SQLITE_OK)
            return fail(QStringLiteral("A record could not be written"));
        int index = 1;
        for (const auto& value : bindings)
            bindValue(statement.handle, index++, value);
        sqlite3_bind_int64(statement.handle, index, row.objectID.key);
        if (sqlite3_step(statement.handle) != SQLITE_DONE)
            return fail(QStringLiteral("A record could not be written"));
        if (sqlite3_changes(m_db) == 0) {
            // The row was deleted underneath (pruned elsewhere): the edit wins
            // and the record is written again whole.
            QVariantMap whole = row.fullValues;
            for (auto it = row.values.cbegin(); it != row.values.cend(); ++it)
                whole.insert(it.key(), it.value());
            if (!insertRow(row.objectID, whole))
                return fail(QStringLiteral("A record could not be written again"));
        }
    }
    // One statement per kind of record: a prune deletes many at once.
    std::map<QString, Statement> deletes;
    for (const auto& id : changes.deleted) {
        Statement& statement = deletes[id.entity];
        if (!statement.handle) {
            const QByteArray sql =
                QStringLiteral("DELETE FROM %1 WHERE pk = ?").arg(sqlQuoted(id.entity)).toUtf8();
            if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &statement.handle, nullptr) != SQLITE_OK)
                return fail(QStringLiteral("A record could not be deleted"));
        }
        sqlite3_bind_int64(statement.handle, 1, id.key);
        const int status = sqlite3_step(statement.handle);
        sqlite3_reset(statement.handle);
        if (status != SQLITE_DONE)
            return fail(QStringLiteral("A record could not be deleted"));
    }
    inserts.clear();
    // The search index follows in the same transaction, up to a bound: what
    // a large save leaves stays pending and is indexed in the background.
    std::vector<size_t> leftPending;
    for (size_t i = 0; i < m_searchIndexes.size(); ++i) {
        std::vector<qint64> keys;
        for (const auto* rows : {&changes.inserted, &changes.updated}) {
            for (const auto& row : *rows) {
                if (row.objectID.entity == m_searchIndexes[i].entity)
                    keys.push_back(row.objectID.key);
            }
        }
        for (const auto& id : changes.deleted) {
            if (id.entity == m_searchIndexes[i].entity)
                keys.push_back(id.key);
        }
        bool left = false;
        SearchIndex::indexKeys(m_db, m_searchIndexes[i], keys, 512 << 10, &left);
        // Rows left pending, or index segments to merge (which saves leave
        // to the builder).
        if (left || !keys.empty())
            leftPending.push_back(i);
    }
    if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(QStringLiteral("The changes could not be committed"));
    for (size_t i : leftPending) {
        if (i < m_searchBuilders.size())
            m_searchBuilders[i]->wake();
    }

    const double writtenAt = platform::now();
    for (const auto& row : changes.inserted) {
        if (!m_readOnDemand.contains(row.objectID.entity))
            m_snapshots[row.objectID] = Snapshot{row.values, 1, writtenAt};
    }
    for (const auto& row : changes.updated)
        m_snapshots.erase(row.objectID);
    for (const auto& id : changes.deleted)
        m_snapshots.erase(id);
    return true;
}

} // namespace platform
