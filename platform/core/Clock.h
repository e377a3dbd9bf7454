#pragma once

namespace platform {

// The time source every timer and back-off reads, so tests can move time
// without sleeping.
class Clock
{
public:
    virtual ~Clock();
    // Seconds since 1970, with sub-millisecond precision.
    virtual double now() const = 0;
    static Clock& system();
};

// The current time from the clock in use.
double now();

// Installs `clock` in place of the system clock; nullptr restores it. The
// caller keeps ownership and must restore before destroying it.
void setClockForTesting(Clock* clock);

} // namespace platform
