#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVariant>

namespace platform {

// A property-list date. Kept apart from QDateTime so that the fractions of a
// millisecond a peer wrote survive a read and a write.
struct PlistDate
{
    double secondsSince1970 = 0;
    bool operator==(const PlistDate& other) const { return secondsSince1970 == other.secondsSince1970; }
};

enum class PropertyListFormat
{
    Binary,
    Xml
};

// Reads a binary or XML property list. Anything that is not one gives a null
// QVariant and, when `error` is given, a short reason.
// dict → QVariantMap, array → QVariantList, string → QString, integer → qint64,
// real → double, bool → bool, data → QByteArray, date → PlistDate.
QVariant readPropertyList(const QByteArray& data, QString* error = nullptr);

// Writes `value` (the same types as above; other integer and floating types
// are accepted too). A value that has no property-list form gives an empty
// array and the reason in `error`.
QByteArray writePropertyList(const QVariant& value, PropertyListFormat format = PropertyListFormat::Binary,
                             QString* error = nullptr);

} // namespace platform

Q_DECLARE_METATYPE(platform::PlistDate)
