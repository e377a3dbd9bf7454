#include "platform/data/MainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace platform {

MainQueue& MainQueue::instance()
{
    // Lives for the whole process, on the application's thread.
    static MainQueue* const queue = [] {
        auto* created = new MainQueue;
        if (auto* app = QCoreApplication::instance())
            created->moveToThread(app->thread());
        return created;
    }();
    return *queue;
}

void MainQueue::post(std::function<void()> fn)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(fn));
        ++m_generation;
    }
    m_changed.notify_all();
    QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void MainQueue::postAndWait(const std::function<void()>& fn)
{
    std::mutex doneMutex;
    std::condition_variable doneCondition;
    bool done = false;
    post([&] {
        fn();
        std::lock_guard lock(doneMutex);
        done = true;
        doneCondition.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneCondition.wait(lock, [&] { return done; });
}

void MainQueue::serveUntil(const std::function<bool()>& done)
{
    for (;;) {
        std::uint64_t seen = 0;
        {
            std::lock_guard lock(m_mutex);
            seen = m_generation;
        }
        drain();
        if (done())
            return;
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_generation != seen; });
    }
}

void MainQueue::wake()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
    }
    m_changed.notify_all();
}

void MainQueue::drain()
{
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard lock(m_mutex);
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

} // namespace platform
