#pragma once

#include <QSet>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <chrono>
#include <mutex>

namespace platform {

// The application's settings: one binary property list, written atomically
// (temporary file + rename). Values set here win over registered defaults.
// All members are thread-safe. A stored value of the wrong type reads as
// absent through the typed getters, which then return their fallback.
// Several processes may share the file: a write merges this process's
// changed keys into what the file holds now, under a lock on a file beside
// it, so that no process resets a value another one changed.
//
// Only a regular file of a sane size is read (a link to one is followed).
// Anything else at the path - a FIFO, a device, a folder, a huge file - is
// logged and left alone: the settings run on their defaults and changes stay
// in memory, so that whatever the user put there is never replaced behind
// their back. The lock file is never created or opened through a link.
//
// Writes can be coalesced: with a write delay, a change is written at most
// that long after it was made, together with every change made meanwhile,
// from the event loop of the application's thread. Pending changes are also
// written by synchronize() and synchronizeAll(), when the application's event
// loop ends or its object is destroyed, and at destruction. Without an
// application object, or with no delay, each change is written at once.
class UserDefaults
{
public:
    // How long the settings of a running application may hold a change back.
    static constexpr std::chrono::milliseconds StandardWriteDelay{1000};

    // Backed by $XDG_CONFIG_HOME/Quillary/com.quorvane.Quillary.plist,
    // writing with StandardWriteDelay.
    static UserDefaults& standard();

    // Backed by `filePath` (tests, tools).
    explicit UserDefaults(const QString& filePath,
                          std::chrono::milliseconds writeDelay = std::chrono::milliseconds::zero());
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    void registerDefaults(const QVariantMap& defaults);

    QVariant object(const QString& key) const;
    QString string(const QString& key) const;     // "" when absent
    qint64 integer(const QString& key) const;     // 0 when absent
    double doubleValue(const QString& key) const; // 0 when absent
    bool boolValue(const QString& key) const;     // false when absent
    QVariantMap dictionary(const QString& key) const;
    QVariantList array(const QString& key) const;
    QByteArray data(const QString& key) const;

    // An invalid QVariant removes the key; a value with no property-list
    // form is refused (logged) and changes nothing.
    void set(const QString& key, const QVariant& value);
    void remove(const QString& key);

    // Writes pending changes and takes in what other processes wrote since;
    // false if the file could not be written (the values stay in memory and
    // are written on the next try).
    bool synchronize();

    // Writes what every live instance holds back: before the process may end
    // without its event loop finishing (a signal, a session save).
    static void synchronizeAll();

    // Re-reads the file, dropping unsaved changes (tests, external edits).
    void reload();

    QString filePath() const { return m_filePath; }

    // Posted (sender = these defaults) after a value changes.
    static const QString DidChangeNotification;

private:
    void load();
    bool readFile(QVariantMap* values);
    QVariant lookup(const QString& key) const;
    // What the file holds now, with this process's unwritten changes on top.
    void takeInFile();
    QVariantMap withChanges(QVariantMap fileValues) const;
    void changed(const QString& key);
    void writePending();

    QString m_filePath;
    mutable std::recursive_mutex m_mutex;
    QVariantMap m_values;
    QVariantMap m_registered;
    QSet<QString> m_changedKeys; // set or removed here, not yet written
    const std::chrono::milliseconds m_writeDelay;
    bool m_writeScheduled = false;
    QString m_refusal; // why the file was last refused, said once
};

} // namespace platform
