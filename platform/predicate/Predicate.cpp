#include "platform/predicate/PredicateNode.h"

#include <cmath>

namespace platform {

using namespace predicate_detail;

namespace {

using Node = Predicate::Node;

QString quoteString(const QString& s)
{
    QString out = QStringLiteral("\"");
    for (QChar ch : s) {
        if (ch == QLatin1Char('"') || ch == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += ch;
    }
    out += QLatin1Char('"');
    return out;
}

QString formatNumber(double d)
{
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

QString formatValue(const QVariant& v)
{
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

// A key that reads as a reserved word is written with "#" in front.
QString formatKey(const QString& key)
{
    static const char* words[] = {
        "AND", "OR", "NOT",  "CONTAINS", "BEGINSWITH", "LIKE", "TRUEPREDICATE", "FALSEPREDICATE",
        "YES", "NO", "TRUE", "FALSE",    "NIL",        "NULL"};
    for (const char* w : words) {
        if (key.compare(QLatin1String(w), Qt::CaseInsensitive) == 0)
            return QLatin1Char('#') + key;
    }
    return key;
}

void formatNode(const Node& node, QString& out, bool parenthesise)
{
    switch (node.kind) {
    case Node::True:
        out += QStringLiteral("TRUEPREDICATE");
        return;
    case Node::False:
        out += QStringLiteral("FALSEPREDICATE");
        return;
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
        if (!node.folding.foldsNothing()) {
            out += QLatin1Char('[');
            if (node.folding.caseInsensitive())
                out += QLatin1Char('c');
            if (node.folding.diacriticInsensitive())
                out += QLatin1Char('d');
            out += QLatin1Char(']');
        }
        out += QLatin1Char(' ') + side(node.right);
        return;
    }
    }
}

} // namespace

const char* predicate_detail::opText(Op op)
{
    switch (op) {
    case Op::Equal:
        return "==";
    case Op::NotEqual:
        return "!=";
    case Op::Less:
        return "<";
    case Op::LessEqual:
        return "<=";
    case Op::Greater:
        return ">";
    case Op::GreaterEqual:
        return ">=";
    case Op::Contains:
        return "CONTAINS";
    case Op::BeginsWith:
        return "BEGINSWITH";
    case Op::Like:
        return "LIKE";
    }
    return "";
}

Predicate::Predicate(std::shared_ptr<const Node> root) : m_root(std::move(root)) {}
Predicate::~Predicate() = default;

QString Predicate::format() const
{
    QString out;
    formatNode(*m_root, out, false);
    return out;
}

} // namespace platform
