#pragma once

#include <QEasingCurve>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <functional>
#include <vector>

class QParallelAnimationGroup;
class QWidget;

namespace platform::animation {

// The ease-out timing curve, the cubic Bézier (0, 0, 0.58, 1).
QEasingCurve easeOutCurve();
// The default timing curve, the cubic Bézier (0.25, 0.1, 0.25, 1).
QEasingCurve defaultCurve();

// A child widget's alpha. It is drawn through a QGraphicsOpacityEffect while
// below 1; at 1 the effect is removed so the widget (text above all) paints
// crisply again.
qreal widgetAlpha(const QWidget* widget);
void setWidgetAlpha(QWidget* widget, qreal alpha);

// One group of animations that run together over the same duration and curve,
// then call the completion step once. Set the end values through the
// setters, then start(); the group deletes itself when it has finished.
// Starting an alpha animation of a widget (or window) supersedes the one
// already running for it: the older one stops changing the alpha, so two fades
// never fight over the same widget.
class AnimationGroup : public QObject
{
    Q_OBJECT
public:
    AnimationGroup(int durationMs, const QEasingCurve& curve, QObject* parent = nullptr);
    ~AnimationGroup() override;

    // A child widget's alpha (see widgetAlpha()).
    void animateAlpha(QWidget* widget, qreal alpha);
    // A top-level window's alpha (windowOpacity).
    void animateWindowAlpha(QWidget* window, qreal alpha);
    void animateGeometry(QWidget* widget, const QRect& geometry);

    void start(std::function<void()> completion = {});
    // Jumps to the end values at once and runs the completion step now, as
    // the group would when its time is up.
    void finish();
    bool isRunning() const;
    // With `skip`, the completion does not run when a newer alpha animation
    // superseded one of this group's, e.g. a fade-in started during a fade-out
    // whose completion would close the window.
    void setSkipCompletionWhenSuperseded(bool skip) { m_skipWhenSuperseded = skip; }
    bool superseded() const;

private:
    struct AlphaTarget
    {
        QPointer<QWidget> widget;
        quint64 number;
    };
    QParallelAnimationGroup* m_group;
    int m_duration;
    QEasingCurve m_curve;
    std::function<void()> m_completion;
    std::vector<AlphaTarget> m_alphaTargets;
    bool m_skipWhenSuperseded = false;
};

// Animates one widget's alpha on its own; `completion` runs when it ends,
// unless a newer alpha animation of the same widget superseded it.
void animateAlpha(QWidget* widget, qreal alpha, int durationMs, const QEasingCurve& curve,
                  std::function<void()> completion = {});
// Animates a window's alpha (windowOpacity) likewise.
void animateWindowAlpha(QWidget* window, qreal alpha, int durationMs, const QEasingCurve& curve,
                        std::function<void()> completion = {});

} // namespace platform::animation
