#pragma once

#include "platform/core/Clock.h"

#include <atomic>

namespace testsupport {

// A clock that moves only when the test moves it. It is the clock in use for
// its whole lifetime (one at a time): construction installs it, destruction
// brings back the system clock. Reads and moves are safe from any thread.
class ManualClock final : public platform::Clock
{
public:
    static constexpr double DefaultStart = 1700000000.0; // 2023-11-14 22:13:20 UTC

    explicit ManualClock(double start = DefaultStart);
    ~ManualClock() override;
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    double now() const override;
    void set(double seconds);
    void advance(double seconds);

    // Reads the system clock until the next set() or advance(), for code that
    // also waits on real timers.
    void followSystemClock();

private:
    std::atomic<double> m_time;
    std::atomic<bool> m_following{false};
};

} // namespace testsupport
