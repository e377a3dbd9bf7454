#pragma once

#include "platform/ops/Operation.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace platform {

// Runs operations on worker threads, at most maxConcurrentOperationCount at a
// time, higher priority first and otherwise in the order they were added. An
// operation counts until it has finished, so an asynchronous operation that is
// still waiting for its reply holds its slot.
class OperationQueue
{
public:
    OperationQueue();
    ~OperationQueue(); // cancels what is left and waits for it
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void addOperation(std::shared_ptr<Operation> operation);
    std::shared_ptr<Operation> addOperationWithBlock(std::function<void()> block);

    void setMaxConcurrentOperationCount(int count); // below 1 means 1
    int maxConcurrentOperationCount() const;

    // Pending and running operations, in the order they were added.
    std::vector<std::shared_ptr<Operation>> operations() const;
    int operationCount() const;

    // Called with the new count after each change, on the changing thread and
    // outside the queue's lock.
    void setOperationCountObserver(std::function<void(int)> observer);

    void setSuspended(bool suspended);
    bool isSuspended() const;

    void cancelAllOperations();
    // Blocks until every operation added so far has finished. Must not be
    // called from a thread an unfinished operation needs to finish (for an
    // operation finishing on the main thread, not from the main thread).
    void waitUntilAllOperationsAreFinished();

private:
    void schedule();
    void operationFinished(Operation* operation);
    void notifyCount(int count);

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    std::deque<std::shared_ptr<Operation>> m_all; // in insertion order; the oldest usually ends first
    std::deque<std::shared_ptr<Operation>> m_pending;
    // The members of m_all and of m_pending, so that adding and finishing
    // stay cheap in a queue of thousands of requests.
    std::unordered_set<const Operation*> m_members;
    std::unordered_set<const Operation*> m_waiting;
    int m_running = 0;
    int m_notifying = 0; // finished operations whose count change is being reported
    int m_threads = 0;
    int m_maxConcurrent = 1;
    bool m_suspended = false;
    bool m_shuttingDown = false;
    std::function<void(int)> m_countObserver;
    std::shared_ptr<struct OperationQueueWorkers> m_workers;
};

} // namespace platform
