#include "platform/core/UserDefaults.h"

#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef QUILLARY_HAVE_PLIST
#include "platform/plist/PropertyList.h"
#endif

namespace platform {

const QString UserDefaults::DidChangeNotification = QStringLiteral("NSUserDefaultsDidChangeNotification");

namespace {
bool isNumber(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Bool:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}
}  // namespace

UserDefaults& UserDefaults::standard() {
    // Deliberately never destroyed: it is used from other statics' destructors.
    static auto* defaults =
        new UserDefaults(configDirectory() + QStringLiteral("/com.quorvane.Quillary.plist"));
    return *defaults;
}

UserDefaults::UserDefaults(const QString& filePath) : m_filePath(filePath) { load(); }

UserDefaults::~UserDefaults() {
    if (m_dirty)
        synchronize();
}

void UserDefaults::load() {
    std::lock_guard lock(m_mutex);
    m_values.clear();
    m_dirty = false;
    QFile file(m_filePath);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        log(QStringLiteral("Could not read settings file %1: %2").arg(m_filePath, file.errorString()));
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    if (bytes.isEmpty())
        return;
#ifdef QUILLARY_HAVE_PLIST
    QString error;
    const QVariant root = readPropertyList(bytes, &error);
    if (root.typeId() == QMetaType::QVariantMap) {
        m_values = root.toMap();
        return;
    }
#else
    const QString error = QStringLiteral("no property list support");
#endif
    // Keep the unreadable file aside rather than overwriting it on the next
    // save: the user may want it back.
    const QString aside = m_filePath + QStringLiteral(".unreadable");
    QFile::remove(aside);
    QFile::rename(m_filePath, aside);
    log(QStringLiteral("Settings file %1 is not a property list (%2); kept as %3 and starting afresh")
            .arg(m_filePath, error.isEmpty() ? QStringLiteral("not a dictionary") : error, aside));
}

void UserDefaults::reload() { load(); }

void UserDefaults::registerDefaults(const QVariantMap& defaults) {
    std::lock_guard lock(m_mutex);
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        m_registered.insert(it.key(), it.value());
}

QVariant UserDefaults::lookup(const QString& key) const {
    std::lock_guard lock(m_mutex);
    auto it = m_values.constFind(key);
    if (it != m_values.constEnd())
        return *it;
    return m_registered.value(key);
}

QVariant UserDefaults::object(const QString& key) const { return lookup(key); }

QString UserDefaults::string(const QString& key) const {
    const QVariant v = lookup(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

qint64 UserDefaults::integer(const QString& key) const {
    const QVariant v = lookup(key);
    if (!isNumber(v))
        return 0;
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
        const double d = v.toDouble();
        // Out-of-range or NaN doubles would be undefined as integers.
        if (!(d > -9.2e18 && d < 9.2e18))
            return 0;
        return qint64(d);
    }
    return v.toLongLong();
}

double UserDefaults::doubleValue(const QString& key) const {
    const QVariant v = lookup(key);
    return isNumber(v) ? v.toDouble() : 0.0;
}

bool UserDefaults::boolValue(const QString& key) const {
    const QVariant v = lookup(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    return isNumber(v) ? v.toDouble() != 0.0 : false;
}

QVariantMap UserDefaults::dictionary(const QString& key) const {
    const QVariant v = lookup(key);
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

QVariantList UserDefaults::array(const QString& key) const {
    const QVariant v = lookup(key);
    return v.typeId() == QMetaType::QVariantList ? v.toList() : QVariantList();
}

QByteArray UserDefaults::data(const QString& key) const {
    const QVariant v = lookup(key);
    return v.typeId() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
}

void UserDefaults::set(const QString& key, const QVariant& value) {
    if (!value.isValid()) {
        remove(key);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        auto it = m_values.constFind(key);
        if (it != m_values.constEnd() && it->typeId() == value.typeId() && *it == value)
            return;
        m_values.insert(key, value);
        m_dirty = true;
        synchronize();
    }
    NotificationCenter::defaultCenter().post(DidChangeNotification, this);
}

void UserDefaults::remove(const QString& key) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_values.remove(key))
            return;
        m_dirty = true;
        synchronize();
    }
    NotificationCenter::defaultCenter().post(DidChangeNotification, this);
}

bool UserDefaults::synchronize() {
    std::lock_guard lock(m_mutex);
    if (!m_dirty)
        return true;
#ifdef QUILLARY_HAVE_PLIST
    QString error;
    const QByteArray bytes = writePropertyList(m_values, PropertyListFormat::Binary, &error);
    if (bytes.isEmpty()) {
        log(QStringLiteral("Could not encode settings: %1").arg(error));
        return false;
    }
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    // QSaveFile writes a temporary file and renames it over the old one, so a
    // crash mid-write leaves the previous settings intact.
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        log(QStringLiteral("Could not write settings file %1: %2").arg(m_filePath, file.errorString()));
        return false;
    }
    m_dirty = false;
    return true;
#else
    return false;
#endif
}

}  // namespace platform
