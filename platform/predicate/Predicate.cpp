#include "platform/predicate/Predicate.h"

#include <QDateTime>
#include <QStringList>
#include <QStringMatcher>

#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

// Deeper nesting than any real filter needs; bounds the recursion of parsing,
// evaluation and SQL generation alike.
constexpr int kMaxDepth = 256;

enum class Op { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual, Contains, BeginsWith, Like };

struct Expr {
    bool isKey = false;
    QString key;
    QVariant value;  // invalid = nil
};

// A value reduced to one of the kinds comparisons understand.
struct Value {
    enum Kind { Nil, Number, String, Other } kind = Nil;
    double number = 0;
    QString string;
    QVariant other;
};

Value classify(const QVariant& v) {
    Value out;
    if (!v.isValid() || v.isNull())
        return out;
    switch (v.typeId()) {
    case QMetaType::Bool:
        out.kind = Value::Number;
        out.number = v.toBool() ? 1 : 0;
        return out;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        out.kind = Value::Number;
        out.number = v.toDouble();
        return out;
    case QMetaType::QString:
        out.kind = Value::String;
        out.string = v.toString();
        return out;
    case QMetaType::QDateTime:
        out.kind = Value::Number;
        out.number = double(v.toDateTime().toMSecsSinceEpoch()) / 1000.0;
        return out;
    default:
        out.kind = Value::Other;
        out.other = v;
        return out;
    }
}

// Code-point order, which is also SQLite's BINARY order on UTF-8 text
// (QString::compare orders by UTF-16 units, which differs above U+FFFF).
int compareCodePoints(const QString& a, const QString& b) {
    const QList<uint> ua = a.toUcs4();
    const QList<uint> ub = b.toUcs4();
    const qsizetype n = std::min(ua.size(), ub.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (ua[i] != ub[i])
            return ua[i] < ub[i] ? -1 : 1;
    }
    return ua.size() == ub.size() ? 0 : (ua.size() < ub.size() ? -1 : 1);
}

std::optional<double> numberFromString(const QString& s) {
    bool ok = false;
    const double d = s.trimmed().toDouble(&ok);  // QString::toDouble is always the C locale
    if (!ok || s.trimmed().isEmpty())
        return std::nullopt;
    return d;
}

