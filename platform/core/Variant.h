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
