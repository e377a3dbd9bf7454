#include "platform/predicate/PredicateNode.h"

#include <QStringList>

#include <sqlite3.h>

namespace platform {

using namespace predicate_detail;

namespace {

using Node = Predicate::Node;

QVariant bindable(const QVariant& v)
{
    const Value value = classify(v);
    switch (value.kind) {
    case Value::Number:
        if (v.typeId() == QMetaType::Bool)
            return qint64(v.toBool() ? 1 : 0);
        if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float ||
            v.typeId() == QMetaType::QDateTime)
            return value.number;
        return v.toLongLong();
    case Value::String:
        return value.string;
    default:
        return v;
    }
}

struct SqlBuilder
{
    const std::function<QString(const QString&)>& columnForKey;
    QVariantList bindings;

    // SQL for one side; false when the key has no column.
    bool operand(const Expr& e, QString* out)
    {
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
    QString build(const Node& node, bool negated)
    {
        switch (node.kind) {
        case Node::True:
            return QStringLiteral("1");
        case Node::False:
            return QStringLiteral("0");
        case Node::And:
        case Node::Or: {
            QStringList parts;
            for (const auto& c : node.children)
                parts << build(*c, negated);
            return QLatin1Char('(') +
                   parts.join(node.kind == Node::And ? QStringLiteral(" AND ") : QStringLiteral(" OR ")) +
                   QLatin1Char(')');
        }
        case Node::Not:
            return QStringLiteral("(NOT %1)").arg(build(*node.children.front(), true));
        case Node::Compare: {
            const QString sql = comparison(node);
            return negated ? QStringLiteral("coalesce(%1, 0)").arg(sql) : sql;
        }
        }
        return QStringLiteral("0");
    }

    QString comparison(const Node& node)
    {
        const qsizetype mark = bindings.size();
        QString l, r;
        if (!operand(node.left, &l) || !operand(node.right, &r)) {
            bindings.resize(mark);
            return QStringLiteral("0");
        }
        const bool leftNil = !node.left.isKey && !node.left.value.isValid();
        const bool rightNil = !node.right.isKey && !node.right.value.isValid();
        if (isStringOp(node.op)) {
            if (node.op == Op::Contains && !node.right.isKey &&
                node.right.value.typeId() == QMetaType::QString && node.right.value.toString().isEmpty()) {
                bindings.resize(mark);
                return QStringLiteral("1");
            }
            const char* fn = node.op == Op::Contains     ? "quillary_contains"
                             : node.op == Op::BeginsWith ? "quillary_beginswith"
                                                         : "quillary_like";
            return QStringLiteral("%1(%2, %3, %4)").arg(QLatin1String(fn), l, r).arg(node.folding.options());
        }
        if (leftNil || rightNil) {
            bindings.resize(mark);
            if (leftNil && rightNil)
                return node.op == Op::Equal ? QStringLiteral("1") : QStringLiteral("0");
            if (node.op != Op::Equal && node.op != Op::NotEqual)
                return QStringLiteral("0");
            QString other;
            operand(leftNil ? node.right : node.left, &other);
            return other +
                   (node.op == Op::Equal ? QStringLiteral(" IS NULL") : QStringLiteral(" IS NOT NULL"));
        }
        const QString sqlOp = node.op == Op::Equal ? QStringLiteral("=") : QLatin1String(opText(node.op));
        return QStringLiteral("%1 %2 %3").arg(l, sqlOp, r);
    }
};

QString textArgument(sqlite3_value* v)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return QString::fromUtf8(text, sqlite3_value_bytes(v));
}

void stringFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv, Op op)
{
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
    if (nullHaystack || sqlite3_value_type(argv[0]) != SQLITE_TEXT ||
        sqlite3_value_type(argv[1]) != SQLITE_TEXT) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    const QString haystack = textArgument(argv[0]);
    const TextFolding folding(options & 1, options & 2);
    sqlite3_result_int(ctx, foldedStringOperation(op, folding.fold(haystack), folding.fold(needle)) ? 1 : 0);
}

} // namespace

SqlWhere Predicate::toSql(const std::function<QString(const QString& key)>& columnForKey) const
{
    SqlBuilder builder{columnForKey, {}};
    SqlWhere where;
    where.clause = builder.build(*m_root, false);
    where.bindings = builder.bindings;
    return where;
}

bool registerSqliteFunctions(sqlite3* db)
{
    if (!db)
        return false;
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    auto contains = [](sqlite3_context* c, int n, sqlite3_value** v) {
        stringFunction(c, n, v, Op::Contains);
    };
    auto begins = [](sqlite3_context* c, int n, sqlite3_value** v) {
        stringFunction(c, n, v, Op::BeginsWith);
    };
    auto like = [](sqlite3_context* c, int n, sqlite3_value** v) { stringFunction(c, n, v, Op::Like); };
    return sqlite3_create_function_v2(db, "quillary_contains", 3, flags, nullptr, contains, nullptr, nullptr,
                                      nullptr) == SQLITE_OK &&
           sqlite3_create_function_v2(db, "quillary_beginswith", 3, flags, nullptr, begins, nullptr, nullptr,
                                      nullptr) == SQLITE_OK &&
           sqlite3_create_function_v2(db, "quillary_like", 3, flags, nullptr, like, nullptr, nullptr,
                                      nullptr) == SQLITE_OK;
}

} // namespace platform
