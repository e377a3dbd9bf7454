#include "app/search/SearchFilter.h"

#include "platform/core/Variant.h"
#include "platform/data/KeySet.h"
#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/data/PersistentStoreCoordinator.h"
#include "platform/predicate/TextFolding.h"
#include "store/Note.h"
#include "store/QVRUtilities.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

constexpr platform::TextFolding kFolding(true, true);

const QString TextKey = QStringLiteral("text");
const QString RemovedKey = QStringLiteral("removed");
const QString ArchivedKey = QStringLiteral("archived");
const QString ModifiedKey = QStringLiteral("modified");

std::optional<double> numberValue(const QVariant& value)
{
    if (!value.isValid() || value.isNull() || !platform::isNumberOrBool(value))
        return std::nullopt;
    return value.toDouble();
}

// Folded words, compared as UTF-8 bytes: both sides are folded, well-formed
// text (folding replaces lone surrogates), so a byte match is a match of
// whole characters, exactly where a match of UTF-16 code units would be.
std::vector<QByteArray> foldedNeedles(const QStringList& words)
{
    std::vector<QByteArray> needles;
    for (const QString& word : words)
        needles.push_back(kFolding.fold(word).toUtf8());
    return needles;
}

bool isJamo(char32_t cp)
{
    return (cp >= 0x1100 && cp <= 0x11FF) || (cp >= 0xA960 && cp <= 0xA97F) || (cp >= 0xD7B0 && cp <= 0xD7FF);
}

// One code point (or a lone surrogate) as TextFolding folds it, in UTF-8.
const QByteArray& foldedCodePoint(char32_t cp)
{
    constexpr char32_t kFlat = 0x800;
    static std::vector<QByteArray> flat(kFlat);
    static std::vector<char> known(kFlat, 0);
    static std::unordered_map<char32_t, QByteArray> others;
    if (cp < kFlat) {
        if (!known[cp]) {
            flat[cp] = kFolding.fold(QString::fromUcs4(&cp, 1)).toUtf8();
            known[cp] = 1;
        }
        return flat[cp];
    }
    auto found = others.find(cp);
    if (found == others.end()) {
        QString one;
        if (QChar::isSurrogate(cp))
            one = QString(QChar(char16_t(cp)));
        else
            one = QString::fromUcs4(&cp, 1);
        found = others.emplace(cp, kFolding.fold(one).toUtf8()).first;
    }
    return found->second;
}

// TextFolding::fold(text).toUtf8() in one pass. Folding goes character by
// character (that is how TextFolding folds too), so each character's folding
// is asked of it once and kept; Hangul jamo, which compose with their
// neighbours, send the whole text through it.
QByteArray foldedUtf8(const QString& text)
{
    const qsizetype n = text.size();
    const char16_t* src = reinterpret_cast<const char16_t*>(text.constData());
    QByteArray out(n, Qt::Uninitialized);
    char* dst = out.data();
    qsizetype len = 0;
    for (qsizetype i = 0; i < n;) {
        if (src[i] < 0x80) {
            const char16_t u = src[i++];
            dst[len++] = char(u >= 'A' && u <= 'Z' ? u + 32 : u);
            continue;
        }
        char32_t cp = src[i];
        qsizetype units = 1;
        if (QChar::isHighSurrogate(src[i]) && i + 1 < n && QChar::isLowSurrogate(src[i + 1])) {
            cp = QChar::surrogateToUcs4(src[i], src[i + 1]);
            units = 2;
        }
        if (isJamo(cp))
            return kFolding.fold(text).toUtf8();
        const QByteArray& folded = foldedCodePoint(cp);
        const qsizetype k = folded.size();
        if (len + k + (n - i - units) > out.size()) {
            out.resize(len + k + (n - i - units) + n / 4 + 8);
            dst = out.data();
        }
        std::memcpy(dst + len, folded.constData(), size_t(k));
        len += k;
        i += units;
    }
    out.truncate(len);
    return out;
}

bool containsBytes(std::string_view haystack, const QByteArray& needle)
{
    if (needle.isEmpty())
        return true;
    return ::memmem(haystack.data(), haystack.size(), needle.constData(), size_t(needle.size())) != nullptr;
}

} // namespace

