#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "platform/core/NotificationCenter.h"

#include <optional>

class QTimer;

namespace platform {

class InotifyWatcher;
struct Error;

// The cloud folder is any local folder that a file-sync tool keeps in step
// across the user's machines. It stands in for the user's cloud account: the
// folder's identity is the account, no folder means signed out.

// "QUILLARY_CLOUD_DIR" in the environment, else the setting "QVRCloudFolder".
extern const char* const CloudFolderEnvironmentVariable;
extern const QString CloudFolderDefaultsKey;
// Posted (sender nullptr, no user info) when the identity token changes.
extern const QString UbiquityIdentityDidChangeNotification;
// The application's container inside the cloud folder.
extern const QString DefaultUbiquityContainerIdentifier;

// The configured cloud folder, with a leading "~/" expanded. Empty when none.
QString cloudRootPath();

// Opaque bytes naming the cloud folder (canonical path and file identity), or
// an empty array when no folder is configured or it is not an existing,
// writable directory. Pointing at another folder counts as another account.
QByteArray ubiquityIdentityToken();

// <root>/<identifier>, created on demand. Empty when there is no usable root
// or the folder cannot be made.
QString ubiquityContainerPath(const QString& identifier = DefaultUbiquityContainerIdentifier);

// Makes the folder `path` and those leading to it from `root`, but never
// `root` itself nor anything above it: a cloud folder that was removed or
// unmounted means signed out, and only the user brings it back. True when
// `path` is then a folder inside an existing `root`.
bool makeFolderInsideCloud(const QString& root, const QString& path, Error* error = nullptr);

// Posts UbiquityIdentityDidChangeNotification once per real change of the
// token: the setting changed, the folder appeared, vanished, was renamed,
// unmounted or lost its write permission. Lives on the main thread.
class UbiquityIdentityMonitor : public QObject
{
    Q_OBJECT
public:
    static UbiquityIdentityMonitor& shared();

    explicit UbiquityIdentityMonitor(QObject* parent = nullptr);
    ~UbiquityIdentityMonitor() override;

    void start();
    void stop();
    bool isStarted() const { return m_started; }
    QByteArray currentToken() const { return m_token; }

    // Rereads the token and posts when it changed; also re-aims the watches.
    void recheck();

    // Mounts do not show up in inotify; a slow poll catches them.
    void setPollInterval(int milliseconds);

private:
    void rearm();

    bool m_started = false;
    QByteArray m_token;
    InotifyWatcher* m_watcher = nullptr;
    QTimer* m_poll = nullptr;
    QTimer* m_settle = nullptr;
    int m_ancestorWatch = -1;
    int m_rootWatch = -1;
    QString m_watchedChildName;
    std::optional<ObserverToken> m_defaultsObserver;
};

// Moves a file or folder into the cloud folder (set ubiquitous) or out of it,
// never replacing an existing destination. Across filesystems the item is
// copied next to the destination, flushed, renamed into place and only then
// removed from its source, so a failure leaves the source whole.
bool moveItemIntoCloud(const QString& source, const QString& destination, Error* error = nullptr);
bool moveItemOutOfCloud(const QString& source, const QString& destination, Error* error = nullptr);

} // namespace platform
