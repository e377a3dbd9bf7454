#include "sync/QVRSyncSettings.h"

#include "platform/core/UserDefaults.h"
#include "store/QVRDataStore.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRUtilities.h"

#include <cmath>

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
    const double updated = defaults().doubleValue(QVRDefaultsKeys::SyncUpdated);
    return std::isfinite(updated) && updated >= 0 && updated <= TimeLimit ? updated : 0;
}

void QVRSyncSettings::setUpdated(double updated)
{
    storeSetting(QVRDefaultsKeys::SyncUpdated, updated);
}

double QVRSyncSettings::offset() const
{
    const double offset = defaults().doubleValue(QVRDefaultsKeys::SyncOffset);
    return std::isfinite(offset) && std::abs(offset) <= OffsetLimit ? offset : 0;
}

void QVRSyncSettings::setOffset(double offset)
{
    storeSetting(QVRDefaultsKeys::SyncOffset, offset);
}

qint64 QVRSyncSettings::historyDays() const
{
    return defaults().integer(QVRDefaultsKeys::HistoryDays);
}
