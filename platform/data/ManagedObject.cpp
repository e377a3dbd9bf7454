#include "platform/data/ManagedObject.h"

#include "platform/core/Log.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/data/ManagedObjectModel.h"
#include "platform/predicate/TextFolding.h"

namespace platform {

qsizetype ObjectValues::slot(const QString& key) const
{
    if (!m_entity)
        return -1;
    // Keys mostly come as copies of the entity's own names, which share
    // their text: those are told apart without comparing characters.
    const auto& attributes = m_entity->attributes;
    for (size_t i = 0; i < attributes.size(); ++i) {
        if (attributes[i].name.constData() == key.constData())
            return qsizetype(i);
    }
    for (size_t i = 0; i < attributes.size(); ++i) {
        if (attributes[i].name == key)
            return qsizetype(i);
    }
    return -1;
}

const QVariant* ObjectValues::find(const QString& key) const
{
    const qsizetype index = slot(key);
    if (index < 0) {
        const auto found = m_others.constFind(key);
        return found == m_others.constEnd() ? nullptr : &*found;
    }
    return size_t(index) < m_slots.size() && m_slots[size_t(index)].isValid() ? &m_slots[size_t(index)]
                                                                              : nullptr;
}

QVariant ObjectValues::value(const QString& key) const
{
    const QVariant* found = find(key);
    return found ? *found : QVariant();
}

void ObjectValues::insert(const QString& key, const QVariant& value)
{
    const qsizetype index = slot(key);
    if (index < 0) {
        m_others.insert(key, value);
        return;
    }
    if (m_slots.empty())
        m_slots.resize(m_entity->attributes.size());
    m_slots[size_t(index)] = value;
}

void ObjectValues::remove(const QString& key)
{
    const qsizetype index = slot(key);
    if (index < 0)
        m_others.remove(key);
    else if (size_t(index) < m_slots.size())
        m_slots[size_t(index)] = QVariant();
}

void ObjectValues::clear()
{
    m_slots = {};
    m_others.clear();
}

ObjectValues& ObjectValues::operator=(const QVariantMap& values)
{
    clear();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (it.value().isValid())
            insert(it.key(), it.value());
    }
    return *this;
}

void ObjectValues::assignSlots(std::vector<QVariant>&& values)
{
    m_others.clear();
    m_slots = std::move(values);
}

QVariantMap ObjectValues::toMap() const
{
    QVariantMap map = m_others;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].isValid())
            map.insert(m_entity->attributes[i].name, m_slots[i]);
    }
    return map;
}

QVariantMap ObjectValues::storedValues() const
{
    QVariantMap map;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].isValid() && !m_entity->attributes[i].transient)
            map.insert(m_entity->attributes[i].name, m_slots[i]);
    }
    return map;
}

ManagedObject::~ManagedObject() = default;

bool ManagedObject::hasChanges() const
{
    return m_inserted || (m_deleted && !m_deletionSaved) || !m_changedKeys.isEmpty();
}

QVariantMap ManagedObject::changedValues() const
{
    QVariantMap changed;
    for (const auto& key : m_changedKeys)
        changed.insert(key, m_values.value(key));
    return changed;
}

void ManagedObject::fulfill() const
{
    if (m_fault && m_context)
        m_context->fulfillFault(const_cast<ManagedObject*>(this));
}

void ManagedObject::load(const QString& key) const
{
    fulfill();
    if (m_unloadedKeys.isEmpty() || !m_context || (!key.isNull() && !m_unloadedKeys.contains(key)))
        return;
    m_context->loadUnloadedKeys(const_cast<ManagedObject*>(this));
}

QVariant ManagedObject::value(const QString& key) const
{
    load(key);
    return m_values.value(key);
}

QVariantMap ManagedObject::values() const
{
    load(QString());
    return m_values.toMap();
}

bool ManagedObject::setValue(const QString& key, const QVariant& value)
{
    const AttributeDescription* attribute = m_entity ? m_entity->attribute(key) : nullptr;
    if (!attribute) {
        log(QStringLiteral("Refusing unknown key %1 of %2").arg(key, m_entity ? m_entity->name : QString()));
        return false;
    }
    bool ok = false;
    const QVariant coerced = coerceValue(*attribute, value, &ok);
    if (!ok) {
        log(QStringLiteral("Refusing value %1 for %2.%3").arg(value.toString(), m_entity->name, key));
        return false;
    }
    Q_ASSERT_X(!m_context || m_context->isOnQueue(), Q_FUNC_INFO, "object changed off its context's queue");
    load(attribute->transient ? key : QString());
    const QVariant* existing = m_values.find(key);
    const bool same =
        !existing ? coerced.isNull() : *existing == coerced && existing->isNull() == coerced.isNull();
    if (coerced.isNull())
        m_values.remove(key);
    else
        m_values.insert(key, coerced);
    if (!same && !attribute->transient && m_vanished) {
        // Its record went away underneath (pruned elsewhere): the edit wins,
        // and saving it writes the record again.
        m_vanished = false;
        m_deleted = false;
        m_deletionSaved = false;
    }
    if (!same && !attribute->transient && !m_deleted) {
        m_changedKeys.insert(key);
        if (m_context)
            m_context->noteChanged(this);
    }
    if (!same) {
        std::erase_if(m_foldedTexts, [&](const FoldedText& entry) { return entry.key == key; });
        didChangeValue(key);
    }
    return true;
}

std::optional<QString> ManagedObject::foldedValue(const QString& key, bool caseInsensitive,
                                                  bool diacriticInsensitive) const
{
    load(key);
    const QVariant* found = m_values.find(key);
    if (!found || found->typeId() != QMetaType::QString)
        return std::nullopt;
    const QString text = found->toString();
    const int options = (caseInsensitive ? 1 : 0) | (diacriticInsensitive ? 2 : 0);
    // The kept copy holds on to the text it was folded from, so that memory
    // cannot be reused by a new text: sharing it proves the text unchanged.
    for (auto& entry : m_foldedTexts) {
        if (entry.options != options || entry.key != key)
            continue;
        if (!entry.source.isSharedWith(text)) {
            entry.source = text;
            entry.folded = TextFolding(caseInsensitive, diacriticInsensitive).fold(text);
        }
        return entry.folded;
    }
    m_foldedTexts.push_back(
        {key, options, text, TextFolding(caseInsensitive, diacriticInsensitive).fold(text)});
    return m_foldedTexts.back().folded;
}

QVariant ManagedObject::primitiveValue(const QString& key) const
{
    load(key);
    return m_values.value(key);
}

void ManagedObject::setPrimitiveValue(const QString& key, const QVariant& value)
{
    fulfill();
    if (m_unloadedKeys.contains(key))
        m_unloadedKeys.removeAll(key);
    if (!value.isValid() || value.isNull())
        m_values.remove(key);
    else
        m_values.insert(key, value);
}

} // namespace platform
