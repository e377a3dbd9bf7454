#pragma once

#include <functional>

namespace platform {

// The main thread is the thread of the QCoreApplication instance; without one
// it is the first thread that asked.
bool isMainThread();

// Runs `fn` at once when called on the main thread, otherwise queues it to the
// main thread's event loop and returns.
void runOnMainThread(std::function<void()> fn);

// Runs `fn` on the main thread and returns once it has run.
void runOnMainThreadAndWait(std::function<void()> fn);

}  // namespace platform
