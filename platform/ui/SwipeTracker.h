#pragma once

#include <QPointF>
#include <Qt>

class QWheelEvent;

namespace platform {

// Tracks a horizontal two-finger swipe from the wheel events of a view.
//
// A gesture starts with a wheel event that has a scroll phase or a pixel
// delta (a touchpad gesture, not a mouse wheel) and whose horizontal pixel delta is larger than
// its vertical one. Its horizontal pixel deltas add up to the gesture amount,
// normalised to the view's width and kept within [-1, 1]; a positive amount
// moves the content to the right. Beyond +threshold the gesture is a swipe
// right, beyond -threshold a swipe left. A step that comes more than maxGap
// seconds after the previous one, or a gesture that ends first, stops the
// swipe without a result. After a result or a stop, the rest of that gesture
// is ignored. Time comes from platform::now(), so tests can set it.
class SwipeTracker
{
public:
    enum class Result
    {
        Ignored,  // not part of a tracked swipe
        Tracking, // a swipe is under way
        SwipedRight,
        SwipedLeft,
        Stopped, // the swipe ended without a result
    };

    explicit SwipeTracker(double threshold = 0.3, double maxGap = 0.3);

    Result wheel(const QWheelEvent& event, double viewWidth);
    Result step(Qt::ScrollPhase phase, QPointF pixelDelta, double viewWidth);

    bool isTracking() const { return m_state == State::Tracking; }
    double amount() const { return m_amount; }

private:
    enum class State
    {
        Idle,
        Tracking,
        Finished
    };
    Result stop(Result result, double now);

    double m_threshold;
    double m_maxGap;
    State m_state = State::Idle;
    double m_amount = 0;
    double m_lastStep = 0;
    bool m_hasLastStep = false;
};

} // namespace platform
