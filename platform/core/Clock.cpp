#include "platform/core/Clock.h"

#include <atomic>
#include <chrono>

namespace platform {
namespace {
class SystemClock final : public Clock
{
public:
    double now() const override
    {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    }
};
std::atomic<Clock*> g_testClock{nullptr};
} // namespace

Clock::~Clock() = default;

Clock& Clock::system()
{
    static SystemClock clock;
    return clock;
}

double now()
{
    Clock* clock = g_testClock.load(std::memory_order_acquire);
    return clock ? clock->now() : Clock::system().now();
}

void setClockForTesting(Clock* clock)
{
    g_testClock.store(clock, std::memory_order_release);
}

} // namespace platform