SearchFilter::Query SearchFilter::queryForText(const QString& text, qint64 historyDays, double cutoff)
{
    Query query;
    if (QVRUtilities::hasTrimmedValue(text)) {
        static const QRegularExpression separator(QStringLiteral("[\\s\\x{2028}\\x{2029}]"));
        const QStringList words = QVRUtilities::trimmedString(text).split(separator);
        // Two separators in a row make an empty word: it is part of every
        // text, so it narrows nothing.
        for (const QString& word : words) {
            if (!word.isEmpty())
                query.words << word;
        }
    }
    if (historyDays > 0)
        query.cutoff = cutoff;
    return query;
}

SearchFilter::SearchFilter(platform::ManagedObjectContext* context) : m_context(context)
{
    if (!context)
        return;
    m_observer = platform::NotificationCenter::defaultCenter().addObserver(
        platform::ContextObjectsDidChangeNotification, context, [this](const platform::Notification& notice) {
            m_keysValid = false;
            for (const char* key : {"updated", "deleted", "inserted"}) {
                for (const QVariant& value : notice.userInfo.value(QLatin1String(key)).toList())
                    forget(value.value<platform::ManagedObject*>());
            }
        });
    // Any save may write the file (on whichever thread it runs): the index's
    // last answer is then asked again.
    m_saveObserver = platform::NotificationCenter::defaultCenter().addObserver(
        platform::ContextDidSaveNotification, nullptr,
        [changed = m_fileChanged](const platform::Notification&) { changed->store(true); });
}

SearchFilter::~SearchFilter() = default;

void SearchFilter::setQuery(const Query& query)
{
    if (query != m_query)
        m_keysValid = false;
    m_query = query;
    m_needles = foldedNeedles(query.words);
}

void SearchFilter::forgetAll()
{
    m_entries.clear();
    m_keysValid = false;
}

void SearchFilter::forget(const platform::ManagedObject* note)
{
    m_keysValid = false;
    m_entries.erase(note);
}

SearchFilter::Entry& SearchFilter::entryFor(const platform::ManagedObject* note)
{
    auto found = m_entries.find(note);
    if (found != m_entries.end())
        return found->second;
    Entry entry;
    entry.live = numberValue(note->value(RemovedKey)) == 0.0;
    entry.archivedNo = numberValue(note->value(ArchivedKey)) == 0.0;
    entry.modified = numberValue(note->value(ModifiedKey));
    return m_entries.emplace(note, entry).first->second;
}

bool SearchFilter::inHistory(const Entry& entry) const
{
    if (!entry.live)
        return false;
    return !m_query.cutoff || entry.archivedNo || (entry.modified && *entry.modified > *m_query.cutoff);
}

bool SearchFilter::textMatches(const platform::ManagedObject* note) const
{
    if (m_needles.empty())
        return true;
    const QVariant text = note->value(TextKey);
    // A word folded to nothing (a lone accent) still needs a text to be in.
    if (text.typeId() != QMetaType::QString)
        return false;
    const QByteArray folded = foldedUtf8(text.toString());
    const std::string_view haystack(folded.constData(), size_t(folded.size()));
    for (const QByteArray& needle : m_needles) {
        if (!containsBytes(haystack, needle))
            return false;
    }
    return true;
}

bool SearchFilter::Unsaved::contains(const platform::ManagedObject* note) const
{
    return note->hasChanges() || objects.count(note) || (!keys.empty() && keys.count(note->objectID().key));
}

SearchFilter::Unsaved SearchFilter::unsavedNotes() const
{
    Unsaved unsaved;
    if (!m_context)
        return unsaved;
    for (const auto& objects : {m_context->insertedObjects(), m_context->updatedObjects()}) {
        for (const platform::ManagedObject* object : objects)
            unsaved.objects.insert(object);
    }
    // Saved here but not yet written by a context above: the file does not
    // hold them yet either.
    for (platform::ManagedObjectContext* parent = m_context->parentContext(); parent;
         parent = parent->parentContext()) {
        parent->performAndWait([&] {
            for (const auto& objects :
                 {parent->insertedObjects(), parent->updatedObjects(), parent->deletedObjects()}) {
                for (const platform::ManagedObject* object : objects) {
                    if (object->objectID().entity == QVRNoteEntityName)
                        unsaved.keys.insert(object->objectID().key);
                }
            }
        });
    }
    return unsaved;
}

