#include "platform/ops/OperationQueue.h"

#include <QRunnable>
#include <QThreadPool>

#include <algorithm>

namespace platform {

struct OperationQueueWorkers
{
    QThreadPool pool;
};

OperationQueue::OperationQueue() : m_workers(std::make_shared<OperationQueueWorkers>())
{
    m_workers->pool.setMaxThreadCount(1);
    m_workers->pool.setExpiryTimeout(2000);
}

OperationQueue::~OperationQueue()
{
    std::vector<std::shared_ptr<Operation>> left;
    {
        std::lock_guard lock(m_mutex);
        m_shuttingDown = true;
        left.assign(m_all.begin(), m_all.end());
        m_pending.clear();
        m_waiting.clear();
    }
    // Operations still under way go on alone: their end no longer reaches this
    // queue, so an asynchronous operation waiting for the main thread cannot
    // hold the destructor.
    for (const auto& operation : left) {
        operation->setFinishedHandler(nullptr);
        operation->cancel();
    }
    m_workers->pool.waitForDone();
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation)
{
    if (!operation)
        return;
    int count = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_shuttingDown || operation->isFinished() || operation->isExecuting() ||
            m_members.count(operation.get()) != 0)
            return;
        Operation* raw = operation.get();
        operation->setFinishedHandler([this, raw] { operationFinished(raw); });
        m_all.push_back(operation);
        m_members.insert(raw);
        m_waiting.insert(raw);
        // Stable by priority: behind every pending operation of the same or a
        // higher priority. Looked for from the back, where an operation of
        // the usual priority goes.
        const int priority = static_cast<int>(operation->queuePriority());
        auto position = m_pending.end();
        while (position != m_pending.begin() &&
               static_cast<int>((*std::prev(position))->queuePriority()) < priority)
            --position;
        m_pending.insert(position, std::move(operation));
        count = static_cast<int>(m_all.size());
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
        std::lock_guard lock(m_mutex);
        m_maxConcurrent = std::max(1, count);
        m_workers->pool.setMaxThreadCount(m_maxConcurrent);
    }
    schedule();
}

int OperationQueue::maxConcurrentOperationCount() const
{
    std::lock_guard lock(m_mutex);
    return m_maxConcurrent;
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const
{
    std::lock_guard lock(m_mutex);
    return {m_all.begin(), m_all.end()};
}

int OperationQueue::operationCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_all.size());
}

void OperationQueue::setOperationCountObserver(std::function<void(int)> observer)
{
    std::lock_guard lock(m_mutex);
    m_countObserver = std::move(observer);
}

void OperationQueue::setSuspended(bool suspended)
{
    {
        std::lock_guard lock(m_mutex);
        m_suspended = suspended;
    }
    schedule();
}

bool OperationQueue::isSuspended() const
{
    std::lock_guard lock(m_mutex);
    return m_suspended;
}

void OperationQueue::cancelAllOperations()
{
    for (const auto& operation : operations())
        operation->cancel();
    // Cancelled operations that have not started finish without running, even
    // in a suspended queue.
    std::vector<std::shared_ptr<Operation>> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped.assign(m_pending.begin(), m_pending.end());
        m_pending.clear();
        m_waiting.clear();
        m_running += static_cast<int>(dropped.size());
    }
    for (const auto& operation : dropped)
        operation->start();
}

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_all.empty() && m_notifying == 0; });
}

void OperationQueue::schedule()
{
    for (;;) {
        std::shared_ptr<Operation> next;
        {
            std::lock_guard lock(m_mutex);
            if (m_shuttingDown || m_suspended || m_pending.empty() || m_running >= m_maxConcurrent)
                return;
            next = m_pending.front();
            m_pending.pop_front();
            m_waiting.erase(next.get());
            ++m_running;
        }
        auto workers = m_workers;
        workers->pool.start([next] { next->start(); });
    }
}

void OperationQueue::operationFinished(Operation* operation)
{
    int count = 0;
    std::shared_ptr<Operation> keep; // released outside the lock
    {
        std::lock_guard lock(m_mutex);
        auto found =
            std::find_if(m_all.begin(), m_all.end(), [&](const auto& o) { return o.get() == operation; });
        if (found == m_all.end())
            return;
        keep = *found;
        m_all.erase(found);
        m_members.erase(operation);
        // Finished before the queue reached it (rare): it leaves the line;
        // otherwise it was running.
        if (m_waiting.erase(operation) != 0)
            m_pending.erase(std::find(m_pending.begin(), m_pending.end(), keep));
        else
            --m_running;
        count = static_cast<int>(m_all.size());
        // The queue is not idle for waiters until the observer has heard of
        // this change.
        ++m_notifying;
    }
    notifyCount(count);
    {
        std::lock_guard lock(m_mutex);
        --m_notifying;
        if (m_all.empty() && m_notifying == 0)
            m_idle.notify_all();
    }
    schedule();
}

void OperationQueue::notifyCount(int count)
{
    std::function<void(int)> observer;
    {
        std::lock_guard lock(m_mutex);
        observer = m_countObserver;
    }
    if (observer)
        observer(count);
}

} // namespace platform
