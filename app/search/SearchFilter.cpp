#include "app/search/SearchFilter.h"

#include "platform/core/Variant.h"
#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/predicate/TextFolding.h"
#include "store/QVRUtilities.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstring>

#include <deque>
#include <string>

#include <sys/mman.h>

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
    for (auto word = words.crbegin(); word != words.crend(); ++word)
        needles.push_back(kFolding.fold(*word).toUtf8());
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

class SearchFilter::TextBlocks
{
public:
    ~TextBlocks() { clear(); }

    std::string_view add(const QByteArray& bytes)
    {
        const size_t size = size_t(bytes.size());
        if (m_blocks.empty() || m_blocks.back().size - m_blocks.back().used < size) {
            const size_t blockSize = std::max(kBlockSize, size);
            void* base = ::mmap(nullptr, blockSize, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
            if (base == MAP_FAILED)
                return m_fallback.emplace_back(bytes.constData(), size);
            m_blocks.push_back({static_cast<char*>(base), blockSize, 0});
        }
        Block& block = m_blocks.back();
        char* at = block.base + block.used;
        std::memcpy(at, bytes.constData(), size);
        block.used += size;
        m_live += size;
        return {at, size};
    }
    void release(size_t size) { m_live -= std::min(m_live, size); }
    size_t live() const { return m_live; }
    size_t used() const
    {
        size_t total = 0;
        for (const Block& block : m_blocks)
            total += block.used;
        return total;
    }
    void clear()
    {
        for (const Block& block : m_blocks)
            ::munmap(block.base, block.size);
        m_blocks.clear();
        m_fallback.clear();
        m_live = 0;
    }

private:
    static constexpr size_t kBlockSize = 4u << 20;
    struct Block
    {
        char* base;
        size_t size;
        size_t used;
    };
    std::vector<Block> m_blocks;
    std::deque<std::string> m_fallback; // when mapping fails
    size_t m_live = 0;
};

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

SearchFilter::SearchFilter(platform::ManagedObjectContext* context) : m_texts(std::make_unique<TextBlocks>())
{
    if (!context)
        return;
    m_observer = platform::NotificationCenter::defaultCenter().addObserver(
        platform::ContextObjectsDidChangeNotification, context, [this](const platform::Notification& notice) {
            m_changedSinceFilter = true;
            for (const char* key : {"updated", "deleted", "inserted"}) {
                for (const QVariant& value : notice.userInfo.value(QLatin1String(key)).toList())
                    forget(value.value<platform::ManagedObject*>());
            }
        });
}

SearchFilter::~SearchFilter() = default;

void SearchFilter::setQuery(const Query& query)
{
    m_query = query;
    m_needles = foldedNeedles(query.words);
}

void SearchFilter::forgetAll()
{
    m_entries.clear();
    m_texts->clear();
    m_changedSinceFilter = true;
}

void SearchFilter::forget(const platform::ManagedObject* note)
{
    m_changedSinceFilter = true;
    const auto found = m_entries.find(note);
    if (found == m_entries.end())
        return;
    m_texts->release(found->second.folded.size());
    m_entries.erase(found);
    // Mostly dropped texts: fold the rest again when next asked.
    if (m_texts->used() > (16u << 20) && m_texts->live() < m_texts->used() / 2)
        forgetAll();
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

void SearchFilter::fold(const platform::ManagedObject* note, Entry& entry)
{
    entry.folding = true;
    const QVariant text = note->value(TextKey);
    entry.hasText = text.typeId() == QMetaType::QString;
    if (entry.hasText)
        entry.folded = m_texts->add(foldedUtf8(text.toString()));
}

bool SearchFilter::inHistory(const Entry& entry) const
{
    if (!entry.live)
        return false;
    return !m_query.cutoff || entry.archivedNo || (entry.modified && *entry.modified > *m_query.cutoff);
}

bool SearchFilter::test(const platform::ManagedObject* note, Entry& entry)
{
    if (!inHistory(entry))
        return false;
    if (m_needles.empty())
        return true;
    if (!entry.folding)
        fold(note, entry);
    // A word folded to nothing (a lone accent) still needs a text to be in.
    if (!entry.hasText)
        return false;
    for (const QByteArray& needle : m_needles) {
        if (!containsBytes(entry.folded, needle))
            return false;
    }
    return true;
}

bool SearchFilter::matches(const platform::ManagedObject* note)
{
    return note && !note->isDeleted() && test(note, entryFor(note));
}

bool SearchFilter::narrowsPrevious(const Query& query, const std::vector<QByteArray>& needles) const
{
    if (m_changedSinceFilter)
        return false;
    if (m_filteredQuery.cutoff.has_value() != query.cutoff.has_value())
        return false;
    if (query.cutoff && *query.cutoff < *m_filteredQuery.cutoff)
        return false;
    // Every earlier word must lie inside one of the new words; then a text
    // with all the new words has all the earlier ones.
    for (const QByteArray& earlier : m_filteredNeedles) {
        const bool covered = std::any_of(needles.begin(), needles.end(),
                                         [&](const QByteArray& needle) { return needle.contains(earlier); });
        if (!covered)
            return false;
    }
    return true;
}

std::vector<platform::ManagedObject*>
SearchFilter::filter(const std::vector<platform::ManagedObject*>& content)
{
    const bool narrowing = narrowsPrevious(m_query, m_needles) && content == m_filteredContent;
    const std::vector<platform::ManagedObject*>& candidates = narrowing ? m_filteredResult : content;
    std::vector<platform::ManagedObject*> result;
    result.reserve(candidates.size());
    for (platform::ManagedObject* note : candidates) {
        if (note && !note->isDeleted() && test(note, entryFor(note)))
            result.push_back(note);
    }
    if (!narrowing)
        m_filteredContent = content;
    m_filteredQuery = m_query;
    m_filteredNeedles = m_needles;
    m_filteredResult = result;
    m_changedSinceFilter = false;
    return result;
}

size_t SearchFilter::prepare(const std::vector<platform::ManagedObject*>& content, size_t limit)
{
    // Goes on where the last slice stopped, so that preparing a long list a
    // slice at a time looks at each note once.
    if (m_prepared >= content.size())
        m_prepared = 0;
    for (; m_prepared < content.size() && limit > 0; ++m_prepared) {
        platform::ManagedObject* note = content[m_prepared];
        if (!note || note->isDeleted())
            continue;
        Entry& entry = entryFor(note);
        if (entry.folding || !inHistory(entry))
            continue;
        fold(note, entry);
        --limit;
    }
    return content.size() - m_prepared;
}