// Glob match for LIKE: "*" any run, "?" one character. Iterative, so a hostile
// pattern cannot recurse; worst case is quadratic.
bool likeMatch(const QList<uint>& text, const QList<uint>& pattern) {
    qsizetype t = 0, p = 0, starP = -1, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '\\' && p + 1 < pattern.size()) {
            if (pattern[p + 1] == text[t]) {
                p += 2;
                ++t;
                continue;
            }
        } else if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && pattern[p] == text[t]))) {
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

// `h` and `n` are already folded as the comparison's options ask.
bool foldedStringOperation(Op op, const QString& h, const QString& n) {
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

QString quoteString(const QString& s) {
    QString out = QStringLiteral("\"");
    for (QChar ch : s) {
        if (ch == QLatin1Char('"') || ch == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += ch;
    }
    out += QLatin1Char('"');
    return out;
}

QString formatNumber(double d) {
    if (std::isnan(d))
        return QStringLiteral("nan");
    if (std::isinf(d))
        return d > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    // QString::number is locale-independent; 'f' with the shortest round-trip
    // precision avoids exponents in the written predicate.
    if (d == std::floor(d) && std::fabs(d) < 1e15)
        return QString::number(qint64(d));
    return QString::number(d, 'f', QLocale::FloatingPointShortest);
}

QString formatValue(const QVariant& v) {
    const Value value = classify(v);
    switch (value.kind) {
    case Value::Nil:
        return QStringLiteral("nil");
    case Value::Number:
        if (v.typeId() == QMetaType::Bool)
            return v.toBool() ? QStringLiteral("YES") : QStringLiteral("NO");
        return formatNumber(value.number);
    case Value::String:
        return quoteString(value.string);
    case Value::Other:
        return quoteString(v.toString());
    }
    return {};
}

const char* opText(Op op) {
    switch (op) {
    case Op::Equal: return "==";
    case Op::NotEqual: return "!=";
    case Op::Less: return "<";
    case Op::LessEqual: return "<=";
    case Op::Greater: return ">";
    case Op::GreaterEqual: return ">=";
    case Op::Contains: return "CONTAINS";
    case Op::BeginsWith: return "BEGINSWITH";
    case Op::Like: return "LIKE";
    }
    return "";
}

bool stringOperation(Op op, const QString& haystack, const QString& needle, bool c, bool d) {
    return foldedStringOperation(op, foldForComparison(haystack, c, d), foldForComparison(needle, c, d));
}

bool isStringOp(Op op) { return op == Op::Contains || op == Op::BeginsWith || op == Op::Like; }

}  // namespace

struct Predicate::Node {
    enum Kind { True, False, And, Or, Not, Compare } kind = True;
    std::vector<std::shared_ptr<const Node>> children;
    Expr left;
    Expr right;
    Op op = Op::Equal;
    bool caseInsensitive = false;
    bool diacriticInsensitive = false;
    // The constant right side of CONTAINS/BEGINSWITH/LIKE, folded once.
    std::optional<QString> foldedNeedle;
    // Searches long texts for that word with skips rather than char by char.
    std::shared_ptr<const QStringMatcher> needleMatcher;
};

namespace {

using NodePtr = std::shared_ptr<const Predicate::Node>;
using Node = Predicate::Node;

// ---------------------------------------------------------------- tokenizer

struct Token {
    enum Kind { End, Ident, EscapedIdent, String, Number, Argument, KeyArgument, Symbol } kind = End;
    QString text;   // identifier, string contents, or symbol
    QVariant number;
    int position = 0;
};

class Parser {
public:
    Parser(const QString& format, const QVariantList& arguments) : m_text(format), m_arguments(arguments) {}

    NodePtr parse(QString* error) {
        NodePtr root;
        if (tokenize()) {
            root = parseOr(0);
            if (root && current().kind != Token::End)
                fail(QStringLiteral("unexpected \"%1\"").arg(describe(current())));
        }
        if (!m_error.isEmpty()) {
            if (error)
                *error = QStringLiteral("Unable to parse the format string \"%1\": %2").arg(m_text, m_error);
            return nullptr;
        }
        return root;
    }

private:
    bool tokenize() {
        const qsizetype n = m_text.size();
        qsizetype i = 0;
        while (i < n) {
            const QChar ch = m_text[i];
            if (ch.isSpace()) {
                ++i;
                continue;
            }
            Token t;
            t.position = int(i);
            if (ch.isLetter() || ch == QLatin1Char('_') || ch == QLatin1Char('#')) {
                qsizetype j = i;
                while (j < n && (m_text[j].isLetterOrNumber() || m_text[j] == QLatin1Char('_') ||
                                 m_text[j] == QLatin1Char('.') || m_text[j] == QLatin1Char('#')))
                    ++j;
                t.kind = Token::Ident;
                t.text = m_text.mid(i, j - i);
                if (t.text.startsWith(QLatin1Char('#'))) {  // "#key" escapes a reserved word
                    t.text = t.text.mid(1);
                    t.kind = Token::EscapedIdent;
                }
                if (t.text.isEmpty() || t.text.contains(QLatin1Char('#')))
                    return fail(QStringLiteral("bad key at %1").arg(i));
                i = j;
            } else if (startsNumber(i) || (ch == QLatin1Char('-') && startsNumber(i + 1))) {
                qsizetype j = ch == QLatin1Char('-') ? i + 1 : i;
                bool isReal = false;
                while (j < n && m_text[j].isDigit())
                    ++j;
                if (j < n && m_text[j] == QLatin1Char('.')) {
                    isReal = true;
                    ++j;
                    while (j < n && m_text[j].isDigit())
                        ++j;
                }
                if (j < n && (m_text[j] == QLatin1Char('e') || m_text[j] == QLatin1Char('E'))) {
                    qsizetype k = j + 1;
                    if (k < n && (m_text[k] == QLatin1Char('+') || m_text[k] == QLatin1Char('-')))
                        ++k;
                    if (k < n && m_text[k].isDigit()) {
                        isReal = true;
                        j = k;
                        while (j < n && m_text[j].isDigit())
                            ++j;
                    }
                }
                const QString digits = m_text.mid(i, j - i);
                bool ok = false;
                if (!isReal) {
                    const qint64 v = digits.toLongLong(&ok);
                    if (ok)
                        t.number = v;
                }
                if (!ok) {
                    const double v = digits.toDouble(&ok);
                    if (!ok)
                        return fail(QStringLiteral("bad number \"%1\"").arg(digits));
                    t.number = v;
                }
                t.kind = Token::Number;
                i = j;
            } else if (ch == QLatin1Char('"') || ch == QLatin1Char('\'')) {
                const QChar quote = ch;
                qsizetype j = i + 1;
                QString s;
                bool closed = false;
                while (j < n) {
                    const QChar c = m_text[j];
                    if (c == quote) {
                        closed = true;
                        ++j;
                        break;
                    }
                    if (c == QLatin1Char('\\') && j + 1 < n) {
                        const QChar e = m_text[j + 1];
                        s += e == QLatin1Char('n') ? QChar(QLatin1Char('\n'))
                             : e == QLatin1Char('t') ? QChar(QLatin1Char('\t'))
                             : e == QLatin1Char('r') ? QChar(QLatin1Char('\r'))
                                                     : e;
                        j += 2;
                        continue;
                    }
                    s += c;
                    ++j;
                }
                if (!closed)
                    return fail(QStringLiteral("unterminated string"));
                t.kind = Token::String;
                t.text = s;
                i = j;
            } else if (ch == QLatin1Char('%')) {
                if (i + 1 < n && m_text[i + 1] == QLatin1Char('@')) {
                    t.kind = Token::Argument;
                } else if (i + 1 < n && m_text[i + 1] == QLatin1Char('K')) {
                    t.kind = Token::KeyArgument;
                } else {
                    return fail(QStringLiteral("unsupported placeholder at %1 (only %@ and %K)").arg(i));
                }
                i += 2;
            } else {
                static const char* symbols[] = {"==", "!=", "<>", "<=", "=<", ">=", "=>", "&&", "||",
                                                "<",  ">",  "=",  "!",  "(",  ")",  "[",  "]"};
                bool matched = false;
                for (const char* sym : symbols) {
                    const QLatin1String s(sym);
                    if (QStringView(m_text).mid(i).startsWith(s)) {
                        t.kind = Token::Symbol;
                        t.text = s;
                        i += s.size();
                        matched = true;
                        break;
                    }
                }
                if (!matched)
                    return fail(QStringLiteral("unexpected character \"%1\" at %2").arg(ch).arg(i));
            }
            m_tokens.push_back(t);
        }
        Token end;
        end.position = int(n);
        m_tokens.push_back(end);
        return true;
    }

    bool startsNumber(qsizetype i) const {
        const qsizetype n = m_text.size();
        return i < n && (m_text[i].isDigit() || (m_text[i] == QLatin1Char('.') && i + 1 < n && m_text[i + 1].isDigit()));
    }

    bool fail(const QString& message) {
        if (m_error.isEmpty())
            m_error = message;
        return false;
    }

    const Token& current() const { return m_tokens[m_pos]; }
    void advance() {
        if (m_pos + 1 < m_tokens.size())
            ++m_pos;
    }
    bool isWord(const Token& t, const char* word) const {
        return t.kind == Token::Ident && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    bool isSymbol(const Token& t, const char* sym) const {
        return t.kind == Token::Symbol && t.text == QLatin1String(sym);
    }
    static QString describe(const Token& t) {
        switch (t.kind) {
        case Token::End: return QStringLiteral("end of format");
        case Token::Argument: return QStringLiteral("%@");
        case Token::KeyArgument: return QStringLiteral("%K");
        case Token::Number: return t.number.toString();
        default: return t.text;
        }
    }

    NodePtr parseOr(int depth) {
        if (depth > kMaxDepth) {
            fail(QStringLiteral("nested too deeply"));
            return nullptr;
        }
        NodePtr first = parseAnd(depth);
        if (!first)
            return nullptr;
        if (!(isWord(current(), "OR") || isSymbol(current(), "||")))
            return first;
        auto node = std::make_shared<Node>();
        node->kind = Node::Or;
        node->children.push_back(first);
        while (isWord(current(), "OR") || isSymbol(current(), "||")) {
            advance();
            NodePtr next = parseAnd(depth);
            if (!next)
                return nullptr;
            node->children.push_back(next);
        }
        return node;
    }

    NodePtr parseAnd(int depth) {
        NodePtr first = parseUnary(depth);
        if (!first)
            return nullptr;
        if (!(isWord(current(), "AND") || isSymbol(current(), "&&")))
            return first;
        auto node = std::make_shared<Node>();
        node->kind = Node::And;
        node->children.push_back(first);
        while (isWord(current(), "AND") || isSymbol(current(), "&&")) {
            advance();
            NodePtr next = parseUnary(depth);
            if (!next)
                return nullptr;
            node->children.push_back(next);
        }
        return node;
    }

    NodePtr parseUnary(int depth) {
        if (depth > kMaxDepth) {
            fail(QStringLiteral("nested too deeply"));
            return nullptr;
        }
        if (isWord(current(), "NOT") || isSymbol(current(), "!")) {
            advance();
            NodePtr inner = parseUnary(depth + 1);
            if (!inner)
                return nullptr;
            auto node = std::make_shared<Node>();
            node->kind = Node::Not;
            node->children.push_back(inner);
            return node;
        }
        if (isSymbol(current(), "(")) {
            advance();
            NodePtr inner = parseOr(depth + 1);
            if (!inner)
                return nullptr;
            if (!isSymbol(current(), ")")) {
                fail(QStringLiteral("expected \")\" but found \"%1\"").arg(describe(current())));
                return nullptr;
            }
            advance();
            return inner;
        }
        if (isWord(current(), "TRUEPREDICATE") || isWord(current(), "FALSEPREDICATE")) {
            auto node = std::make_shared<Node>();
            node->kind = isWord(current(), "TRUEPREDICATE") ? Node::True : Node::False;
            advance();
            return node;
        }
        return parseComparison();
    }

    std::optional<Expr> parseExpression() {
        const Token t = current();
        Expr e;
        switch (t.kind) {
        case Token::Ident:
            if (isWord(t, "YES") || isWord(t, "TRUE")) {
                e.value = true;
            } else if (isWord(t, "NO") || isWord(t, "FALSE")) {
                e.value = false;
            } else if (isWord(t, "NIL") || isWord(t, "NULL")) {
                e.value = QVariant();
            } else if (isReserved(t)) {
                fail(QStringLiteral("expected a value but found \"%1\"").arg(t.text));
                return std::nullopt;
            } else {
                e.isKey = true;
                e.key = t.text;
            }
            break;
        case Token::EscapedIdent:
            e.isKey = true;
            e.key = t.text;
            break;
        case Token::String:
            e.value = t.text;
            break;
        case Token::Number:
            e.value = t.number;
            break;
        case Token::Argument:
            if (m_nextArgument >= m_arguments.size()) {
                fail(QStringLiteral("more %@ placeholders than arguments"));
                return std::nullopt;
            }
            e.value = m_arguments[m_nextArgument++];
            break;
        case Token::KeyArgument: {
            if (m_nextArgument >= m_arguments.size()) {
                fail(QStringLiteral("more %K placeholders than arguments"));
                return std::nullopt;
            }
            const QVariant key = m_arguments[m_nextArgument++];
            if (key.typeId() != QMetaType::QString || key.toString().isEmpty()) {
                fail(QStringLiteral("the argument for %K is not a key"));
                return std::nullopt;
            }
            e.isKey = true;
            e.key = key.toString();
            break;
        }
        case Token::Symbol:
            fail(QStringLiteral("expected a value but found \"%1\"").arg(describe(t)));
            return std::nullopt;
        case Token::End:
            fail(QStringLiteral("expected a value but found the end of the format"));
            return std::nullopt;
        }
        advance();
        return e;
    }

    bool isReserved(const Token& t) const {
        static const char* words[] = {"AND", "OR", "NOT", "CONTAINS", "BEGINSWITH", "LIKE", "TRUEPREDICATE", "FALSEPREDICATE"};
        for (const char* w : words) {
            if (isWord(t, w))
                return true;
        }
        return false;
    }

    NodePtr parseComparison() {
        std::optional<Expr> left = parseExpression();
        if (!left)
            return nullptr;
        auto node = std::make_shared<Node>();
        node->kind = Node::Compare;
        node->left = *left;
        const Token t = current();
        if (isSymbol(t, "==") || isSymbol(t, "="))
            node->op = Op::Equal;
        else if (isSymbol(t, "!=") || isSymbol(t, "<>"))
            node->op = Op::NotEqual;
        else if (isSymbol(t, "<"))
            node->op = Op::Less;
        else if (isSymbol(t, "<=") || isSymbol(t, "=<"))
            node->op = Op::LessEqual;
        else if (isSymbol(t, ">"))
            node->op = Op::Greater;
        else if (isSymbol(t, ">=") || isSymbol(t, "=>"))
            node->op = Op::GreaterEqual;
        else if (isWord(t, "CONTAINS"))
            node->op = Op::Contains;
        else if (isWord(t, "BEGINSWITH"))
            node->op = Op::BeginsWith;
        else if (isWord(t, "LIKE"))
            node->op = Op::Like;
        else {
            fail(QStringLiteral("expected a comparison but found \"%1\"").arg(describe(t)));
            return nullptr;
        }
        advance();
        if (isSymbol(current(), "[")) {
            if (!isStringOp(node->op)) {
                fail(QStringLiteral("options apply only to CONTAINS, BEGINSWITH and LIKE"));
                return nullptr;
            }
            advance();
            const Token opts = current();
            if (opts.kind != Token::Ident) {
                fail(QStringLiteral("expected options inside \"[]\""));
                return nullptr;
            }
            for (QChar c : opts.text) {
                if (c == QLatin1Char('c'))
                    node->caseInsensitive = true;
                else if (c == QLatin1Char('d'))
                    node->diacriticInsensitive = true;
                else {
                    fail(QStringLiteral("unknown option \"%1\"").arg(c));
                    return nullptr;
                }
            }
            advance();
            if (!isSymbol(current(), "]")) {
                fail(QStringLiteral("expected \"]\""));
                return nullptr;
            }
            advance();
        }
        std::optional<Expr> right = parseExpression();
        if (!right)
            return nullptr;
        node->right = *right;
        if (isStringOp(node->op) && !right->isKey && right->value.typeId() == QMetaType::QString) {
            node->foldedNeedle = foldForComparison(right->value.toString(), node->caseInsensitive, node->diacriticInsensitive);
            if (node->op == Op::Contains && !node->foldedNeedle->isEmpty())
                node->needleMatcher = std::make_shared<const QStringMatcher>(*node->foldedNeedle);
        }
        return node;
    }

    QString m_text;
    QVariantList m_arguments;
    qsizetype m_nextArgument = 0;
    std::vector<Token> m_tokens;
    size_t m_pos = 0;
    QString m_error;
};

// ---------------------------------------------------------------- evaluation

using ValueForKey = std::function<QVariant(const QString&)>;

QVariant resolve(const Expr& e, const ValueForKey& valueForKey) {
    return e.isKey ? (valueForKey ? valueForKey(e.key) : QVariant()) : e.value;
}

// Folded texts of one evaluation, so that several words searched in the same
// text fold it once.
struct FoldMemo {
    struct Entry {
        QString key;
        int options;
        QString folded;
    };
    std::vector<Entry> entries;
    const Predicate::FoldedValueForKey* foldedValueForKey = nullptr;
};

bool compare(const Node& node, const ValueForKey& valueForKey, FoldMemo& memo) {
    const Value l = classify(resolve(node.left, valueForKey));
    const Value r = classify(resolve(node.right, valueForKey));
    if (isStringOp(node.op)) {
        // An empty word is part of every text, also of a missing one.
        if (node.op == Op::Contains && r.kind == Value::String && r.string.isEmpty())
            return true;
        if (l.kind != Value::String || r.kind != Value::String)
            return false;
        const bool c = node.caseInsensitive, d = node.diacriticInsensitive;
        const QString needle = node.foldedNeedle ? *node.foldedNeedle : foldForComparison(r.string, c, d);
        if (!node.left.isKey || (!c && !d))
            return foldedStringOperation(node.op, foldForComparison(l.string, c, d), needle);
        const int options = (c ? 1 : 0) | (d ? 2 : 0);
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
            folded = (*memo.foldedValueForKey)(node.left.key, c, d);
        memo.entries.push_back({node.left.key, options, folded ? *folded : foldForComparison(l.string, c, d)});
        return search(memo.entries.back().folded);
    }
    if (l.kind == Value::Nil || r.kind == Value::Nil) {
        // Only a written nil asks about presence; a missing value against
        // anything else is no answer at all, as in SQL.
        const bool literalNil = (!node.left.isKey && l.kind == Value::Nil) || (!node.right.isKey && r.kind == Value::Nil);
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
    case Op::Equal: return order == 0;
    case Op::NotEqual: return order != 0;
    case Op::Less: return order < 0;
    case Op::LessEqual: return order <= 0;
    case Op::Greater: return order > 0;
    case Op::GreaterEqual: return order >= 0;
    default: return false;
    }
}

bool evaluateNode(const Node& node, const ValueForKey& valueForKey, FoldMemo& memo) {
    switch (node.kind) {
    case Node::True: return true;
    case Node::False: return false;
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
    case Node::Not: return !evaluateNode(*node.children.front(), valueForKey, memo);
    case Node::Compare: return compare(node, valueForKey, memo);
    }
    return false;
}

// ---------------------------------------------------------------- SQL

QVariant bindable(const QVariant& v) {
    const Value value = classify(v);
    switch (value.kind) {
    case Value::Number:
        if (v.typeId() == QMetaType::Bool)
            return qint64(v.toBool() ? 1 : 0);
        if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float || v.typeId() == QMetaType::QDateTime)
            return value.number;
        return v.toLongLong();
    case Value::String: return value.string;
    default: return v;
    }
}

struct SqlBuilder {
    const std::function<QString(const QString&)>& columnForKey;
    QVariantList bindings;

    // SQL for one side; false when the key has no column.
    bool operand(const Expr& e, QString* out) {
        if (e.isKey) {
            *out = columnForKey ? columnForKey(e.key) : QString();
            return !out->isEmpty();
        }
        if (!e.value.isValid() || e.value.isNull()) {
            *out = QStringLiteral("NULL");
            return true;
        }
        *out = QStringLiteral("?");
        bindings.push_back(bindable(e.value));
        return true;
    }

    // `negated` tells whether a NOT encloses this node: there a NULL result
    // must become 0, or NOT would keep it NULL and drop the row that the
    // in-memory path keeps.
    QString build(const Node& node, bool negated) {
        switch (node.kind) {
        case Node::True: return QStringLiteral("1");
        case Node::False: return QStringLiteral("0");
        case Node::And:
        case Node::Or: {
            QStringList parts;
            for (const auto& c : node.children)
                parts << build(*c, negated);
            return QLatin1Char('(') + parts.join(node.kind == Node::And ? QStringLiteral(" AND ") : QStringLiteral(" OR ")) +
                   QLatin1Char(')');
        }
        case Node::Not: return QStringLiteral("(NOT %1)").arg(build(*node.children.front(), true));
        case Node::Compare: {
            const QString sql = comparison(node);
            return negated ? QStringLiteral("coalesce(%1, 0)").arg(sql) : sql;
        }
        }
        return QStringLiteral("0");
    }

    QString comparison(const Node& node) {
        const qsizetype mark = bindings.size();
        QString l, r;
        if (!operand(node.left, &l) || !operand(node.right, &r)) {
            bindings.resize(mark);
            return QStringLiteral("0");
        }
        const bool leftNil = !node.left.isKey && !node.left.value.isValid();
        const bool rightNil = !node.right.isKey && !node.right.value.isValid();
        if (isStringOp(node.op)) {
            if (node.op == Op::Contains && !node.right.isKey && node.right.value.typeId() == QMetaType::QString &&
                node.right.value.toString().isEmpty()) {
                bindings.resize(mark);
                return QStringLiteral("1");
            }
            const char* fn = node.op == Op::Contains ? "quillary_contains"
                             : node.op == Op::BeginsWith ? "quillary_beginswith"
                                                         : "quillary_like";
            const int options = (node.caseInsensitive ? 1 : 0) | (node.diacriticInsensitive ? 2 : 0);
            return QStringLiteral("%1(%2, %3, %4)").arg(QLatin1String(fn), l, r).arg(options);
        }
        if (leftNil || rightNil) {
            bindings.resize(mark);
            if (leftNil && rightNil)
                return node.op == Op::Equal ? QStringLiteral("1") : QStringLiteral("0");
            if (node.op != Op::Equal && node.op != Op::NotEqual)
                return QStringLiteral("0");
            QString other;
            operand(leftNil ? node.right : node.left, &other);
            return other + (node.op == Op::Equal ? QStringLiteral(" IS NULL") : QStringLiteral(" IS NOT NULL"));
        }
        const QString sqlOp = node.op == Op::Equal ? QStringLiteral("=") : QLatin1String(opText(node.op));
        return QStringLiteral("%1 %2 %3").arg(l, sqlOp, r);
    }
};

// A key that reads as a reserved word is written with "#" in front.
QString formatKey(const QString& key) {
    static const char* words[] = {"AND", "OR", "NOT", "CONTAINS", "BEGINSWITH", "LIKE", "TRUEPREDICATE", "FALSEPREDICATE",
                                  "YES", "NO", "TRUE", "FALSE", "NIL", "NULL"};
    for (const char* w : words) {
        if (key.compare(QLatin1String(w), Qt::CaseInsensitive) == 0)
            return QLatin1Char('#') + key;
    }
    return key;
}

void formatNode(const Node& node, QString& out, bool parenthesise) {
    switch (node.kind) {
    case Node::True: out += QStringLiteral("TRUEPREDICATE"); return;
    case Node::False: out += QStringLiteral("FALSEPREDICATE"); return;
    case Node::And:
    case Node::Or: {
        if (parenthesise)
            out += QLatin1Char('(');
        for (size_t i = 0; i < node.children.size(); ++i) {
            if (i)
                out += node.kind == Node::And ? QStringLiteral(" AND ") : QStringLiteral(" OR ");
            formatNode(*node.children[i], out, true);
        }
        if (parenthesise)
            out += QLatin1Char(')');
        return;
    }
    case Node::Not:
        out += QStringLiteral("NOT ");
        formatNode(*node.children.front(), out, true);
        return;
    case Node::Compare: {
        auto side = [](const Expr& e) { return e.isKey ? formatKey(e.key) : formatValue(e.value); };
        out += side(node.left) + QLatin1Char(' ') + QLatin1String(opText(node.op));
        if (node.caseInsensitive || node.diacriticInsensitive) {
            out += QLatin1Char('[');
            if (node.caseInsensitive)
                out += QLatin1Char('c');
            if (node.diacriticInsensitive)
                out += QLatin1Char('d');
            out += QLatin1Char(']');
        }
        out += QLatin1Char(' ') + side(node.right);
        return;
    }
    }
}

// ---------------------------------------------------------------- SQLite

QString textArgument(sqlite3_value* v) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return QString::fromUtf8(text, sqlite3_value_bytes(v));
}

void stringFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv, Op op) {
    if (argc != 3) {
        sqlite3_result_error(ctx, "wrong number of arguments", -1);
        return;
    }
    const int options = sqlite3_value_int(argv[2]);
    const bool nullHaystack = sqlite3_value_type(argv[0]) == SQLITE_NULL;
    const bool nullNeedle = sqlite3_value_type(argv[1]) == SQLITE_NULL;
    if (nullNeedle) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    const QString needle = textArgument(argv[1]);
    if (op == Op::Contains && needle.isEmpty()) {
        sqlite3_result_int(ctx, 1);
        return;
    }
    // Only text compares as text, as in memory: a number stored in a text
    // column is not a string there either.
    if (nullHaystack || sqlite3_value_type(argv[0]) != SQLITE_TEXT || sqlite3_value_type(argv[1]) != SQLITE_TEXT) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    const QString haystack = textArgument(argv[0]);
    sqlite3_result_int(ctx, stringOperation(op, haystack, needle, options & 1, options & 2) ? 1 : 0);
}

}  // namespace

