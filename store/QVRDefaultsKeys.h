#pragma once

#include <QString>

// Names of the settings that more than one part of the program reads or
// writes. They are stored in users' settings files: never rename them.
namespace QVRDefaultsKeys {

// Nothing has been chosen yet on this computer: the first sync offers a
// choice.
inline const QString FirstRun = QStringLiteral("firstrun");
// Days archived notes are kept; 0 keeps them for ever.
inline const QString HistoryDays = QStringLiteral("QVRHistoryDays");

// Web sync: on, the account, the client identifier the service gave out,
// the service time of the last update and our clock minus the service's.
inline const QString SyncEnabled = QStringLiteral("syncsuccess");
inline const QString SyncEmail = QStringLiteral("syncemail");
inline const QString SyncClient = QStringLiteral("syncclient");
inline const QString SyncUpdated = QStringLiteral("syncupdated");
inline const QString SyncOffset = QStringLiteral("syncoffset");

// In the cloud key-value store, which every computer of the account reads:
// the method chosen last ("iCloud" or "Quorvane").
inline const QString SyncType = QStringLiteral("QVRSyncType");

} // namespace QVRDefaultsKeys
