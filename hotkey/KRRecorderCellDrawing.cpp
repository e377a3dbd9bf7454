// The recorder's look: two styles, the idle/recording transition and the
// recording gradient.

#include "hotkey/KRKeyCodeTransformer.h"
#include "hotkey/KRRecorderCell.h"
#include "hotkey/KRSharedImageProvider.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

constexpr double kTickDelay = 0.03333333134651184;
constexpr double kTickStep = 0.095238097012043;
constexpr double kTickEnd = 0.9980000257492065;
constexpr float kLevel = 0.20000000298023224f;
constexpr float kAlpha = 0.8999999761581421f;

double KRTransitionEasing(double t)
{
    return (std::sin(t * M_PI - M_PI / 2) + 1) * 0.5;
}

QColor blend(const QColor& c, const QColor& towards, float level)
{
    return QColor::fromRgbF(c.redF() + (towards.redF() - c.redF()) * level,
                            c.greenF() + (towards.greenF() - c.greenF()) * level,
                            c.blueF() + (towards.blueF() - c.blueF()) * level, c.alphaF());
}
QColor shadowed(const QColor& c, float level)
{
    return blend(c, Qt::black, level);
}
QColor highlighted(const QColor& c, float level)
{
    return blend(c, Qt::white, level);
}

QColor withAlpha(QColor c, double a)
{
    c.setAlphaF(float(c.alphaF() * a));
    return c;
}

QPainterPath capsule(const QRectF& r)
{
    QPainterPath p;
    p.addRoundedRect(r, r.height() * 0.5, r.height() * 0.5);
    return p;
}

QFont scaledFont(double points)
{
    QFont f = QApplication::font();
    const double base = f.pointSizeF() > 0 ? f.pointSizeF() : 10;
    f.setPointSizeF(base * points / 13.0);
    return f;
}

} // namespace

void KRRecorderCell::_createGradient()
{
    const QPalette pal = m_view ? m_view->palette() : QApplication::palette();
    const QColor base = pal.color(QPalette::Highlight);
    m_gradientStart = shadowed(base, kLevel);
    m_gradientStart.setAlphaF(kAlpha);
    m_gradientEnd = highlighted(base, kLevel);
    m_gradientEnd.setAlphaF(kAlpha);
}

void KRRecorderCell::_startRecordingTransition()
{
    if (!_effectiveIsAnimating()) {
        _startRecording();
        return;
    }
    m_towardsRecording = true;
    m_isAnimatingNow = true;
    m_transitionProgress = 0;
    m_tickTimer.stop();
    m_tickTimer.start(int(std::lround(kTickDelay * 1000)));
}

void KRRecorderCell::_endRecordingTransition()
{
    if (!_effectiveIsAnimating()) {
        _endRecording();
        return;
    }
    m_towardsRecording = false;
    m_isAnimatingNow = true;
    m_transitionProgress = 0;
    m_tickTimer.stop();
    m_tickTimer.start(int(std::lround(kTickDelay * 1000)));
}

void KRRecorderCell::_transitionTick()
{
    m_transitionProgress += kTickStep;
    if (m_transitionProgress < kTickEnd) {
        redisplay();
        m_tickTimer.stop();
        m_tickTimer.start(int(std::lround(kTickDelay * 1000)));
        return;
    }
    m_isAnimatingNow = false;
    m_transitionProgress = 0;
    if (m_towardsRecording)
        _startRecording();
    else
        _endRecording();
}

QString KRRecorderCell::recordingText() const
{
    if (_validModifierFlags(m_recordingFlags)) {
        const QString glyphs = KRCocoaModifierGlyphs(m_recordingFlags);
        return glyphs.isEmpty() ? KRLocalized("Type shortcut") : glyphs;
    }
    return m_mouseInside ? KRLocalized("Use old shortcut") : KRLocalized("Type shortcut");
}

QString KRRecorderCell::removeImageName() const
{
    QString suffix;
    if (m_mouseInside && m_mouseDown)
        suffix = QStringLiteral("Pressed");
    else if (m_mouseInside || m_mouseDown)
        suffix = QStringLiteral("Rollover");
    return KRFormat(QStringLiteral("KRRemoveShortcut%@"), {suffix});
}

void KRRecorderCell::drawWithFrame(QPainter& p, const QRectF& frame)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    if (m_style == 1)
        drawStyle1(p, frame);
    else
        drawStyle0(p, frame);
    p.restore();
}