Predicate::Predicate(std::shared_ptr<const Node> root) : m_root(std::move(root)) {}
Predicate::~Predicate() = default;

std::shared_ptr<const Predicate> Predicate::parse(const QString& format, const QVariantList& arguments, QString* error) {
    Parser parser(format, arguments);
    NodePtr root = parser.parse(error);
    if (!root)
        return nullptr;
    return std::make_shared<const Predicate>(root);
}

bool Predicate::evaluate(const ValueForKey& valueForKey) const {
    FoldMemo memo;
    return evaluateNode(*m_root, valueForKey, memo);
}

bool Predicate::evaluate(const ValueForKey& valueForKey, const FoldedValueForKey& foldedValueForKey) const {
    FoldMemo memo;
    memo.foldedValueForKey = &foldedValueForKey;
    return evaluateNode(*m_root, valueForKey, memo);
}

SqlWhere Predicate::toSql(const std::function<QString(const QString& key)>& columnForKey) const {
    SqlBuilder builder{columnForKey, {}};
    SqlWhere where;
    where.clause = builder.build(*m_root, false);
    where.bindings = builder.bindings;
    return where;
}

QString Predicate::format() const {
    QString out;
    formatNode(*m_root, out, false);
    return out;
}

bool registerSqliteFunctions(sqlite3* db) {
    if (!db)
        return false;
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    auto contains = [](sqlite3_context* c, int n, sqlite3_value** v) { stringFunction(c, n, v, Op::Contains); };
    auto begins = [](sqlite3_context* c, int n, sqlite3_value** v) { stringFunction(c, n, v, Op::BeginsWith); };
    auto like = [](sqlite3_context* c, int n, sqlite3_value** v) { stringFunction(c, n, v, Op::Like); };
    return sqlite3_create_function_v2(db, "quillary_contains", 3, flags, nullptr, contains, nullptr, nullptr, nullptr) ==
               SQLITE_OK &&
           sqlite3_create_function_v2(db, "quillary_beginswith", 3, flags, nullptr, begins, nullptr, nullptr, nullptr) ==
               SQLITE_OK &&
           sqlite3_create_function_v2(db, "quillary_like", 3, flags, nullptr, like, nullptr, nullptr, nullptr) == SQLITE_OK;
}

