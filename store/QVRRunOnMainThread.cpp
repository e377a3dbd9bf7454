#include "store/QVRRunOnMainThread.h"

#include "platform/core/MainThread.h"

void QVRRunOnMainThread(std::function<void()> fn)
{
    platform::runOnMainThread(std::move(fn));
}