void KRRecorderCell::drawStyle0(QPainter& p, const QRectF& F)
{
    const QPalette pal = m_view ? m_view->palette() : QApplication::palette();
    const double h = F.height();
    QRectF inner = F;
    if (m_isRecording) {
        p.save();
        p.setClipPath(capsule(F));
        QLinearGradient g(F.bottomLeft(), F.topLeft());
        g.setColorAt(0, m_gradientStart);
        g.setColorAt(1, m_gradientEnd);
        p.fillRect(F, g);
        if (m_mouseInside)
            p.fillPath(capsule(F), QColor::fromRgbF(0, 0, 0, m_mouseDown ? 0.4f : 0.2f));
        p.restore();
        p.drawPixmap(_snapbackRectForFrame(F).topLeft(),
                     KRSharedImageProvider::supportingImageWithName(QStringLiteral("KRSnapback")));
        inner = QRectF(F.x() + 2, F.y() + 2, F.width() - 19, F.height() - 4);
    }
    p.save();
    p.setClipPath(capsule(inner));
    p.fillRect(inner, Qt::white);
    if (!m_isRecording) {
        p.strokePath(capsule(inner), QPen(pal.color(QPalette::Mid), 1));
        if (!_isEmpty() && isEnabled())
            p.drawPixmap(_removeButtonRectForFrame(F).topLeft(),
                         KRSharedImageProvider::supportingImageWithName(removeImageName()));
    }
    p.restore();

    const bool empty = _isEmpty();
    const bool quiet = m_isRecording || empty;
    p.setFont(quiet ? scaledFont(10) : scaledFont(11));
    p.setPen(quiet ? pal.color(QPalette::Disabled, QPalette::WindowText) : QColor(Qt::black));
    const QString text = m_isRecording ? recordingText() : displayedText();
    double d = 6;
    if (m_isRecording || !empty) {
        const QRectF b = m_isRecording ? _snapbackRectForFrame(F) : _removeButtonRectForFrame(F);
        d = (b.isNull() ? 0 : b.width()) + 6;
    }
    const QRectF textRect(F.x() + 6, F.y(), F.width() - 6 - d, h);
    p.drawText(textRect, Qt::AlignCenter,
               p.fontMetrics().elidedText(text, Qt::ElideRight, int(textRect.width())));

    if (m_view && m_view->hasFocus())
        p.strokePath(capsule(F.adjusted(1, 1, -1, -1)),
                     QPen(withAlpha(pal.color(QPalette::Highlight), 0.5), 2));
}

void KRRecorderCell::drawStyle1(QPainter& p, const QRectF& frame)
{
    const QPalette pal = m_view ? m_view->palette() : QApplication::palette();
    const QRectF F = frame.adjusted(0.5, 0.5, -0.5, -0.5);
    const double h = F.height();
    const bool steady = !m_isAnimatingNow;
    const double e = KRTransitionEasing(m_transitionProgress);
    double A = 1, B = 1, s = 1;
    bool recordingLayout = m_isRecording;
    if (!steady) {
        recordingLayout = true;
        A = m_towardsRecording ? e : 1 - e;
        B = m_towardsRecording ? 1 - e : e;
        s = m_towardsRecording ? e : 1 - e;
    }
    if (m_comboJustChanged) {
        A = 0;
        B = 1;
    }
    // The recording panel waits one height below and slides up over the idle one.
    QTransform t;
    if (recordingLayout)
        t.translate(0, -h * s);
    const QColor frameColor = pal.color(QPalette::Mid);

    p.save();
    p.fillPath(capsule(F), Qt::white);
    p.strokePath(capsule(F), QPen(frameColor, 1));
    p.setClipPath(capsule(F));

    if (recordingLayout) {
        const QRectF S = _snapbackRectForFrame(F).translated(0, h);
        const QRectF box(S.x() - 1.5, S.bottom() + 5 - h, S.width() * 1.3, h);
        p.save();
        p.setTransform(t, true);
        const bool pressed = m_mouseDown && m_mouseInside;
        QLinearGradient g(box.bottomLeft(), box.topLeft());
        g.setColorAt(0, withAlpha(QColor::fromRgbF(pressed ? 0.6f : 0.75f, pressed ? 0.6f : 0.75f,
                                                   pressed ? 0.6f : 0.75f),
                                  A));
        g.setColorAt(1, withAlpha(QColor::fromRgbF(pressed ? 0.75f : 0.9f, pressed ? 0.75f : 0.9f,
                                                   pressed ? 0.75f : 0.9f),
                                  A));
        p.fillRect(box.adjusted(-0.5, -0.5, 0.5, 0.5), g);
        p.setPen(QPen(withAlpha(shadowed(frameColor, kLevel), A), 1));
        p.drawRect(box);
        p.setOpacity(A);
        p.drawPixmap(QPointF(S.x() - 0.5, S.y()),
                     KRSharedImageProvider::supportingImageWithName(QStringLiteral("KRSnapback")));
        p.restore();
    }
    if (!_isEmpty() && isEnabled()) {
        p.save();
        p.setTransform(t, true);
        p.setOpacity(B);
        p.drawPixmap(_removeButtonRectForFrame(F).topLeft(),
                     KRSharedImageProvider::supportingImageWithName(removeImageName()));
        p.restore();
    }

    const QColor disabled = pal.color(QPalette::Disabled, QPalette::WindowText);
    if (recordingLayout) {
        p.save();
        p.setTransform(t, true);
        p.setFont(scaledFont(10));
        p.setPen(withAlpha(disabled, A));
        const QRectF S = _snapbackRectForFrame(F);
        const QRectF r(F.x() + 6, F.y() + h, F.width() - 6 - (S.width() + 6) - 6, h);
        p.drawText(r, Qt::AlignCenter,
                   p.fontMetrics().elidedText(recordingText(), Qt::ElideRight, int(r.width())));
        p.restore();
    }
    {
        p.save();
        if (!m_comboJustChanged)
            p.setTransform(t, true);
        const bool empty = _isEmpty();
        p.setFont(empty ? scaledFont(10) : scaledFont(11));
        p.setPen(withAlpha(empty ? disabled : QColor(Qt::black), B));
        const QRectF b = _removeButtonRectForFrame(F);
        const double d = empty ? 6 : (b.isNull() ? 0 : b.width()) + 6;
        const QRectF r(F.x() + 6, F.y(), F.width() - 6 - d, h);
        const QString text = displayedText();
        p.drawText(r, Qt::AlignCenter, p.fontMetrics().elidedText(text, Qt::ElideRight, int(r.width())));
        p.restore();
    }
    p.restore();
    if (m_view && m_view->hasFocus())
        p.strokePath(capsule(F.adjusted(0.5, 0.5, -0.5, -0.5)),
                     QPen(withAlpha(pal.color(QPalette::Highlight), 0.5), 2));
}
