#include "platform/ui/Animation.h"

#include <QGraphicsOpacityEffect>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QVariantAnimation>
#include <QWidget>

namespace platform::animation {
namespace {

QEasingCurve bezier(qreal x1, qreal y1, qreal x2, qreal y2)
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(x1, y1), QPointF(x2, y2), QPointF(1, 1));
    return curve;
}

// The widget property holding the number of the latest alpha animation
// started for it; older ones see they are no longer it and stop applying.
constexpr char kAlphaAnimation[] = "quillaryAlphaAnimation";
quint64 g_lastAlphaAnimation = 0;

bool opaque(qreal alpha)
{
    return alpha >= 1.0 - 1e-4;
}

bool owns(const QWidget* widget, quint64 number)
{
    return widget->property(kAlphaAnimation).toULongLong() == number;
}

using Setter = void (*)(QWidget*, qreal);
using Getter = qreal (*)(const QWidget*);

void setWindowAlpha(QWidget* window, qreal alpha)
{
    window->setWindowOpacity(alpha);
}
qreal windowAlpha(const QWidget* window)
{
    return window->windowOpacity();
}

QVariantAnimation* makeAlphaAnimation(QWidget* widget, qreal alpha, int durationMs, const QEasingCurve& curve,
                                      Getter get, Setter set, quint64 number)
{
    alpha = qBound<qreal>(0, alpha, 1);
    auto* animation = new QVariantAnimation;
    animation->setStartValue(get(widget));
    animation->setEndValue(alpha);
    animation->setDuration(durationMs);
    animation->setEasingCurve(curve);
    QPointer<QWidget> target(widget);
    QObject::connect(animation, &QVariantAnimation::valueChanged, animation,
                     [target, number, set](const QVariant& value) {
                         if (target && owns(target, number))
                             set(target, value.toReal());
                     });
    QObject::connect(animation, &QAbstractAnimation::finished, animation, [target, number, alpha, set] {
        if (target && owns(target, number))
            set(target, alpha);
    });
    widget->setProperty(kAlphaAnimation, QVariant::fromValue(number));
    return animation;
}

} // namespace

QEasingCurve easeOutCurve()
{
    return bezier(0, 0, 0.58, 1);
}

QEasingCurve defaultCurve()
{
    return bezier(0.25, 0.1, 0.25, 1);
}

qreal widgetAlpha(const QWidget* widget)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

void setWidgetAlpha(QWidget* widget, qreal alpha)
{
    alpha = qBound<qreal>(0, alpha, 1);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    if (opaque(alpha)) {
        if (effect)
            widget->setGraphicsEffect(nullptr); // deletes the effect
        return;
    }
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        widget->setGraphicsEffect(effect);
    }
    effect->setOpacity(alpha);
}

AnimationGroup::AnimationGroup(int durationMs, const QEasingCurve& curve, QObject* parent)
    : QObject(parent), m_group(new QParallelAnimationGroup(this)), m_duration(durationMs), m_curve(curve)
{
}

AnimationGroup::~AnimationGroup() = default;

void AnimationGroup::animateAlpha(QWidget* widget, qreal alpha)
{
    const quint64 number = ++g_lastAlphaAnimation;
    auto* animation =
        makeAlphaAnimation(widget, alpha, m_duration, m_curve, &widgetAlpha, &setWidgetAlpha, number);
    m_alphaTargets.push_back({widget, number});
    m_group->addAnimation(animation);
}

void AnimationGroup::animateWindowAlpha(QWidget* window, qreal alpha)
{
    const quint64 number = ++g_lastAlphaAnimation;
    auto* animation =
        makeAlphaAnimation(window, alpha, m_duration, m_curve, &windowAlpha, &setWindowAlpha, number);
    m_alphaTargets.push_back({window, number});
    m_group->addAnimation(animation);
}

void AnimationGroup::animateGeometry(QWidget* widget, const QRect& geometry)
{
    auto* animation = new QPropertyAnimation(widget, "geometry");
    animation->setStartValue(widget->geometry());
    animation->setEndValue(geometry);
    animation->setDuration(m_duration);
    animation->setEasingCurve(m_curve);
    m_group->addAnimation(animation);
}

bool AnimationGroup::superseded() const
{
    for (const AlphaTarget& t : m_alphaTargets) {
        if (t.widget && !owns(t.widget, t.number))
            return true;
    }
    return false;
}

void AnimationGroup::start(std::function<void()> completion)
{
    m_completion = std::move(completion);
    connect(m_group, &QAbstractAnimation::finished, this, [this] {
        const bool skip = m_skipWhenSuperseded && superseded();
        auto completion = std::move(m_completion);
        deleteLater();
        if (completion && !skip)
            completion();
    });
    m_group->start();
}

void AnimationGroup::finish()
{
    if (m_group->state() != QAbstractAnimation::Stopped)
        m_group->setCurrentTime(m_group->totalDuration());
}

bool AnimationGroup::isRunning() const
{
    return m_group->state() == QAbstractAnimation::Running;
}

void animateAlpha(QWidget* widget, qreal alpha, int durationMs, const QEasingCurve& curve,
                  std::function<void()> completion)
{
    auto* group = new AnimationGroup(durationMs, curve, widget);
    group->setSkipCompletionWhenSuperseded(true);
    group->animateAlpha(widget, alpha);
    group->start(std::move(completion));
}

void animateWindowAlpha(QWidget* window, qreal alpha, int durationMs, const QEasingCurve& curve,
                        std::function<void()> completion)
{
    auto* group = new AnimationGroup(durationMs, curve, window);
    group->setSkipCompletionWhenSuperseded(true);
    group->animateWindowAlpha(window, alpha);
    group->start(std::move(completion));
}

} // namespace platform::animation
