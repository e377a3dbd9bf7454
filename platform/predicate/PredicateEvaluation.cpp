#include "platform/predicate/PredicateNode.h"

#include <cmath>

namespace platform {

using namespace predicate_detail;

namespace {

using Node = Predicate::Node;

// Code-point order, which is also SQLite's BINARY order on UTF-8 text
// (QString::compare orders by UTF-16 units, which differs above U+FFFF).
int compareCodePoints(const QString& a, const QString& b)
{
    const QList<uint> ua = a.toUcs4();
    const QList<uint> ub = b.toUcs4();
    const qsizetype n = std::min(ua.size(), ub.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (ua[i] != ub[i])
            return ua[i] < ub[i] ? -1 : 1;
    }
    return ua.size() == ub.size() ? 0 : (ua.size() < ub.size() ? -1 : 1);
}

std::optional<double> numberFromString(const QString& s)
{
    bool ok = false;
    const double d = s.trimmed().toDouble(&ok); // QString::toDouble is always the C locale
    if (!ok || s.trimmed().isEmpty())
        return std::nullopt;
    return d;
}

// Glob match for LIKE: "*" any run, "?" one character. Iterative, so a hostile
// pattern cannot recurse; worst case is quadratic.
bool likeMatch(const QList<uint>& text, const QList<uint>& pattern)
{
    qsizetype t = 0, p = 0, starP = -1, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '\\' && p + 1 < pattern.size()) {
            if (pattern[p + 1] == text[t]) {
                p += 2;
                ++t;
                continue;
            }
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || (pattern[p] != '*' && pattern[p] == text[t]))) {
            ++p;
            ++t;
            continue;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
            continue;
        }
        if (starP < 0)
            return false;
        p = starP + 1;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool predicate_detail::foldedStringOperation(Op op, const QString& h, const QString& n)
{
    switch (op) {
    case Op::Contains:
        return n.isEmpty() || h.contains(n);
    case Op::BeginsWith:
        return h.startsWith(n);
    case Op::Like:
        return likeMatch(h.toUcs4(), n.toUcs4());
    default:
        return false;
    }
}

namespace {

using ValueForKey = std::function<QVariant(const QString&)>;

QVariant resolve(const Expr& e, const ValueForKey& valueForKey)
{
    return e.isKey ? (valueForKey ? valueForKey(e.key) : QVariant()) : e.value;
}

// Folded texts of one evaluation, so that several words searched in the same
// text fold it once.
struct FoldMemo
{
    struct Entry
    {
        QString key;
        int options;
        QString folded;
    };
    std::vector<Entry> entries;
    const Predicate::FoldedValueForKey* foldedValueForKey = nullptr;
};

bool compare(const Node& node, const ValueForKey& valueForKey, FoldMemo& memo)
{
    const Value l = classify(resolve(node.left, valueForKey));
    const Value r = classify(resolve(node.right, valueForKey));
    if (isStringOp(node.op)) {
        // An empty word is part of every text, also of a missing one.
        if (node.op == Op::Contains && r.kind == Value::String && r.string.isEmpty())
            return true;
        if (l.kind != Value::String || r.kind != Value::String)
            return false;
        const TextFolding& folding = node.folding;
        const QString needle = node.foldedNeedle ? *node.foldedNeedle : folding.fold(r.string);
        if (!node.left.isKey || folding.foldsNothing())
            return foldedStringOperation(node.op, folding.fold(l.string), needle);
        const int options = folding.options();
        auto search = [&](const QString& folded) {
            return node.needleMatcher ? node.needleMatcher->indexIn(folded) >= 0
                                      : foldedStringOperation(node.op, folded, needle);
        };
        for (const auto& e : memo.entries) {
            if (e.options == options && e.key == node.left.key)
                return search(e.folded);
        }
        std::optional<QString> folded;
        if (memo.foldedValueForKey && *memo.foldedValueForKey)
            folded = (*memo.foldedValueForKey)(node.left.key, folding.caseInsensitive(),
                                               folding.diacriticInsensitive());
        memo.entries.push_back({node.left.key, options, folded ? *folded : folding.fold(l.string)});
        return search(memo.entries.back().folded);
    }
    if (l.kind == Value::Nil || r.kind == Value::Nil) {
        // Only a written nil asks about presence; a missing value against
        // anything else is no answer at all, as in SQL.
        const bool literalNil =
            (!node.left.isKey && l.kind == Value::Nil) || (!node.right.isKey && r.kind == Value::Nil);
        const bool bothNil = l.kind == Value::Nil && r.kind == Value::Nil;
        if (!literalNil)
            return false;
        if (node.op == Op::Equal)
            return bothNil;
        if (node.op == Op::NotEqual)
            return !bothNil;
        return false;
    }
    int order = 0;
    if (l.kind == Value::Number && r.kind == Value::Number) {
        if (std::isnan(l.number) || std::isnan(r.number))
            return node.op == Op::NotEqual;
        order = l.number < r.number ? -1 : (l.number > r.number ? 1 : 0);
    } else if (l.kind == Value::String && r.kind == Value::String) {
        order = compareCodePoints(l.string, r.string);
    } else if (l.kind == Value::Number && r.kind == Value::String) {
        const auto n = numberFromString(r.string);
        if (!n)
            return false;
        order = l.number < *n ? -1 : (l.number > *n ? 1 : 0);
    } else if (l.kind == Value::String && r.kind == Value::Number) {
        const auto n = numberFromString(l.string);
        if (!n)
            return false;
        order = *n < r.number ? -1 : (*n > r.number ? 1 : 0);
    } else {
        if (node.op == Op::Equal)
            return l.other == r.other;
        if (node.op == Op::NotEqual)
            return l.other != r.other;
        return false;
    }
    switch (node.op) {
    case Op::Equal:
        return order == 0;
    case Op::NotEqual:
        return order != 0;
    case Op::Less:
        return order < 0;
    case Op::LessEqual:
        return order <= 0;
    case Op::Greater:
        return order > 0;
    case Op::GreaterEqual:
        return order >= 0;
    default:
        return false;
    }
}

bool evaluateNode(const Node& node, const ValueForKey& valueForKey, FoldMemo& memo)
{
    switch (node.kind) {
    case Node::True:
        return true;
    case Node::False:
        return false;
    case Node::And:
        for (const auto& c : node.children) {
            if (!evaluateNode(*c, valueForKey, memo))
                return false;
        }
        return true;
    case Node::Or:
        for (const auto& c : node.children) {
            if (evaluateNode(*c, valueForKey, memo))
                return true;
        }
        return false;
    case Node::Not:
        return !evaluateNode(*node.children.front(), valueForKey, memo);
    case Node::Compare:
        return compare(node, valueForKey, memo);
    }
    return false;
}

} // namespace

bool Predicate::evaluate(const ValueForKey& valueForKey) const
{
    FoldMemo memo;
    return evaluateNode(*m_root, valueForKey, memo);
}

bool Predicate::evaluate(const ValueForKey& valueForKey, const FoldedValueForKey& foldedValueForKey) const
{
    FoldMemo memo;
    memo.foldedValueForKey = &foldedValueForKey;
    return evaluateNode(*m_root, valueForKey, memo);
}

} // namespace platform
