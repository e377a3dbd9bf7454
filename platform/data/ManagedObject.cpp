#include "platform/data/ManagedObject.h"

#include "platform/core/Log.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/data/ManagedObjectModel.h"
#include "platform/predicate/TextFolding.h"

namespace platform {

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
    return m_values;
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
    const auto existing = m_values.constFind(key);
    const bool same = existing == m_values.constEnd()
                          ? coerced.isNull()
                          : *existing == coerced && existing->isNull() == coerced.isNull();
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
    const auto found = m_values.constFind(key);
    if (found == m_values.constEnd() || found->typeId() != QMetaType::QString)
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
