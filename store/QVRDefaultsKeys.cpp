#include "store/QVRDefaultsKeys.h"

#include "platform/core/UserDefaults.h"
#include "platform/core/Variant.h"

namespace QVRDefaultsKeys {

QString windowFrame(const QString& autosaveName)
{
    return QStringLiteral("NSWindow Frame ") + autosaveName;
}

QString dataStoreUpdated(const QString& storeIdentifier)
{
    const QString base = QStringLiteral("QVRDataStoreUpdated");
    return storeIdentifier.isNull() ? base : QStringLiteral("%1-%2").arg(base, storeIdentifier);
}

// UserDefaults' own getters read a value of the wrong type as 0, false or
// empty; a setting reads as its fallback then, as while nothing is stored.

bool value(const platform::UserDefaults& defaults, const Setting<bool>& setting)
{
    return platform::isNumberOrBool(defaults.object(setting.key)) ? defaults.boolValue(setting.key)
                                                                  : setting.fallback;
}

qint64 value(const platform::UserDefaults& defaults, const Setting<qint64>& setting)
{
    return platform::isNumberOrBool(defaults.object(setting.key)) ? defaults.integer(setting.key)
                                                                  : setting.fallback;
}

double value(const platform::UserDefaults& defaults, const Setting<double>& setting)
{
    return platform::isNumberOrBool(defaults.object(setting.key)) ? defaults.doubleValue(setting.key)
                                                                  : setting.fallback;
}

QString value(const platform::UserDefaults& defaults, const Setting<QString>& setting)
{
    const QVariant stored = defaults.object(setting.key);
    return stored.typeId() == QMetaType::QString ? stored.toString() : setting.fallback;
}

QVariantMap value(const platform::UserDefaults& defaults, const Setting<QVariantMap>& setting)
{
    const QVariant stored = defaults.object(setting.key);
    return stored.typeId() == QMetaType::QVariantMap ? stored.toMap() : setting.fallback;
}

QByteArray value(const platform::UserDefaults& defaults, const Setting<QByteArray>& setting)
{
    const QVariant stored = defaults.object(setting.key);
    return stored.typeId() == QMetaType::QByteArray ? stored.toByteArray() : setting.fallback;
}

} // namespace QVRDefaultsKeys
