#include "platform/core/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <future>

namespace platform {
namespace {
QThread* mainThread()
{
    if (auto* app = QCoreApplication::instance())
        return app->thread();
    // No application yet: the first thread to ask is taken as the main one,
    // which is the program's first thread in every sensible start-up.
    static std::atomic<QThread*> first{nullptr};
    QThread* expected = nullptr;
    first.compare_exchange_strong(expected, QThread::currentThread());
    return first.load();
}
} // namespace

bool isMainThread()
{
    return QThread::currentThread() == mainThread();
}

void runOnMainThread(std::function<void()> fn)
{
    if (!fn)
        return;
    auto* app = QCoreApplication::instance();
    if (isMainThread() || !app) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void runOnMainThreadAndWait(std::function<void()> fn)
{
    if (!fn)
        return;
    auto* app = QCoreApplication::instance();
    if (isMainThread() || !app) {
        fn();
        return;
    }
    // A promise rather than a blocking queued call: the wait then goes through
    // the C++ library, which the thread checker can follow, and the queued
    // work is destroyed on the main thread that ran it.
    std::promise<void> ran;
    std::future<void> done = ran.get_future();
    QMetaObject::invokeMethod(
        app,
        [fn = std::move(fn), &ran]() {
            fn();
            ran.set_value();
        },
        Qt::QueuedConnection);
    done.wait();
}

} // namespace platform
