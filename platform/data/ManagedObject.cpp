#include "platform/data/ManagedObject.h"

#include "platform/core/Log.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/data/ManagedObjectModel.h"

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

QVariant ManagedObject::value(const QString& key) const
{
    fulfill();
    return m_values.value(key);
}

QVariantMap ManagedObject::values() const
{
    fulfill();
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
    fulfill();
    const auto existing = m_values.constFind(key);
    const bool same = existing == m_values.constEnd() ? coerced.isNull() : *existing == coerced && existing->isNull() == coerced.isNull();
    if (coerced.isNull())
        m_values.remove(key);
    else
        m_values.insert(key, coerced);
    if (!same && !attribute->transient && !m_deleted) {
        m_changedKeys.insert(key);
        if (m_context)
            m_context->noteChanged(this);
    }
    if (!same)
        didChangeValue(key);
    return true;
}

QVariant ManagedObject::primitiveValue(const QString& key) const
{
    fulfill();
    return m_values.value(key);
}

void ManagedObject::setPrimitiveValue(const QString& key, const QVariant& value)
{
    fulfill();
    if (!value.isValid() || value.isNull())
        m_values.remove(key);
    else
        m_values.insert(key, value);
}

}  // namespace platform
