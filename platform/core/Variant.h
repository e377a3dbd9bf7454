#pragma once

#include <QVariant>

namespace platform {

// Whether a settings, store or property-list value holds a number of any
// integer or floating-point width. Booleans are not numbers here: callers that
// count YES/NO as 1/0 say so themselves.
inline bool isNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

}  // namespace platform

namespace platform {

// A value's truth as the note attributes carry it: a boolean or a number as
// itself; a string is true when, after leading white space and an optional
// sign and zeros, it starts with "Y", "y", "T", "t" or a digit 1-9. So "no",
// "false" and "0" are false, where QVariant::toBool() would call "no" true.
bool variantBoolValue(const QVariant& value);

// A value's number as the note attributes carry it: a number as itself, a
// string by its leading decimal number ("12abc" is 12, "abc" is 0), anything
// else 0.
double variantDoubleValue(const QVariant& value);

}  // namespace platform
