#include "platform/ui/SwipeTracker.h"
#include "platform/core/Clock.h"

#include <gtest/gtest.h>

#include <vector>

using platform::SwipeTracker;
using Result = SwipeTracker::Result;

namespace {

class ManualClock : public platform::Clock
{
public:
    double now() const override { return time; }
    double time = 1000;
};

struct Step
{
    double at; // seconds after the start
    Qt::ScrollPhase phase;
    QPointF delta;
    Result expected;
};

struct Case
{
    const char* name;
    std::vector<Step> steps;
};

constexpr double kWidth = 300; // 90 px is 0.3 of the view

class SwipeTrackerCases : public ::testing::TestWithParam<Case>
{
protected:
    void SetUp() override { platform::setClockForTesting(&clock); }
    void TearDown() override { platform::setClockForTesting(nullptr); }
    ManualClock clock;
};

TEST_P(SwipeTrackerCases, StepsGiveTheExpectedResults)
{
    SwipeTracker tracker;
    const double start = clock.time;
    int index = 0;
    for (const Step& step : GetParam().steps) {
        clock.time = start + step.at;
        EXPECT_EQ(tracker.step(step.phase, step.delta, kWidth), step.expected) << "step " << index;
        ++index;
    }
}

const Case kCases[] = {
    {"SwipeRightPassesThreshold",
     {{0.0, Qt::ScrollBegin, {30, 2}, Result::Tracking},
      {0.1, Qt::ScrollUpdate, {30, 0}, Result::Tracking},
      {0.2, Qt::ScrollUpdate, {31, 0}, Result::SwipedRight}}},
    {"SwipeLeftPassesThreshold",
     {{0.0, Qt::ScrollBegin, {-60, 0}, Result::Tracking},
      {0.05, Qt::ScrollUpdate, {-40, 5}, Result::SwipedLeft}}},
    {"ExactlyTheThresholdIsNotASwipe",
     {{0.0, Qt::ScrollBegin, {45, 0}, Result::Tracking},
      {0.1, Qt::ScrollUpdate, {45, 0}, Result::Tracking},
      {0.2, Qt::ScrollEnd, {0, 0}, Result::Stopped}}},
    {"VerticalScrollIsNoSwipe",
     {{0.0, Qt::ScrollBegin, {20, 40}, Result::Ignored}, {0.1, Qt::ScrollUpdate, {0, 40}, Result::Ignored}}},
    {"MouseWheelIsNoSwipe", {{0.0, Qt::NoScrollPhase, {0, 0}, Result::Ignored}}},
    {"LateStepStopsWithoutActing",
     {{0.0, Qt::ScrollBegin, {60, 0}, Result::Tracking},
      {0.31, Qt::ScrollUpdate, {200, 0}, Result::Stopped},
      {0.35, Qt::ScrollUpdate, {200, 0}, Result::Ignored}}},
    {"StepJustWithinTheGapCounts",
     {{0.0, Qt::ScrollBegin, {60, 0}, Result::Tracking},
      {0.29, Qt::ScrollUpdate, {60, 0}, Result::SwipedRight}}},
    {"GestureEndingEarlyStops",
     {{0.0, Qt::ScrollBegin, {60, 0}, Result::Tracking}, {0.1, Qt::ScrollEnd, {0, 0}, Result::Stopped}}},
    {"MomentumAfterTheFingersLeaveStops",
     {{0.0, Qt::ScrollBegin, {60, 0}, Result::Tracking},
      {0.1, Qt::ScrollMomentum, {80, 0}, Result::Stopped}}},
    {"RestOfAnActedGestureIsIgnored",
     {{0.0, Qt::ScrollBegin, {100, 0}, Result::SwipedRight},
      {0.05, Qt::ScrollUpdate, {-200, 0}, Result::Ignored},
      {0.1, Qt::ScrollUpdate, {-200, 0}, Result::Ignored},
      {0.15, Qt::ScrollEnd, {0, 0}, Result::Ignored},
      {0.2, Qt::ScrollBegin, {-100, 0}, Result::SwipedLeft}}},
    {"BackAndForthCancelsOut",
     {{0.0, Qt::ScrollBegin, {80, 0}, Result::Tracking},
      {0.1, Qt::ScrollUpdate, {-80, 0}, Result::Tracking},
      {0.2, Qt::ScrollUpdate, {-80, 0}, Result::Tracking},
      {0.3, Qt::ScrollUpdate, {-20, 0}, Result::SwipedLeft}}},
    {"PhaselessTouchpadStepsEndThroughTheGap",
     {{0.0, Qt::NoScrollPhase, {60, 0}, Result::Tracking},
      {1.0, Qt::NoScrollPhase, {60, 0}, Result::Stopped},
      {2.0, Qt::NoScrollPhase, {60, 0}, Result::Tracking},
      {2.1, Qt::NoScrollPhase, {60, 0}, Result::SwipedRight}}},
};

INSTANTIATE_TEST_SUITE_P(Swipes, SwipeTrackerCases, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

TEST(SwipeTracker, AmountIsNormalisedToTheViewAndClamped)
{
    ManualClock clock;
    platform::setClockForTesting(&clock);
    SwipeTracker tracker(2.0); // a threshold the amount can never pass
    tracker.step(Qt::ScrollBegin, {150, 0}, 600);
    EXPECT_DOUBLE_EQ(tracker.amount(), 0.25);
    tracker.step(Qt::ScrollUpdate, {6000, 0}, 600);
    EXPECT_DOUBLE_EQ(tracker.amount(), 1.0);
    platform::setClockForTesting(nullptr);
}

} // namespace
