#include "services/QVRServices.h"

#include "hotkey/ZQHotKeyCenter.h"
#include "platform/x11/HotKeyGrabber.h"
#include "store/QVRDataStore.h"
#include "sync/QVRSyncManager.h"

#include <atomic>

namespace {
std::atomic<QVRServices*> g_current{nullptr};
}

QVRServices::QVRServices() : QVRServices(Options{}) {}

QVRServices::QVRServices(Options options)
    : m_store(QVRDataStore::makeRootStore(options.storeURL)),
      m_hotKeyCenter(std::make_unique<ZQHotKeyCenter>(
          options.hotKeyGrabber ? std::move(options.hotKeyGrabber) : platform::createSystemHotKeyGrabber())),
      m_syncManager(std::make_unique<QVRSyncManager>(m_store.get()))
{
    m_syncManager->attachToStore();
    QVRServices* none = nullptr;
    if (g_current.compare_exchange_strong(none, this))
        install(true);
}

QVRServices::~QVRServices()
{
    QVRServices* self = this;
    if (g_current.compare_exchange_strong(self, nullptr))
        install(false);
    // The manager works on the store and is done before it; the store closes
    // its children last.
    m_syncManager.reset();
    m_hotKeyCenter.reset();
    m_store.reset();
}

QVRServices* QVRServices::current()
{
    return g_current.load(std::memory_order_acquire);
}

void QVRServices::makeCurrent()
{
    g_current.store(this, std::memory_order_release);
    install(true);
}

void QVRServices::install(bool on)
{
    QVRDataStore::setSharedStore(on ? m_store.get() : nullptr);
    QVRSyncManager::setSharedManager(on ? m_syncManager.get() : nullptr);
    ZQHotKeyCenter::setSharedHotKeyCenter(on ? m_hotKeyCenter.get() : nullptr);
}
