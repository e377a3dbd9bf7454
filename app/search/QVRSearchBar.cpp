#include "app/search/QVRSearchBar.h"

#include "app/search/QVRSearchField.h"

#include <QEasingCurve>
#include <QGraphicsOpacityEffect>
#include <QVariantAnimation>

namespace {

constexpr int SideInset = 4;

// Starts quickly and settles gently.
QEasingCurve easeOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

} // namespace

QVRSearchBar::QVRSearchBar(QWidget* parent)
    : QWidget(parent), m_field(new QVRSearchField(this)), m_opacity(new QGraphicsOpacityEffect(m_field)),
      m_animation(new QVariantAnimation(this))
{
    setObjectName(QStringLiteral("searchView"));
    m_field->setGraphicsEffect(m_opacity);
    m_animation->setEasingCurve(easeOut());
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        const qreal progress = value.toReal();
        setRevealed(int(std::round(progress * BarHeight)), progress);
    });
    connect(m_animation, &QVariantAnimation::finished, this, [this] {
        if (auto completion = std::exchange(m_completion, {}))
            completion();
    });
    setRevealed(0, 0);
}

bool QVRSearchBar::isAnimating() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

qreal QVRSearchBar::fieldOpacity() const
{
    return m_opacity->opacity();
}

void QVRSearchBar::setShown(bool shown, std::function<void()> completion)
{
    // A slide in the other direction starts from where the last one is.
    m_animation->stop();
    m_completion = {};
    const qreal target = shown ? 1.0 : 0.0;
    if (m_duration <= 0) {
        setRevealed(shown ? BarHeight : 0, target);
        if (completion)
            completion();
        return;
    }
    m_completion = std::move(completion);
    m_animation->setDuration(m_duration);
    m_animation->setStartValue(qreal(m_revealed) / BarHeight);
    m_animation->setEndValue(target);
    m_animation->start();
}

void QVRSearchBar::setRevealed(int height, qreal opacity)
{
    m_revealed = std::clamp(height, 0, int(BarHeight));
    m_opacity->setOpacity(opacity);
    setFixedHeight(m_revealed);
    placeField();
}

void QVRSearchBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeField();
}

void QVRSearchBar::placeField()
{
    // The field keeps its place in the full bar, whose top is above the
    // pane while the bar is partly shown, so it slides rather than shrinks.
    const int top = m_revealed - BarHeight + (BarHeight - QVRSearchField::FieldHeight) / 2;
    m_field->setGeometry(SideInset, top, std::max(0, width() - 2 * SideInset), QVRSearchField::FieldHeight);
}
