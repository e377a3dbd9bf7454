#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace platform {

class ManagedObject;

enum class AttributeType
{
    String,
    Double,
    Boolean,
    Integer
};

struct AttributeDescription
{
    QString name;
    AttributeType type = AttributeType::String;
    QVariant defaultValue;  // filled in at insert; null = none
    bool transient = false; // kept in memory only, never written
    bool indexed = false;
    // Text kept in the file's search index as well (SearchIndex).
    bool searchIndexed = false;
};

struct EntityDescription
{
    QString name;
    std::vector<AttributeDescription> attributes;
    // Makes the object of this entity's class (a ManagedObject subclass).
    std::function<std::unique_ptr<ManagedObject>()> factory;

    const AttributeDescription* attribute(const QString& name) const;
};

// A transient key that a fetch fills from the file without reading a whole
// text into memory: the first line of the text under `sourceKey` that is not
// blank, trimmed as a title is (leading white space, and trailing white space
// when the text has one line), cut to `maxLength` UTF-16 units without
// splitting a surrogate pair. Null when the text is null.
struct FirstLineKey
{
    QString key;
    QString sourceKey;
    int maxLength = 4096;
};

// The data model, defined in code. `version` is written to the file's
// user_version; opening a file of an older version adds what is missing
// (tables, columns, indexes) and then runs `migrationSteps` of each version
// passed, all in one transaction.
class ManagedObjectModel
{
public:
    int version = 1;
    std::vector<EntityDescription> entities;
    std::map<int, QStringList> migrationSteps; // SQL that brings version k-1 to k

    const EntityDescription* entity(const QString& name) const;
};

// Brings `value` to the attribute's type: numbers written as text (web
// replies, scripts) become numbers, and so on. Returns a null QVariant and
// sets `ok` false when the value cannot stand for that type.
// Text is kept as valid UTF-16: an unpaired surrogate (which has no UTF-8
// form) becomes U+FFFD, logged once per value.
QVariant coerceValue(const AttributeDescription& attribute, const QVariant& value, bool* ok);

// `text` with every unpaired surrogate replaced by U+FFFD; `replaced` (when
// given) counts them.
QString replaceUnpairedSurrogates(const QString& text, int* replaced = nullptr);

} // namespace platform
