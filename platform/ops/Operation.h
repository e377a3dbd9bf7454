#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

class OperationQueue;

enum class OperationQueuePriority : int { VeryLow = -8, Low = -4, Normal = 0, High = 4, VeryHigh = 8 };

// One unit of work for an OperationQueue. A synchronous operation is done when
// main() returns; an asynchronous one (isAsynchronous() true) keeps its slot in
// the queue until it calls markFinished(), possibly from another thread, long
// after start() has returned.
class Operation : public std::enable_shared_from_this<Operation> {
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

    bool isCancelled() const { return cancelled_.load(); }
    bool isExecuting() const { return executing_.load(); }
    bool isFinished() const { return finished_.load(); }

    void setQueuePriority(OperationQueuePriority priority) { priority_.store(priority); }
    OperationQueuePriority queuePriority() const { return priority_.load(); }

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

    std::atomic<bool> cancelled_{false};
    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<OperationQueuePriority> priority_{OperationQueuePriority::Normal};
    mutable std::mutex mutex_;
    QString name_;
    std::function<void()> completion_;
    bool completionOnMainThread_ = false;
    std::function<void()> finishedHandler_;
};

// An operation made of one function.
class BlockOperation : public Operation {
public:
    explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}
    void main() override
    {
        if (block_)
            block_();
    }

private:
    std::function<void()> block_;
};

}  // namespace platform
