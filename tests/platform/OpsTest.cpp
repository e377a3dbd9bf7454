#include "platform/ops/OperationQueue.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

using platform::Operation;
using platform::OperationQueue;
using platform::OperationQueuePriority;

using testsupport::waitFor;

// Finishes only when the test says so, from the test's thread, the way a
// request finishes when its reply arrives.
class PendingOperation : public Operation
{
public:
    bool isAsynchronous() const override { return true; }
    void start() override
    {
        Operation::start();
        returned.store(true);
    }
    void main() override { started.store(true); }
    void complete() { markFinished(); }
    std::atomic<bool> started{false};
    std::atomic<bool> returned{false}; // start() is over: the worker is free again
};

TEST(OperationQueue, AsynchronousOperationHoldsItsSlotAndCountsUntilFinished)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    auto first = std::make_shared<PendingOperation>();
    auto second = std::make_shared<PendingOperation>();
    queue.addOperation(first);
    queue.addOperation(second);
    ASSERT_TRUE(waitFor([&] { return first->returned.load(); }));
    EXPECT_TRUE(first->isExecuting());
    EXPECT_FALSE(first->isFinished());
    EXPECT_EQ(queue.operationCount(), 2);
    // Cancelling finishes whatever is still waiting at once, on this thread.
    // Had the queue handed the second operation to a worker when the first
    // returned from start(), it would have run or would still be unfinished.
    queue.cancelAllOperations();
    EXPECT_TRUE(second->isFinished()) << "a started asynchronous operation must keep the only slot";
    EXPECT_FALSE(second->started.load());
    EXPECT_TRUE(first->isExecuting()) << "cancelling does not end an operation under way";
    EXPECT_EQ(queue.operationCount(), 1);

    // The next operation starts once the first one finishes.
    auto third = std::make_shared<PendingOperation>();
    queue.addOperation(third);
    EXPECT_EQ(queue.operationCount(), 2);
    first->complete();
    EXPECT_TRUE(first->isFinished());
    ASSERT_TRUE(waitFor([&] { return third->started.load(); }));
    EXPECT_EQ(queue.operationCount(), 1);
    third->complete();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queue.operationCount(), 0);
}

// An operation may end before the queue reaches it: it leaves the line, and
// the slot of the one under way is still counted, so the width holds.
TEST(OperationQueue, OperationEndedWhileWaitingLeavesTheLineAndTheSlotCountStays)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    auto first = std::make_shared<PendingOperation>();
    auto waiting = std::make_shared<PendingOperation>();
    auto third = std::make_shared<PendingOperation>();
    queue.addOperation(first);
    queue.addOperation(waiting);
    queue.addOperation(waiting); // once only
    queue.addOperation(third);
    ASSERT_TRUE(waitFor([&] { return first->returned.load(); }));
    EXPECT_EQ(queue.operationCount(), 3);

    waiting->complete();
    EXPECT_EQ(queue.operationCount(), 2);
    EXPECT_FALSE(third->started.load()) << "the first operation still holds the only slot";

    first->complete();
    ASSERT_TRUE(waitFor([&] { return third->started.load(); }));
    EXPECT_FALSE(waiting->started.load());
    third->complete();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queue.operationCount(), 0);
    // A finished operation may not come back.
    queue.addOperation(waiting);
    EXPECT_EQ(queue.operationCount(), 0);
}

TEST(OperationQueue, RunsHigherPriorityFirstThenInOrderAdded)
{
    OperationQueue queue;
    queue.setSuspended(true);
    std::mutex mutex;
    std::vector<int> order;
    auto add = [&](int tag, OperationQueuePriority priority) {
        auto op = std::make_shared<platform::BlockOperation>([&, tag] {
            std::lock_guard lock(mutex);
            order.push_back(tag);
        });
        op->setQueuePriority(priority);
        queue.addOperation(op);
    };
    add(1, OperationQueuePriority::Normal);
    add(2, OperationQueuePriority::Normal);
    add(3, OperationQueuePriority::High);
    add(4, OperationQueuePriority::Low);
    add(5, OperationQueuePriority::High);
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(order, (std::vector<int>{3, 5, 1, 2, 4}));
}

TEST(OperationQueue, NeverRunsMoreThanTheWidthAtOnce)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(4);
    std::atomic<int> running{0};
    std::atomic<int> peak{0};
    // The first operations wait until the queue is full, so the width is
    // reached on every run rather than when the threads happen to overlap.
    std::mutex mutex;
    std::condition_variable full;
    for (int i = 0; i < 40; ++i) {
        queue.addOperationWithBlock([&] {
            int now = ++running;
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            {
                std::unique_lock lock(mutex);
                full.notify_all();
                full.wait_for(lock, std::chrono::seconds(10), [&] { return peak.load() >= 4; });
            }
            --running;
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(peak.load(), 4);
}

TEST(OperationQueue, CancelledOperationsFinishWithoutRunning)
{
    OperationQueue queue;
    queue.setSuspended(true);
    std::atomic<int> ran{0};
    std::vector<std::shared_ptr<Operation>> ops;
    for (int i = 0; i < 5; ++i)
        ops.push_back(queue.addOperationWithBlock([&] { ++ran; }));
    ops[0]->cancel();
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 4);
    EXPECT_TRUE(ops[0]->isFinished());

    queue.setSuspended(true);
    for (int i = 0; i < 5; ++i)
        queue.addOperationWithBlock([&] { ++ran; });
    // Even a suspended queue lets go of what it cancels.
    queue.cancelAllOperations();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 4);
}

TEST(OperationQueue, CountObserverSeesEveryChangeDownToZero)
{
    OperationQueue queue;
    std::mutex mutex;
    std::vector<int> counts;
    queue.setOperationCountObserver([&](int count) {
        std::lock_guard lock(mutex);
        counts.push_back(count);
    });
    queue.setSuspended(true);
    queue.addOperationWithBlock([] {});
    queue.addOperationWithBlock([] {});
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    std::lock_guard lock(mutex);
    EXPECT_EQ(counts, (std::vector<int>{1, 2, 1, 0}));
}

TEST(OperationQueue, CompletionRunsOnTheMainThreadWhenAsked)
{
    OperationQueue queue;
    bool onMain = false;
    bool done = false;
    auto op = std::make_shared<platform::BlockOperation>([] {});
    op->setCompletionBlock(
        [&] {
            onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
            done = true;
        },
        true);
    queue.addOperation(op);
    EXPECT_TRUE(waitFor([&] { return done; }));
    EXPECT_TRUE(onMain);
}

TEST(OperationQueue, DestroyingTheQueueDoesNotWaitForAnUnfinishedRequest)
{
    auto op = std::make_shared<PendingOperation>();
    {
        OperationQueue queue;
        queue.addOperation(op);
        ASSERT_TRUE(waitFor([&] { return op->started.load(); }));
    }
    EXPECT_TRUE(op->isCancelled());
    op->complete(); // reaches no queue
    EXPECT_TRUE(op->isFinished());
}

} // namespace
