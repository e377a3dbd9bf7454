#pragma once

#include <QString>

#include <memory>

namespace platform {
class HotKeyGrabber;
}

class QVRDataStore;
class QVRSyncManager;
class ZQHotKeyCenter;

// The services of one running stack: the root note store, the sync manager
// over it and the global hot-key centre, built together and torn down
// together (sync manager, hot keys, then the store). The application builds
// one in main() before anything asks for a shared object; tests build and
// drop as many as they need, one after another or side by side.
//
// The current root is the one the shared accessors answer with
// (QVRDataStore::sharedStore(), QVRSyncManager::sharedManager(),
// ZQHotKeyCenter::sharedHotKeyCenter()). A root becomes current when it is
// built while none is, or by makeCurrent(); destroying the current root
// leaves none current. Build, destroy and makeCurrent() on the main thread;
// current() and the accessors may be read from any thread.
class QVRServices
{
public:
    struct Options
    {
        // The note file; empty means the default file of the profile.
        QString storeURL;
        // The hot-key centre's grabber; null means the session's.
        std::unique_ptr<platform::HotKeyGrabber> hotKeyGrabber;
    };

    QVRServices();
    explicit QVRServices(Options options);
    ~QVRServices();
    QVRServices(const QVRServices&) = delete;
    QVRServices& operator=(const QVRServices&) = delete;

    static QVRServices* current();
    void makeCurrent();
    bool isCurrent() const { return current() == this; }

    QVRDataStore* store() const { return m_store.get(); }
    QVRSyncManager* syncManager() const { return m_syncManager.get(); }
    ZQHotKeyCenter& hotKeyCenter() const { return *m_hotKeyCenter; }

private:
    void install(bool on);

    std::unique_ptr<QVRDataStore> m_store;
    std::unique_ptr<ZQHotKeyCenter> m_hotKeyCenter;
    std::unique_ptr<QVRSyncManager> m_syncManager;
};
