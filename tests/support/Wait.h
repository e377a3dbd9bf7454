#pragma once

#include <functional>

namespace testsupport {

// Runs the event loop until `condition` holds; false when it still does not
// after `timeoutMs`. The time-out only ends a failing test: a passing one
// returns as soon as the condition holds.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 15000);

// Runs the event loop for `ms` of real time, for code driven by real timers
// or file-system watches. It proves nothing by itself: where code can be
// driven by the manual clock or answered by a round trip, do that instead.
void spin(int ms);

} // namespace testsupport
