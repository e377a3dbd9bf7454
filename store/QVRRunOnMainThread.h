#pragma once

#include <functional>

// Runs `fn` before returning when called on the main thread; otherwise queues
// it on the main thread's event loop, after anything queued earlier.
void QVRRunOnMainThread(std::function<void()> fn);
