#include "platform/ops/OperationQueue.h"

#include <QRunnable>
#include <QThreadPool>

#include <algorithm>

namespace platform {

struct OperationQueueWorkers {
    QThreadPool pool;
};

OperationQueue::OperationQueue()
    : workers_(std::make_shared<OperationQueueWorkers>())
{
    workers_->pool.setMaxThreadCount(1);
    workers_->pool.setExpiryTimeout(2000);
}

OperationQueue::~OperationQueue()
{
    std::vector<std::shared_ptr<Operation>> left;
    {
        std::lock_guard lock(mutex_);
        shuttingDown_ = true;
        left = all_;
        pending_.clear();
    }
    // Operations still under way go on alone: their end no longer reaches this
    // queue, so an asynchronous operation waiting for the main thread cannot
    // hold the destructor.
    for (const auto& operation : left) {
        operation->setFinishedHandler(nullptr);
        operation->cancel();
    }
    workers_->pool.waitForDone();
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation)
{
    if (!operation)
        return;
    int count = 0;
    {
        std::lock_guard lock(mutex_);
        if (shuttingDown_ || operation->isFinished() || operation->isExecuting()
            || std::find(all_.begin(), all_.end(), operation) != all_.end())
            return;
        Operation* raw = operation.get();
        operation->setFinishedHandler([this, raw] { operationFinished(raw); });
        all_.push_back(operation);
        // Stable by priority: behind every pending operation of the same or a
        // higher priority.
        auto position = std::find_if(pending_.begin(), pending_.end(), [&](const auto& other) {
            return static_cast<int>(other->queuePriority()) < static_cast<int>(operation->queuePriority());
        });
        pending_.insert(position, std::move(operation));
        count = static_cast<int>(all_.size());
    }
    notifyCount(count);
    schedule();
}

std::shared_ptr<Operation> OperationQueue::addOperationWithBlock(std::function<void()> block)
{
    auto operation = std::make_shared<BlockOperation>(std::move(block));
    addOperation(operation);
    return operation;
}

void OperationQueue::setMaxConcurrentOperationCount(int count)
{
    {
        std::lock_guard lock(mutex_);
        maxConcurrent_ = std::max(1, count);
        workers_->pool.setMaxThreadCount(maxConcurrent_);
    }
    schedule();
}

int OperationQueue::maxConcurrentOperationCount() const
{
    std::lock_guard lock(mutex_);
    return maxConcurrent_;
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const
{
    std::lock_guard lock(mutex_);
    return all_;
}

int OperationQueue::operationCount() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(all_.size());
}

void OperationQueue::setOperationCountObserver(std::function<void(int)> observer)
{
    std::lock_guard lock(mutex_);
    countObserver_ = std::move(observer);
}

void OperationQueue::setSuspended(bool suspended)
{
    {
        std::lock_guard lock(mutex_);
        suspended_ = suspended;
    }
    schedule();
}

bool OperationQueue::isSuspended() const
{
    std::lock_guard lock(mutex_);
    return suspended_;
}

void OperationQueue::cancelAllOperations()
{
    for (const auto& operation : operations())
        operation->cancel();
    // Cancelled operations that have not started finish without running, even
    // in a suspended queue.
    std::vector<std::shared_ptr<Operation>> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.assign(pending_.begin(), pending_.end());
        pending_.clear();
        running_ += static_cast<int>(dropped.size());
    }
    for (const auto& operation : dropped)
        operation->start();
}

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return all_.empty() && notifying_ == 0; });
}

void OperationQueue::schedule()
{
    for (;;) {
        std::shared_ptr<Operation> next;
        {
            std::lock_guard lock(mutex_);
            if (shuttingDown_ || suspended_ || pending_.empty() || running_ >= maxConcurrent_)
                return;
            next = pending_.front();
            pending_.pop_front();
            ++running_;
        }
        auto workers = workers_;
        workers->pool.start([next] { next->start(); });
    }
}

void OperationQueue::operationFinished(Operation* operation)
{
    int count = 0;
    std::shared_ptr<Operation> keep;  // released outside the lock
    {
        std::lock_guard lock(mutex_);
        auto found = std::find_if(all_.begin(), all_.end(), [&](const auto& o) { return o.get() == operation; });
        if (found == all_.end())
            return;
        keep = *found;
        all_.erase(found);
        auto waiting = std::find(pending_.begin(), pending_.end(), keep);
        if (waiting != pending_.end())
            pending_.erase(waiting);
        else
            --running_;
        count = static_cast<int>(all_.size());
        // The queue is not idle for waiters until the observer has heard of
        // this change.
        ++notifying_;
    }
    notifyCount(count);
    {
        std::lock_guard lock(mutex_);
        --notifying_;
        if (all_.empty() && notifying_ == 0)
            idle_.notify_all();
    }
    schedule();
}

void OperationQueue::notifyCount(int count)
{
    std::function<void(int)> observer;
    {
        std::lock_guard lock(mutex_);
        observer = countObserver_;
    }
    if (observer)
        observer(count);
}

}  // namespace platform
