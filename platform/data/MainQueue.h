#pragma once

#include <QObject>

#include <condition_variable>
#include <cstdint>
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
    // For an owner on the main thread that waits for background work which may
    // itself wait for a main-queue context: runs the blocks handed over
    // meanwhile until `done` answers true. Whatever makes `done` true calls
    // wake() afterwards.
    void serveUntil(const std::function<bool()>& done);
    void wake();

public slots:
    void drain();

private:
    MainQueue() = default;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Counts hand-overs and wake-ups, so that a waiter sees one that came
    // between its last look and its wait.
    std::uint64_t m_generation = 0;
    std::deque<std::function<void()>> m_jobs;
};

} // namespace platform
