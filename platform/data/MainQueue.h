#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace platform {

// Runs blocks on the Qt main thread for main-queue contexts. The blocks are
// handed over through a queue of our own (not inside the posted event), so the
// hand-over is ordered by a lock the whole program can see.
class MainQueue : public QObject
{
    Q_OBJECT
public:
    static MainQueue& instance();

    void post(std::function<void()> fn);
    // Returns once `fn` has run on the main thread. Never call on it.
    void postAndWait(const std::function<void()>& fn);

public slots:
    void drain();

private:
    MainQueue() = default;

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_jobs;
};

} // namespace platform
