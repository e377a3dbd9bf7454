#pragma once

#include "store/QVRUtilities.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// Every setting the program keeps in its settings file, spelled here and
// nowhere else: its name, its type and what it reads as while none is stored.
// The names are in users' settings files: never change one.
//
// Two are spelled below this library, in the one library that reads them:
// "QVRCloudFolder" (platform::CloudFolderDefaultsKey, platform/cloud) and
// "KeyRecorder <autosave name>" (hotkey's recorder cell).
namespace QVRDefaultsKeys {

template <typename T> struct Setting
{
    QString key;
    T fallback{};
    // Where a plain name is wanted (untyped reads, notices, registration).
    operator const QString&() const { return key; }
};

// The window and the editor ------------------------------------------------

// Points, as the Text Size pop-up offers them; kept within 6 to 72 when read.
inline const Setting<qint64> TextSize{QStringLiteral("Text Size"), 12};
// The editor's text checking, as a bit set; link detection is the bit it acts on.
inline const Setting<qint64> TextCheckingTypes{QStringLiteral("Text Checking Types"), 7034};
// A tray icon and a pop-up window instead of an ordinary window.
inline const Setting<bool> MenuBarMode{QStringLiteral("Menu Bar Mode"), false};
// The window hides when another application becomes active.
inline const Setting<bool> HideAutomatically{QStringLiteral("Hide Automatically"), false};
// The uuid of the note selected in the list, "" for none.
inline const Setting<QString> Selected{QStringLiteral("selected"), QStringLiteral("")};
// Whether the note was open in the editor (one-pane layout) at quit.
inline const Setting<bool> NoteIsOpen{QStringLiteral("noteIsOpen"), false};
// Double-clicking the title bar minimises instead of zooming.
inline const Setting<bool> MinimizeOnDoubleClick{QStringLiteral("AppleMiniaturizeOnDoubleClick"), false};
// The frame of the window in one mode, "x y width height", under the name
// of that mode's frame.
QString windowFrame(const QString& autosaveName);

// Start-up ------------------------------------------------------------------

// The key combination that shows the window from any application:
// {"keyCode", "modifierFlags"} as the recorder writes them.
inline const Setting<QVariantMap> GlobalShortcut{QStringLiteral("Global Shortcut")};
// Whether the launcher starts Quillary at login.
inline const Setting<bool> StartAtLogin{QStringLiteral("QVRStartAtLogin"), false};

// The store -----------------------------------------------------------------

// The store version last started, to know when it was upgraded.
inline const Setting<qint64> LastInstalledVersion{QStringLiteral("QVRLastInstalledVersion")};
// When a store's notes last changed (seconds since 1970), per store
// identifier ("" for the one without).
QString dataStoreUpdated(const QString& storeIdentifier);

// Sync ----------------------------------------------------------------------

// Nothing has been chosen yet on this computer: the first sync offers a
// choice.
inline const Setting<bool> FirstRun{QStringLiteral("firstrun"), true};
// Days archived notes are kept; 0 keeps them for ever.
inline const Setting<qint64> HistoryDays{QStringLiteral("QVRHistoryDays"), 90};
// Web sync: on, the account, the client identifier the service gave out,
// the service time of the last update and our clock minus the service's.
inline const Setting<bool> SyncEnabled{QStringLiteral("syncsuccess"), false};
inline const Setting<QString> SyncEmail{QStringLiteral("syncemail")};
inline const Setting<QString> SyncClient{QStringLiteral("syncclient")};
inline const Setting<double> SyncUpdated{QStringLiteral("syncupdated"), 0};
inline const Setting<double> SyncOffset{QStringLiteral("syncoffset"), 0};
// The cloud account the notes were last synced with, to notice a change of
// account.
inline const Setting<QByteArray> CloudToken{QStringLiteral("iCloudToken")};

// Not in the settings file but in the cloud key-value store, which every
// computer of the account reads: the method chosen last ("iCloud" or
// "Quorvane").
inline const QString SyncType = QStringLiteral("QVRSyncType");

// Typed access ---------------------------------------------------------------

// The stored value, or the setting's fallback while nothing of its type is
// stored (or registered).
bool value(const platform::UserDefaults& defaults, const Setting<bool>& setting);
qint64 value(const platform::UserDefaults& defaults, const Setting<qint64>& setting);
double value(const platform::UserDefaults& defaults, const Setting<double>& setting);
QString value(const platform::UserDefaults& defaults, const Setting<QString>& setting);
QVariantMap value(const platform::UserDefaults& defaults, const Setting<QVariantMap>& setting);
QByteArray value(const platform::UserDefaults& defaults, const Setting<QByteArray>& setting);

// Stores `value`. With `post`, listeners hear of it through the one change
// notice, QVRUserDefaultsDidChangeNotification, with the key and the value
// in its user info.
template <typename T>
void set(platform::UserDefaults& defaults, const Setting<T>& setting, const T& value, bool post = false)
{
    QVRUtilities::setValue(defaults, QVariant::fromValue(value), setting.key, post);
}

// The fallbacks of `settings`, for UserDefaults::registerDefaults(), so that
// untyped reads agree with value().
template <typename... T> QVariantMap registration(const Setting<T>&... settings)
{
    return QVariantMap{{settings.key, QVariant::fromValue(settings.fallback)}...};
}

} // namespace QVRDefaultsKeys
