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
    m_cancelled.store(true);
}

void Operation::setName(const QString& name)
{
    std::lock_guard lock(m_mutex);
    m_name = name;
}

QString Operation::name() const
{
    std::lock_guard lock(m_mutex);
    return m_name;
}

void Operation::setCompletionBlock(std::function<void()> block, bool onMainThread)
{
    std::lock_guard lock(m_mutex);
    m_completion = std::move(block);
    m_completionOnMainThread = onMainThread;
}

void Operation::markExecuting()
{
    if (!m_finished.load())
        m_executing.store(true);
}

void Operation::markFinished()
{
    std::function<void()> completion;
    std::function<void()> handler;
    bool onMainThread = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_finished.load())
            return;
        m_executing.store(false);
        m_finished.store(true);
        completion = std::move(m_completion);
        m_completion = nullptr;
        onMainThread = m_completionOnMainThread;
        handler = std::move(m_finishedHandler);
        m_finishedHandler = nullptr;
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
    std::lock_guard lock(m_mutex);
    m_finishedHandler = std::move(handler);
}

} // namespace platform
