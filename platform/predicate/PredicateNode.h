#pragma once

// The parsed form of a predicate, shared by its parser, evaluation, SQL and
// written form. Internal to platform/predicate.

#include "platform/core/Variant.h"
#include "platform/predicate/Predicate.h"
#include "platform/predicate/TextFolding.h"

#include <QDateTime>
#include <QStringMatcher>

#include <memory>
#include <optional>
#include <vector>

namespace platform {

namespace predicate_detail {

enum class Op
{
    Equal,
    NotEqual,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    Contains,
    BeginsWith,
    Like
};

struct Expr
{
    bool isKey = false;
    QString key;
    QVariant value; // invalid = nil
};

// A value reduced to one of the kinds comparisons understand.
struct Value
{
    enum Kind
    {
        Nil,
        Number,
        String,
        Other
    } kind = Nil;
    double number = 0;
    QString string;
    QVariant other;
};

inline Value classify(const QVariant& v)
{
    Value out;
    if (!v.isValid() || v.isNull())
        return out;
    if (v.typeId() == QMetaType::Bool) {
        out.kind = Value::Number;
        out.number = v.toBool() ? 1 : 0;
        return out;
    }
    if (isNumber(v)) {
        out.kind = Value::Number;
        out.number = v.toDouble();
        return out;
    }
    switch (v.typeId()) {
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

inline bool isStringOp(Op op)
{
    return op == Op::Contains || op == Op::BeginsWith || op == Op::Like;
}

// The operator as the format writes it.
const char* opText(Op op);

// CONTAINS, BEGINSWITH or LIKE on texts already folded as the comparison asks.
bool foldedStringOperation(Op op, const QString& haystack, const QString& needle);

} // namespace predicate_detail

struct Predicate::Node
{
    enum Kind
    {
        True,
        False,
        And,
        Or,
        Not,
        Compare
    } kind = True;
    std::vector<std::shared_ptr<const Node>> children;
    predicate_detail::Expr left;
    predicate_detail::Expr right;
    predicate_detail::Op op = predicate_detail::Op::Equal;
    // The [c], [d] or [cd] options of a string comparison.
    TextFolding folding;
    // The constant right side of CONTAINS/BEGINSWITH/LIKE, folded once.
    std::optional<QString> foldedNeedle;
    // Searches long texts for that word with skips rather than char by char.
    std::shared_ptr<const QStringMatcher> needleMatcher;
};

} // namespace platform
