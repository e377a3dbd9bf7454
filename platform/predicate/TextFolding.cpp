#include "platform/predicate/TextFolding.h"

#include <QList>

#include <cstring>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

bool isMark(char32_t cp)
{
    const auto cat = QChar::category(cp);
    return cat == QChar::Mark_NonSpacing || cat == QChar::Mark_SpacingCombining ||
           cat == QChar::Mark_Enclosing;
}

// Hangul jamo recompose into syllables, the one composition between
// characters that are not marks.
bool isJamo(char32_t cp)
{
    return (cp >= 0x1100 && cp <= 0x11FF) || (cp >= 0xA960 && cp <= 0xA97F) || (cp >= 0xD7B0 && cp <= 0xD7FF);
}

// One code point folded: decomposed, marks dropped, recomposed, case-folded.
QString foldCodePoint(char32_t cp, bool caseInsensitive, bool diacriticInsensitive)
{
    QString out = QString::fromUcs4(&cp, 1);
    if (diacriticInsensitive) {
        const QString decomposed = out.normalized(QString::NormalizationForm_D);
        out.clear();
        for (char32_t c : decomposed.toUcs4()) {
            if (!isMark(c))
                out += QString::fromUcs4(&c, 1);
        }
        out = out.normalized(QString::NormalizationForm_C);
    }
    if (caseInsensitive)
        out = out.toCaseFolded();
    return out;
}

} // namespace

QString TextFolding::fold(const QString& text) const
{
    if (foldsNothing())
        return text;
    const bool caseInsensitive = m_caseInsensitive;
    const bool diacriticInsensitive = m_diacriticInsensitive;
    // Folding character by character gives the same text as folding the
    // whole string (marks are dropped, and only jamo compose without marks),
    // and lets the characters come from tables: a flat one for the alphabets
    // of the first pages, a map for the rest.
    constexpr char32_t kFlat = 0x800;
    const int options = this->options();
    struct Flat
    {
        std::vector<QString> folded;
        std::vector<char> known;
    };
    thread_local Flat flat[4];
    thread_local std::unordered_map<quint64, QString> cache;
    if (cache.size() > 50000)
        cache.clear();
    Flat& table = flat[options];
    if (table.known.empty()) {
        table.folded.resize(kFlat);
        table.known.assign(kFlat, 0);
    }

    const qsizetype n = text.size();
    const char16_t* src = reinterpret_cast<const char16_t*>(text.constData());
    QString out(n, Qt::Uninitialized);
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    qsizetype len = 0;
    bool changed = false;
    bool jamo = false;
    for (qsizetype i = 0; i < n;) {
        // Runs of ASCII, the bulk of most notes, without any lookup. `out`
        // always has room for the rest of the input one for one; only a
        // character that folds to several makes it grow.
        if (src[i] < 0x80) {
            for (; i < n && src[i] < 0x80; ++i) {
                char16_t u = src[i];
                if (caseInsensitive && u >= 'A' && u <= 'Z') {
                    u = char16_t(u + 32);
                    changed = true;
                }
                dst[len++] = u;
            }
            continue;
        }
        char32_t cp = src[i];
        qsizetype units = 1;
        if (QChar::isHighSurrogate(src[i]) && i + 1 < n && QChar::isLowSurrogate(src[i + 1])) {
            cp = QChar::surrogateToUcs4(src[i], src[i + 1]);
            units = 2;
        }
        const QString* folded = nullptr;
        if (cp < kFlat) {
            if (!table.known[cp]) {
                table.folded[cp] = foldCodePoint(cp, caseInsensitive, diacriticInsensitive);
                table.known[cp] = 1;
            }
            folded = &table.folded[cp];
        } else {
            jamo = jamo || isJamo(cp);
            const quint64 key = (quint64(cp) << 2) | quint64(options);
            auto it = cache.find(key);
            if (it == cache.end())
                it = cache.emplace(key, foldCodePoint(cp, caseInsensitive, diacriticInsensitive)).first;
            folded = &it->second;
        }
        const qsizetype k = folded->size();
        if (k != units || std::memcmp(folded->constData(), src + i, size_t(units) * sizeof(char16_t)) != 0)
            changed = true;
        if (len + k + (n - i - units) > out.size()) {
            out.resize(len + k + (n - i - units) + n / 8 + 8);
            dst = reinterpret_cast<char16_t*>(out.data());
        }
        std::memcpy(dst + len, folded->constData(), size_t(k) * sizeof(char16_t));
        len += k;
        i += units;
    }
    if (jamo && diacriticInsensitive) {
        out.truncate(len);
        return out.normalized(QString::NormalizationForm_C);
    }
    // An unchanged text shares the original's memory.
    if (!changed)
        return text;
    out.truncate(len);
    return out;
}

} // namespace platform
