#pragma once

#include <QObject>

#include <functional>

class QTimer;

namespace platform {

// One delayed operation of an object: perform() runs it once, `delay` later,
// on the object's thread. Performing again while one is pending moves it to
// `delay` after the new call; cancel() drops the pending one. Owned by the
// object whose operation it runs (a Qt child), so it never outlives it.
class DelayedPerform : public QObject
{
    Q_OBJECT
public:
    DelayedPerform(double delaySeconds, std::function<void()> operation, QObject* parent);
    ~DelayedPerform() override;

    void perform();
    void cancel();
    bool isPending() const;

    double delay() const { return m_delay; }
    // Changes the delay of later performs; tests shorten it.
    void setDelay(double seconds);

private:
    QTimer* m_timer;
    double m_delay;
    std::function<void()> m_operation;
};

} // namespace platform