namespace {

bool isMark(char32_t cp) {
    const auto cat = QChar::category(cp);
    return cat == QChar::Mark_NonSpacing || cat == QChar::Mark_SpacingCombining || cat == QChar::Mark_Enclosing;
}

// Hangul jamo recompose into syllables, the one composition between
// characters that are not marks.
bool isJamo(char32_t cp) {
    return (cp >= 0x1100 && cp <= 0x11FF) || (cp >= 0xA960 && cp <= 0xA97F) || (cp >= 0xD7B0 && cp <= 0xD7FF);
}

// One code point folded: decomposed, marks dropped, recomposed, case-folded.
QString foldCodePoint(char32_t cp, bool caseInsensitive, bool diacriticInsensitive) {
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

}  // namespace

QString foldForComparison(const QString& text, bool caseInsensitive, bool diacriticInsensitive) {
    if (!caseInsensitive && !diacriticInsensitive)
        return text;
    // Folding character by character gives the same text as folding the
    // whole string (marks are dropped, and only jamo compose without marks),
    // and lets the characters come from tables: a flat one for the alphabets
    // of the first pages, a map for the rest.
    constexpr char32_t kFlat = 0x800;
    const int options = (caseInsensitive ? 1 : 0) | (diacriticInsensitive ? 2 : 0);
    struct Flat {
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
        // character that folds to several (ß → ss) makes it grow.
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

}  // namespace platform
