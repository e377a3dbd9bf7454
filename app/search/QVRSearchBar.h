#pragma once

#include <QWidget>

#include <functional>

class QGraphicsOpacityEffect;
class QVRSearchField;
class QVariantAnimation;

// The bar at the top of the list pane that holds the search field. It slides
// down into the pane when shown and back up when hidden, the field fading in
// and out with it; the list below takes the height the bar leaves.
class QVRSearchBar : public QWidget
{
    Q_OBJECT

public:
    explicit QVRSearchBar(QWidget* parent = nullptr);

    QVRSearchField* field() const { return m_field; }

    // Slides the bar in or out, then calls `completion`. A duration of 0
    // (tests) applies the end state and calls `completion` at once.
    void setShown(bool shown, std::function<void()> completion = {});
    void setAnimationDuration(int milliseconds) { m_duration = milliseconds; }
    int animationDuration() const { return m_duration; }
    bool isAnimating() const;

    // How much of the bar shows, 0 to BarHeight.
    int revealedHeight() const { return m_revealed; }
    qreal fieldOpacity() const;

    static constexpr int BarHeight = 39;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setRevealed(int height, qreal opacity);
    void placeField();

    QVRSearchField* m_field;
    QGraphicsOpacityEffect* m_opacity;
    QVariantAnimation* m_animation;
    std::function<void()> m_completion;
    int m_revealed = 0;
    int m_duration = 300;
};
