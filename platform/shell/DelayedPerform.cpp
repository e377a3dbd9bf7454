#include "platform/shell/DelayedPerform.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace platform {

DelayedPerform::DelayedPerform(double delaySeconds, std::function<void()> operation, QObject* parent)
    : QObject(parent), m_timer(new QTimer(this)), m_delay(0), m_operation(std::move(operation))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    setDelay(delaySeconds);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (m_operation)
            m_operation();
    });
}

DelayedPerform::~DelayedPerform() = default;

void DelayedPerform::perform()
{
    m_timer->start();
}

void DelayedPerform::cancel()
{
    m_timer->stop();
}

bool DelayedPerform::isPending() const
{
    return m_timer->isActive();
}

void DelayedPerform::setDelay(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    m_delay = seconds;
    m_timer->setInterval(int(std::min(seconds * 1000.0, double(std::numeric_limits<int>::max()))));
}

} // namespace platform
