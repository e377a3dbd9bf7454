#pragma once

#include "platform/data/ObjectID.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>
#include <vector>

namespace platform {

class ManagedObjectContext;
struct EntityDescription;

// The values of one object: a slot per attribute of its entity, in the
// entity's order, and a map for any other key. A list holds many objects of
// a few values each; a map of its own per object cost more than the values.
// A key is present when its slot holds a valid QVariant.
class ObjectValues
{
public:
    void setEntity(const EntityDescription* entity) { m_entity = entity; }
    // Null when `key` has no value.
    const QVariant* find(const QString& key) const;
    QVariant value(const QString& key) const;
    void insert(const QString& key, const QVariant& value);
    void remove(const QString& key);
    void clear();
    ObjectValues& operator=(const QVariantMap& values);
    // Takes values laid out one per attribute of the entity, in its order
    // (an invalid variant where there is none).
    void assignSlots(std::vector<QVariant>&& values);
    QVariantMap toMap() const;
    // The values of the stored (not transient) attributes.
    QVariantMap storedValues() const;

private:
    qsizetype slot(const QString& key) const;

    const EntityDescription* m_entity = nullptr;
    std::vector<QVariant> m_slots;
    QVariantMap m_others;
};

// One record living in one context. Objects are created only by their context,
// which owns them and frees them only when it is destroyed, so pointers held
// by lists and selections stay valid. Use an object only on its context's
// queue.
class ManagedObject
{
public:
    virtual ~ManagedObject();
    ManagedObject(const ManagedObject&) = delete;
    ManagedObject& operator=(const ManagedObject&) = delete;

    const ObjectID& objectID() const { return m_objectID; }
    const EntityDescription* entity() const { return m_entity; }
    ManagedObjectContext* context() const { return m_context; }

    bool isFault() const { return m_fault; }
    bool isInserted() const { return m_inserted; }
    bool isDeleted() const { return m_deleted; }
    bool hasChanges() const;
    // Keys changed since the last save, with their new values.
    QVariantMap changedValues() const;

    // Reads fill a fault first. Writes coerce to the attribute's type; a value
    // that cannot be coerced, or an unknown key, is logged and not stored.
    QVariant value(const QString& key) const;
    bool setValue(const QString& key, const QVariant& value);

    // Without change tracking or notices (caches such as a note's title).
    QVariant primitiveValue(const QString& key) const;
    void setPrimitiveValue(const QString& key, const QVariant& value);

    // Every stored value (fills a fault, loads every key left unloaded).
    QVariantMap values() const;

    // Stored keys a fetch left unloaded (see FetchRequest::deferredKeys).
    // Each is read, through the context and its parents down to the file,
    // the first time it is read here, or when the object is first changed:
    // a record changed here may have to be written again whole.
    const QStringList& unloadedKeys() const { return m_unloadedKeys; }
    bool isLoaded(const QString& key) const { return !m_fault && !m_unloadedKeys.contains(key); }

    // The text under `key` folded as TextFolding::fold() folds it, kept from
    // one call to the next while the text stays the same, so that filtering a
    // list again folds only the texts that changed. nullopt when the value is
    // not text.
    std::optional<QString> foldedValue(const QString& key, bool caseInsensitive,
                                       bool diacriticInsensitive) const;

protected:
    ManagedObject() = default;

    virtual void awakeFromInsert() {}
    // Runs each time the object's values are loaded, also after a refresh.
    virtual void awakeFromFetch() {}
    virtual void didChangeValue(const QString& key) { (void)key; }
    // Runs when keys a fetch left unloaded have been read.
    virtual void didLoadValues(const QStringList& keys) { (void)keys; }

private:
    friend class ManagedObjectContext;
    void fulfill() const;
    // fulfill(), and reads `key` when it was left unloaded (every unloaded
    // key when `key` is null).
    void load(const QString& key) const;

    ObjectID m_objectID;
    const EntityDescription* m_entity = nullptr;
    ManagedObjectContext* m_context = nullptr;
    mutable ObjectValues m_values;
    mutable QStringList m_unloadedKeys; // shared by every object of one fetch
    struct FoldedText
    {
        QString key;
        int options = 0;
        QString source; // shares the value's memory while that is unchanged
        QString folded;
    };
    mutable std::vector<FoldedText> m_foldedTexts;
    QSet<QString> m_changedKeys;
    mutable bool m_fault = true;
    bool m_inserted = false;
    bool m_deleted = false;
    bool m_deletionSaved = false;
    bool m_vanished = false; // deleted because its record was gone when the fault was filled
    bool m_updated = false;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::ManagedObject*)
