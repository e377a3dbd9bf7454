#pragma once

#include "platform/ops/Operation.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

// Runs operations on worker threads, at most maxConcurrentOperationCount at a
// time, higher priority first and otherwise in the order they were added. An
// operation counts until it has finished, so an asynchronous operation that is
// still waiting for its reply holds its slot.
class OperationQueue {
public:
    OperationQueue();
    ~OperationQueue();  // cancels what is left and waits for it
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void addOperation(std::shared_ptr<Operation> operation);
    std::shared_ptr<Operation> addOperationWithBlock(std::function<void()> block);

    void setMaxConcurrentOperationCount(int count);  // below 1 means 1
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

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::vector<std::shared_ptr<Operation>> all_;   // in insertion order
    std::deque<std::shared_ptr<Operation>> pending_;
    int running_ = 0;
    int notifying_ = 0;  // finished operations whose count change is being reported
    int threads_ = 0;
    int maxConcurrent_ = 1;
    bool suspended_ = false;
    bool shuttingDown_ = false;
    std::function<void(int)> countObserver_;
    std::shared_ptr<struct OperationQueueWorkers> workers_;
};

}  // namespace platform
