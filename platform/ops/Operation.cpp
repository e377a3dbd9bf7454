#include "platform/ops/Operation.h"

#include "platform/core/MainThread.h"

namespace platform {

Operation::Operation() = default;
Operation::~Operation() = default;

void Operation::start()
{
    if (isCancelled()) {
        markFinished();
        return;
    }
    markExecuting();
    main();
    if (!isAsynchronous())
        markFinished();
}

void Operation::cancel()
{
    cancelled_.store(true);
}

void Operation::setName(const QString& name)
{
    std::lock_guard lock(mutex_);
    name_ = name;
}

QString Operation::name() const
{
    std::lock_guard lock(mutex_);
    return name_;
}

void Operation::setCompletionBlock(std::function<void()> block, bool onMainThread)
{
    std::lock_guard lock(mutex_);
    completion_ = std::move(block);
    completionOnMainThread_ = onMainThread;
}

void Operation::markExecuting()
{
    if (!finished_.load())
        executing_.store(true);
}

void Operation::markFinished()
{
    std::function<void()> completion;
    std::function<void()> handler;
    bool onMainThread = false;
    {
        std::lock_guard lock(mutex_);
        if (finished_.load())
            return;
        executing_.store(false);
        finished_.store(true);
        completion = std::move(completion_);
        completion_ = nullptr;
        onMainThread = completionOnMainThread_;
        handler = std::move(finishedHandler_);
        finishedHandler_ = nullptr;
    }
    if (completion) {
        if (onMainThread)
            runOnMainThread(std::move(completion));
        else
            completion();
    }
    // Last: the queue may release its reference to this operation here.
    if (handler)
        handler();
}

void Operation::setFinishedHandler(std::function<void()> handler)
{
    std::lock_guard lock(mutex_);
    finishedHandler_ = std::move(handler);
}

}  // namespace platform
