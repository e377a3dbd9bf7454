#pragma once

#include <QString>

namespace platform {

// Case folding and diacritic removal, as the [c], [d] and [cd] options of a
// predicate's CONTAINS, BEGINSWITH and LIKE apply them. The list filters and
// search fold with the same rules, so that a word one of them finds the
// others find too.
//
// Case folding maps each character to one (Unicode's simple folding): "ẞ"
// becomes "ß", while "ß" and ligatures such as "ﬁ" stay as they are.
// Diacritic removal decomposes each character, drops every combining mark
// (non-spacing, spacing and enclosing) and composes what is left, so "é" and
// "e\u0301" both become "e" and Hangul jamo join into syllables; letters
// with a stroke ("ø", "ł") are letters of their own and stay. Both work on
// code points, also above U+FFFF; a lone surrogate becomes U+FFFD.
class TextFolding
{
public:
    // Folds nothing.
    constexpr TextFolding() = default;
    constexpr TextFolding(bool caseInsensitive, bool diacriticInsensitive)
        : m_caseInsensitive(caseInsensitive), m_diacriticInsensitive(diacriticInsensitive)
    {
    }

    constexpr bool caseInsensitive() const { return m_caseInsensitive; }
    constexpr bool diacriticInsensitive() const { return m_diacriticInsensitive; }
    // True when fold() returns every text as it is.
    constexpr bool foldsNothing() const { return !m_caseInsensitive && !m_diacriticInsensitive; }
    // 1 for case, 2 for diacritics, 3 for both: the options argument of the
    // SQL functions that predicates register.
    constexpr int options() const { return (m_caseInsensitive ? 1 : 0) | (m_diacriticInsensitive ? 2 : 0); }

    // A text that folding leaves unchanged comes back sharing the argument's
    // memory.
    QString fold(const QString& text) const;

    friend constexpr bool operator==(TextFolding, TextFolding) = default;

private:
    bool m_caseInsensitive = false;
    bool m_diacriticInsensitive = false;
};

} // namespace platform
