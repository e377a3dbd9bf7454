#pragma once
// Converts values one way and, when it can, back; registered by name so a
// binding can name its transformer.

#include <QString>
#include <QVariant>
#include <memory>

class ValueTransformer
{
public:
    virtual ~ValueTransformer() = default;
    virtual QVariant transformedValue(const QVariant& value) const = 0;
    virtual QVariant reverseTransformedValue(const QVariant& value) const { return value; }
    virtual bool allowsReverseTransformation() const { return false; }

    static void setValueTransformerForName(const QString& name,
                                           std::shared_ptr<ValueTransformer> transformer);
    static std::shared_ptr<ValueTransformer> valueTransformerForName(const QString& name);
};
