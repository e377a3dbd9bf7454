#pragma once

#include <QColor>
#include <QWidget>

// A thin divider line. It shows only while content is scrolled under it, so
// its alpha is a property that fades.
class QVRDividerView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(qreal alpha READ alpha WRITE setAlpha)

public:
    explicit QVRDividerView(QWidget* parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    bool vertical() const { return m_vertical; }
    void setVertical(bool vertical);
    qreal alpha() const { return m_alpha; }
    void setAlpha(qreal alpha);
    // Fades to `alpha` over 0.15 s with the ease-out curve when animated.
    void setAlpha(qreal alpha, bool animated);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color = QColor::fromRgbF(0, 0, 0, 0.3);
    bool m_vertical = false;
    qreal m_alpha = 1;
};
