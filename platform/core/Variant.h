#pragma once

#include <QVariant>

namespace platform {

// Whether a settings, store, property-list or key-binding value holds a number
// of any integer or floating-point width: the 8-bit types (qint8, quint8,
// char) count as numbers, QChar does not. Every "is this a number" question in
// the tree asks here, so a value that sorts as a number also coerces and
// compares as one.
//
// Booleans are not numbers here: callers that count YES/NO as 1/0 use
// isNumberOrBool() and say so.
inline bool isNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

inline bool isNumberOrBool(const QVariant& value)
{
    return isNumber(value) || value.typeId() == QMetaType::Bool;
}

// A value's truth as the note attributes carry it: a boolean or a number as
// itself; a string is true when, after leading white space and an optional
// sign and zeros, it starts with "Y", "y", "T", "t" or a digit 1-9. So "no",
// "false" and "0" are false, where QVariant::toBool() would call "no" true.
bool variantBoolValue(const QVariant& value);

// A value's number as the note attributes carry it: a number as itself, a
// string by its leading decimal number ("12abc" is 12, "abc" is 0), anything
// else 0.
double variantDoubleValue(const QVariant& value);

} // namespace platform
