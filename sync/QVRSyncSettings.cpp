#include "sync/QVRSyncSettings.h"

#include "platform/core/UserDefaults.h"
#include "store/QVRDataStore.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRUtilities.h"

#include <QVariantMap>

#include <cmath>
#include <map>
#include <mutex>

namespace {

platform::UserDefaults& defaults()
{
    return QVRDataStore::sharedDefaults();
}

void storeSetting(const QString& key, const QVariant& value)
{
    if (defaults().object(key) != value)
        defaults().set(key, value);
}

// A null text removes the setting.
void storeText(const QString& key, const QString& text)
{
    if (text.isNull())
        defaults().remove(key);
    else
        storeSetting(key, text);
}

// Values held for writeHeld(), shared by every instance in the process, each
// with what the settings held when holding began. A value that changed in the
// settings meanwhile (set directly, or by another process) wins over the held
// one, which is then dropped. The lock also covers writing, so that a plain
// set racing with writeHeld() is never overwritten by an older held value.
// Recursive: a write notifies observers, which may read the settings.
struct Held
{
    QVariant value;
    QVariant base;
};
std::recursive_mutex gHeldMutex;
std::map<QString, Held> gHeld;

// The held value of `key` while the settings still hold its base.
QVariant held(const QString& key)
{
    std::lock_guard lock(gHeldMutex);
    auto it = gHeld.find(key);
    if (it == gHeld.end())
        return QVariant();
    if (defaults().object(key) != it->second.base) {
        gHeld.erase(it);
        return QVariant();
    }
    return it->second.value;
}

void hold(const QString& key, double value)
{
    std::lock_guard lock(gHeldMutex);
    auto it = gHeld.find(key);
    if (it == gHeld.end() || defaults().object(key) != it->second.base)
        gHeld[key] = Held{value, defaults().object(key)};
    else
        it->second.value = value;
}

// Writes `value` now, dropping what is held for the key.
void storeNow(const QString& key, double value)
{
    std::lock_guard lock(gHeldMutex);
    gHeld.erase(key);
    storeSetting(key, value);
}

} // namespace

bool QVRSyncSettings::firstRun() const
{
    return defaults().boolValue(QVRDefaultsKeys::FirstRun);
}

void QVRSyncSettings::setFirstRun(bool firstRun)
{
    storeSetting(QVRDefaultsKeys::FirstRun, firstRun);
}

bool QVRSyncSettings::enabled() const
{
    return defaults().boolValue(QVRDefaultsKeys::SyncEnabled);
}

void QVRSyncSettings::setEnabled(bool enabled)
{
    storeSetting(QVRDefaultsKeys::SyncEnabled, enabled);
}

QString QVRSyncSettings::email() const
{
    const QString email = defaults().string(QVRDefaultsKeys::SyncEmail);
    return QVRUtilities::hasTrimmedValue(email) ? email : QString();
}

void QVRSyncSettings::setEmail(const QString& email)
{
    storeText(QVRDefaultsKeys::SyncEmail, email);
}

QString QVRSyncSettings::client() const
{
    return defaults().string(QVRDefaultsKeys::SyncClient);
}

void QVRSyncSettings::setClient(const QString& client)
{
    storeText(QVRDefaultsKeys::SyncClient, client);
}

double QVRSyncSettings::updated() const
{
    // A value written before replies were checked may be no time at all;
    // starting from nothing downloads everything again and loses nothing.
    const QVariant pending = held(QVRDefaultsKeys::SyncUpdated);
    const double updated =
        pending.isValid() ? pending.toDouble() : defaults().doubleValue(QVRDefaultsKeys::SyncUpdated);
    return std::isfinite(updated) && updated >= 0 && updated <= TimeLimit ? updated : 0;
}

void QVRSyncSettings::setUpdated(double updated)
{
    storeNow(QVRDefaultsKeys::SyncUpdated, updated);
}

void QVRSyncSettings::holdUpdated(double updated)
{
    hold(QVRDefaultsKeys::SyncUpdated, updated);
}

double QVRSyncSettings::offset() const
{
    const QVariant pending = held(QVRDefaultsKeys::SyncOffset);
    const double offset =
        pending.isValid() ? pending.toDouble() : defaults().doubleValue(QVRDefaultsKeys::SyncOffset);
    return std::isfinite(offset) && std::abs(offset) <= OffsetLimit ? offset : 0;
}

void QVRSyncSettings::setOffset(double offset)
{
    storeNow(QVRDefaultsKeys::SyncOffset, offset);
}

void QVRSyncSettings::holdOffset(double offset)
{
    hold(QVRDefaultsKeys::SyncOffset, offset);
}

void QVRSyncSettings::writeHeld()
{
    std::lock_guard lock(gHeldMutex);
    std::map<QString, Held> values;
    values.swap(gHeld);
    for (const auto& [key, entry] : values)
        if (defaults().object(key) == entry.base)
            storeSetting(key, entry.value);
}

qint64 QVRSyncSettings::historyDays() const
{
    return defaults().integer(QVRDefaultsKeys::HistoryDays);
}
