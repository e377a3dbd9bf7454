#include "platform/ui/SwipeTracker.h"

#include "platform/core/Clock.h"

#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace platform {

SwipeTracker::SwipeTracker(double threshold, double maxGap) : m_threshold(threshold), m_maxGap(maxGap) {}

SwipeTracker::Result SwipeTracker::wheel(const QWheelEvent& event, double viewWidth)
{
    return step(event.phase(), event.pixelDelta(), viewWidth);
}

SwipeTracker::Result SwipeTracker::stop(Result result, double now)
{
    m_state = State::Finished;
    m_amount = 0;
    m_lastStep = now;
    return result;
}

SwipeTracker::Result SwipeTracker::step(Qt::ScrollPhase phase, QPointF pixelDelta, double viewWidth)
{
    if (phase == Qt::NoScrollPhase) {
        // A mouse wheel has no pixel delta. Some platforms send touchpad
        // scrolling without phases: such steps end only through the gap.
        if (pixelDelta.isNull())
            return Result::Ignored;
        phase = Qt::ScrollUpdate;
    }
    const double now = platform::now();
    const bool gestureStep = phase == Qt::ScrollBegin || phase == Qt::ScrollUpdate;
    if (m_state == State::Finished) {
        if (phase != Qt::ScrollBegin && now - m_lastStep <= m_maxGap) {
            // The rest of a gesture that already stopped or acted.
            m_lastStep = now;
            if (phase == Qt::ScrollEnd)
                m_state = State::Idle;
            return Result::Ignored;
        }
        m_state = State::Idle;
    }
    if (m_state == State::Idle) {
        if (!gestureStep || std::abs(pixelDelta.x()) <= std::abs(pixelDelta.y()))
            return Result::Ignored;
        m_state = State::Tracking;
        m_amount = 0;
        m_hasLastStep = false;
    }

    if (m_hasLastStep && now - m_lastStep > m_maxGap)
        return stop(Result::Stopped, now);
    if (!gestureStep)
        return stop(Result::Stopped, now);
    m_lastStep = now;
    m_hasLastStep = true;
    if (viewWidth > 0)
        m_amount = std::clamp(m_amount + pixelDelta.x() / viewWidth, -1.0, 1.0);
    if (m_amount > m_threshold)
        return stop(Result::SwipedRight, now);
    if (m_amount < -m_threshold)
        return stop(Result::SwipedLeft, now);
    return Result::Tracking;
}

} // namespace platform
