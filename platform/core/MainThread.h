#pragma once

#include <functional>

namespace platform {

// The main thread is the thread of the QCoreApplication instance; without one
// it is the first thread that asked.
bool isMainThread();

// Runs `fn` at once when called on the main thread, otherwise queues it to the
// main thread's event loop and returns; calls queued from one thread run in
// the order queued. Without an application object there is no event loop to
// queue to, and `fn` runs at once on the calling thread.
void runOnMainThread(std::function<void()> fn);

// Runs `fn` on the main thread and returns once it has run.
void runOnMainThreadAndWait(std::function<void()> fn);

} // namespace platform
