#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

class OperationQueue;

enum class OperationQueuePriority : int
{
    VeryLow = -8,
    Low = -4,
    Normal = 0,
    High = 4,
    VeryHigh = 8
};

// One unit of work for an OperationQueue. A synchronous operation is done when
// main() returns; an asynchronous one (isAsynchronous() true) keeps its slot in
// the queue until it calls markFinished(), possibly from another thread, long
// after start() has returned.
class Operation : public std::enable_shared_from_this<Operation>
{
public:
    Operation();
    virtual ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Runs the operation: a cancelled operation is finished without running
    // main(); otherwise it becomes executing and main() runs.
    virtual void start();
    virtual void main() {}
    virtual bool isAsynchronous() const { return false; }

    // Marks the operation cancelled; one that has not started finishes as soon
    // as the queue reaches it, without running.
    virtual void cancel();

    bool isCancelled() const { return m_cancelled.load(); }
    bool isExecuting() const { return m_executing.load(); }
    bool isFinished() const { return m_finished.load(); }

    void setQueuePriority(OperationQueuePriority priority) { m_priority.store(priority); }
    OperationQueuePriority queuePriority() const { return m_priority.load(); }

    void setName(const QString& name);
    QString name() const;

    // Runs once after the operation has finished, on the finishing thread, or
    // on the main thread when `onMainThread` is set.
    void setCompletionBlock(std::function<void()> block, bool onMainThread = false);

protected:
    void markExecuting();
    // Ends the operation; later calls do nothing.
    void markFinished();

private:
    friend class OperationQueue;
    void setFinishedHandler(std::function<void()> handler);

    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_executing{false};
    std::atomic<bool> m_finished{false};
    std::atomic<OperationQueuePriority> m_priority{OperationQueuePriority::Normal};
    mutable std::mutex m_mutex;
    QString m_name;
    std::function<void()> m_completion;
    bool m_completionOnMainThread = false;
    std::function<void()> m_finishedHandler;
};

// An operation made of one function.
class BlockOperation : public Operation
{
public:
    explicit BlockOperation(std::function<void()> block) : m_block(std::move(block)) {}
    void main() override
    {
        if (m_block)
            m_block();
    }

private:
    std::function<void()> m_block;
};

} // namespace platform
