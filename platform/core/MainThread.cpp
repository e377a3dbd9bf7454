#include "platform/core/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <future>

namespace platform {
namespace {
QThread* mainThread() {
    if (auto* app = QCoreApplication::instance())
        return app->thread();
    // No application yet: the first thread to ask is taken as the main one,
    // which is the program's first thread in every sensible start-up.
    static std::atomic<QThread*> first{nullptr};
    QThread* expected = nullptr;
    first.compare_exchange_strong(expected, QThread::currentThread());
    return first.load();
}
}  // namespace

bool isMainThread() { return QThread::currentThread() == mainThread(); }

void runOnMainThread(std::function<void()> fn) {
    if (!fn)
        return;
    auto* app = QCoreApplication::instance();
    if (isMainThread() || !app) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void runOnMainThreadAndWait(std::function<void()> fn) {
    if (!fn)
        return;
    auto* app = QCoreApplication::instance();
    if (isMainThread() || !app) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::BlockingQueuedConnection);
}

}  // namespace platform
