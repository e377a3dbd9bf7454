#include "sync/QVRSyncSettings.h"

#include "platform/core/UserDefaults.h"
#include "store/QVRDataStore.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRUtilities.h"

#include <QVariantMap>

#include <cmath>
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

// Values held for writeHeld(), shared by every instance in the process. The
// lock also covers writing them, so that a plain set racing with writeHeld()
// is never overwritten by the older held value. Recursive: a write notifies
// observers, which may read the settings.
std::recursive_mutex gHeldMutex;
QVariantMap gHeld;

QVariant held(const QString& key)
{
    std::lock_guard lock(gHeldMutex);
    return gHeld.value(key);
}

void hold(const QString& key, double value)
{
    std::lock_guard lock(gHeldMutex);
    gHeld.insert(key, value);
}

// Writes `value` now, dropping what is held for the key.
void storeNow(const QString& key, double value)
{
    std::lock_guard lock(gHeldMutex);
    gHeld.remove(key);
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
    QVariantMap values;
    values.swap(gHeld);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        storeSetting(it.key(), it.value());
}

qint64 QVRSyncSettings::historyDays() const
{
    return defaults().integer(QVRDefaultsKeys::HistoryDays);
}
