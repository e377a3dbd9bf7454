#include "tests/support/ManualClock.h"

namespace testsupport {

ManualClock::ManualClock(double start) : m_time(start)
{
    platform::setClockForTesting(this);
}

ManualClock::~ManualClock()
{
    platform::setClockForTesting(nullptr);
}

double ManualClock::now() const
{
    return m_following.load() ? platform::Clock::system().now() : m_time.load();
}

void ManualClock::set(double seconds)
{
    m_time.store(seconds);
    m_following.store(false);
}

void ManualClock::advance(double seconds)
{
    set(now() + seconds);
}

void ManualClock::followSystemClock()
{
    m_following.store(true);
}

} // namespace testsupport
