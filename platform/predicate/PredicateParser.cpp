#include "platform/predicate/PredicateNode.h"

#include <QStringList>

namespace platform {

using namespace predicate_detail;

namespace {

using NodePtr = std::shared_ptr<const Predicate::Node>;
using Node = Predicate::Node;

// Deeper nesting than any real filter needs; bounds the recursion of parsing,
// evaluation and SQL generation alike.
constexpr int kMaxDepth = 256;

struct Token
{
    enum Kind
    {
        End,
        Ident,
        EscapedIdent,
        String,
        Number,
        Argument,
        KeyArgument,
        Symbol
    } kind = End;
    QString text; // identifier, string contents, or symbol
    QVariant number;
    int position = 0;
};

class Parser
{
public:
    Parser(const QString& format, const QVariantList& arguments) : m_text(format), m_arguments(arguments) {}

    NodePtr parse(QString* error)
    {
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
    bool tokenize()
    {
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
                if (t.text.startsWith(QLatin1Char('#'))) { // "#key" escapes a reserved word
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
                        s += e == QLatin1Char('n')   ? QChar(QLatin1Char('\n'))
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

    bool startsNumber(qsizetype i) const
    {
        const qsizetype n = m_text.size();
        return i < n && (m_text[i].isDigit() ||
                         (m_text[i] == QLatin1Char('.') && i + 1 < n && m_text[i + 1].isDigit()));
    }

    bool fail(const QString& message)
    {
        if (m_error.isEmpty())
            m_error = message;
        return false;
    }

    const Token& current() const { return m_tokens[m_pos]; }
    void advance()
    {
        if (m_pos + 1 < m_tokens.size())
            ++m_pos;
    }
    bool isWord(const Token& t, const char* word) const
    {
        return t.kind == Token::Ident && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    bool isSymbol(const Token& t, const char* sym) const
    {
        return t.kind == Token::Symbol && t.text == QLatin1String(sym);
    }
    static QString describe(const Token& t)
    {
        switch (t.kind) {
        case Token::End:
            return QStringLiteral("end of format");
        case Token::Argument:
            return QStringLiteral("%@");
        case Token::KeyArgument:
            return QStringLiteral("%K");
        case Token::Number:
            return t.number.toString();
        default:
            return t.text;
        }
    }

    NodePtr parseOr(int depth)
    {
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

    NodePtr parseAnd(int depth)
    {
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

    NodePtr parseUnary(int depth)
    {
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

    std::optional<Expr> parseExpression()
    {
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

    bool isReserved(const Token& t) const
    {
        static const char* words[] = {"AND",        "OR",   "NOT",           "CONTAINS",
                                      "BEGINSWITH", "LIKE", "TRUEPREDICATE", "FALSEPREDICATE"};
        for (const char* w : words) {
            if (isWord(t, w))
                return true;
        }
        return false;
    }

    NodePtr parseComparison()
    {
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
                    node->folding = TextFolding(true, node->folding.diacriticInsensitive());
                else if (c == QLatin1Char('d'))
                    node->folding = TextFolding(node->folding.caseInsensitive(), true);
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
            node->foldedNeedle = node->folding.fold(right->value.toString());
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

} // namespace

std::shared_ptr<const Predicate> Predicate::parse(const QString& format, const QVariantList& arguments,
                                                  QString* error)
{
    Parser parser(format, arguments);
    NodePtr root = parser.parse(error);
    if (!root)
        return nullptr;
    return std::make_shared<const Predicate>(root);
}

} // namespace platform