platform::SearchIndex::Reader* SearchFilter::reader()
{
    if (!m_readerTried) {
        m_readerTried = true;
        platform::ManagedObjectContext* root = m_context;
        while (root && !root->persistentStoreCoordinator() && root->parentContext())
            root = root->parentContext();
        platform::PersistentStoreCoordinator* coordinator =
            root ? root->persistentStoreCoordinator() : nullptr;
        if (coordinator && coordinator->isOpen()) {
            m_reader = std::make_unique<platform::SearchIndex::Reader>(
                coordinator->path(), platform::SearchIndex::Names{QVRNoteEntityName, TextKey, {}});
            if (!m_reader->isOpen())
                m_reader.reset();
        }
    }
    return m_reader.get();
}

bool SearchFilter::usesIndex()
{
    return reader() != nullptr;
}

const std::optional<std::vector<qint64>>& SearchFilter::indexedKeys()
{
    if (m_fileChanged->exchange(false))
        m_keysValid = false;
    if (m_keysValid)
        return m_keys;
    m_keys.reset();
    m_keysValid = true;
    platform::SearchIndex::Reader* index = reader();
    if (!index)
        return m_keys;
    m_unsaved = unsavedNotes();
    // The history test over the copies of the flags beside the index: no
    // note is read for it.
    const auto history =
        m_query.cutoff ? index->keysWhere(QStringLiteral("removed = 0 AND (archived = 0 OR modified > ?)"),
                                          {*m_query.cutoff})
                       : index->keysWhere(QStringLiteral("removed = 0"), {});
    if (!history)
        return m_keys;
    if (m_query.words.isEmpty()) {
        m_keys = history;
        return m_keys;
    }
    const auto words = index->keysMatching(m_query.words);
    if (!words)
        return m_keys;
    std::vector<qint64> both;
    std::set_intersection(history->begin(), history->end(), words->begin(), words->end(),
                          std::back_inserter(both));
    m_keys = std::move(both);
    return m_keys;
}

std::optional<std::vector<qint64>> SearchFilter::candidateKeys()
{
    const std::optional<std::vector<qint64>>& keys = indexedKeys();
    if (!keys || m_unsaved.keys.empty())
        return keys;
    std::vector<qint64> pending(m_unsaved.keys.begin(), m_unsaved.keys.end());
    std::sort(pending.begin(), pending.end());
    std::vector<qint64> both;
    both.reserve(keys->size() + pending.size());
    std::set_union(keys->begin(), keys->end(), pending.begin(), pending.end(), std::back_inserter(both));
    return both;
}

bool SearchFilter::matches(const platform::ManagedObject* note)
{
    if (!note || note->isDeleted())
        return false;
    const auto& keys = indexedKeys();
    if (!keys || m_unsaved.contains(note))
        return inHistory(entryFor(note)) && textMatches(note);
    return std::binary_search(keys->begin(), keys->end(), note->objectID().key);
}

std::vector<platform::ManagedObject*>
SearchFilter::filter(const std::vector<platform::ManagedObject*>& content)
{
    std::vector<platform::ManagedObject*> result;
    if (content.empty())
        return result;
    result.reserve(content.size());
    const std::optional<std::vector<qint64>>& keys = indexedKeys();
    const Unsaved& unsaved = m_unsaved;
    const std::optional<platform::KeySet> keySet =
        keys ? std::optional<platform::KeySet>(std::in_place, *keys) : std::nullopt;
    for (platform::ManagedObject* note : content) {
        if (!note || note->isDeleted())
            continue;
        const bool match = keySet && !unsaved.contains(note) ? keySet->contains(note->objectID().key)
                                                             : inHistory(entryFor(note)) && textMatches(note);
        if (match)
            result.push_back(note);
    }
    return result;
}

size_t SearchFilter::prepare(const std::vector<platform::ManagedObject*>& content, size_t limit)
{
    // With an index, the history of the present cut-off is looked up once,
    // and kept for the first key.
    if (reader()) {
        indexedKeys();
        return 0;
    }
    // Goes on where the last slice stopped, so that preparing a long list a
    // slice at a time looks at each note once.
    if (m_prepared >= content.size())
        m_prepared = 0;
    for (; m_prepared < content.size() && limit > 0; ++m_prepared) {
        platform::ManagedObject* note = content[m_prepared];
        if (!note || note->isDeleted() || m_entries.count(note))
            continue;
        entryFor(note);
        --limit;
    }
    return content.size() - m_prepared;
}
