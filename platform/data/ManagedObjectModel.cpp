#include "platform/data/ManagedObjectModel.h"

#include "platform/core/Log.h"
#include "platform/core/Variant.h"

#include <QDateTime>

#include <cmath>
#include <optional>

namespace platform {

const AttributeDescription* EntityDescription::attribute(const QString& name) const
{
    for (const auto& attribute : attributes) {
        if (attribute.name == name)
            return &attribute;
    }
    return nullptr;
}

const EntityDescription* ManagedObjectModel::entity(const QString& name) const
{
    for (const auto& entity : entities) {
        if (entity.name == name)
            return &entity;
    }
    return nullptr;
}

namespace {

// Text that stands for a number. QString::toDouble reads the C locale only, so
// a German process locale cannot change what "1700000000.5" means.
std::optional<double> numberFromText(const QString& text)
{
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    return number;
}

QString validText(const AttributeDescription& attribute, const QString& text)
{
    int replaced = 0;
    QString valid = replaceUnpairedSurrogates(text, &replaced);
    if (replaced > 0)
        log(QStringLiteral("Replaced %1 unpaired surrogate(s) in %2 with U+FFFD")
                .arg(replaced)
                .arg(attribute.name));
    return valid;
}

} // namespace

QString replaceUnpairedSurrogates(const QString& text, int* replaced)
{
    int count = 0;
    QString valid = text;
    for (qsizetype i = 0; i < valid.size(); ++i) {
        const QChar c = valid.at(i);
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < valid.size() && valid.at(i + 1).isLowSurrogate()) {
            ++i; // a pair: one character outside the basic plane
            continue;
        }
        valid[i] = QChar(QChar::ReplacementCharacter);
        ++count;
    }
    if (replaced)
        *replaced = count;
    return valid;
}

QVariant coerceValue(const AttributeDescription& attribute, const QVariant& value, bool* ok)
{
    *ok = true;
    if (!value.isValid() || value.isNull())
        return {};
    const int type = value.typeId();
    switch (attribute.type) {
    case AttributeType::String:
        if (type == QMetaType::QString)
            return validText(attribute, value.toString());
        if (type == QMetaType::QByteArray)
            return QString::fromUtf8(value.toByteArray());
        if (isNumber(value))
            return value.toString();
        break;
    case AttributeType::Double:
        if (isNumber(value) || type == QMetaType::Bool)
            return value.toDouble();
        if (type == QMetaType::QDateTime)
            return double(value.toDateTime().toMSecsSinceEpoch()) / 1000.0;
        if (type == QMetaType::QString) {
            if (auto number = numberFromText(value.toString()))
                return *number;
        }
        break;
    case AttributeType::Integer:
        if (type == QMetaType::Double || type == QMetaType::Float) {
            const double number = value.toDouble();
            if (std::isfinite(number) && std::fabs(number) < 9.2e18)
                return qint64(number);
            break;
        }
        if (isNumber(value) || type == QMetaType::Bool)
            return value.toLongLong();
        if (type == QMetaType::QString) {
            bool isInteger = false;
            const qint64 integer = value.toString().trimmed().toLongLong(&isInteger);
            if (isInteger)
                return integer;
            if (auto number = numberFromText(value.toString()); number && std::fabs(*number) < 9.2e18)
                return qint64(*number);
        }
        break;
    case AttributeType::Boolean:
        if (type == QMetaType::Bool)
            return value;
        if (isNumber(value))
            return value.toDouble() != 0.0;
        if (type == QMetaType::QString) {
            const QString text = value.toString().trimmed().toLower();
            if (text == u"yes" || text == u"true")
                return true;
            if (text == u"no" || text == u"false")
                return false;
            if (auto number = numberFromText(text))
                return *number != 0.0;
        }
        break;
    }
    *ok = false;
    return {};
}

} // namespace platform
