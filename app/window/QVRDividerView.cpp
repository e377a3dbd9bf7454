#include "app/window/QVRDividerView.h"

#include "platform/ui/Animation.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPropertyAnimation>

namespace {

constexpr int FadeMs = 150;

} // namespace

QVRDividerView::QVRDividerView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void QVRDividerView::setColor(const QColor& color)
{
    m_color = color;
    update();
}

void QVRDividerView::setVertical(bool vertical)
{
    m_vertical = vertical;
    setSizePolicy(vertical ? QSizePolicy::Fixed : QSizePolicy::Expanding,
                  vertical ? QSizePolicy::Expanding : QSizePolicy::Fixed);
    updateGeometry();
}

void QVRDividerView::setAlpha(qreal alpha)
{
    m_alpha = qBound<qreal>(0, alpha, 1);
    update();
}

void QVRDividerView::setAlpha(qreal alpha, bool animated)
{
    // A fade still running for this line gives way to the newer target.
    for (QPropertyAnimation* running :
         findChildren<QPropertyAnimation*>(QString(), Qt::FindDirectChildrenOnly))
        delete running;
    if (!animated) {
        setAlpha(alpha);
        return;
    }
    auto* fade = new QPropertyAnimation(this, "alpha", this);
    fade->setDuration(FadeMs);
    fade->setEasingCurve(platform::animation::easeOutCurve());
    fade->setEndValue(qBound<qreal>(0, alpha, 1));
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

QSize QVRDividerView::sizeHint() const
{
    return m_vertical ? QSize(1, -1) : QSize(-1, 1);
}

void QVRDividerView::paintEvent(QPaintEvent* event)
{
    if (m_alpha <= 0)
        return;
    QPainter painter(this);
    painter.setOpacity(m_alpha);
    painter.fillRect(event->rect(), m_color);
}
