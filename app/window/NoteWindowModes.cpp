// The main window's two modes, its fades, the title-band double-click, zoom
// and horizontal swipes.
#include "app/window/NoteWindow.h"

#include "app/QuillaryAppDelegate.h"
#include "app/search/QVRSearchField.h"
#include "app/window/QVRDividerView.h"

#include "platform/core/UserDefaults.h"
#include "platform/ui/Animation.h"
#include "store/QVRDefaultsKeys.h"

#include <QGuiApplication>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>

#include <algorithm>
#include <vector>

namespace {

constexpr int TitleBand = 22;
constexpr int StatusBand = 34;
// Room between the tray icon and the window opened for it.
constexpr int TrayGap = 4;

// Draws the pictures of the sliding panes where the panes are now, with
// their alpha, over a paper-coloured ground.
class SlideOverlay final : public QWidget
{
public:
    struct Layer
    {
        QWidget* pane;
        QPixmap picture;
    };

    explicit SlideOverlay(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAutoFillBackground(true);
    }

    std::vector<Layer> layers;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        for (const Layer& layer : layers) {
            if (!layer.pane->isVisibleTo(parentWidget()))
                continue;
            painter.setOpacity(platform::animation::widgetAlpha(layer.pane));
            painter.drawPixmap(layer.pane->geometry().topLeft() - pos(), layer.picture);
        }
    }
};

} // namespace

void NoteWindow::setMenuBarMode(bool flag)
{
    if (flag)
        setFullScreen(false);
    m_menuBarMode = flag;
    // In menu-bar mode the window keeps no menu bar of its own; the actions
    // stay on the window, so their shortcuts still work.
    m_menuBar->setVisible(!flag);
    m_gearButton->setVisible(flag);
    if (!flag) {
        finishAnimations();
        setWindowOpacity(1);
    }
}

void NoteWindow::setFullScreen(bool on)
{
    if (on == isFullScreen())
        return;
    // A window manager may refuse full screen to a window whose maximum
    // width is below the screen's: the limit holds outside full screen only.
    if (on)
        setMaximumWidth(QWIDGETSIZE_MAX);
    setWindowState(on ? windowState() | Qt::WindowFullScreen : windowState() & ~Qt::WindowFullScreen);
}

void NoteWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Full screen may also be left through the window manager.
    if (event->type() == QEvent::WindowStateChange)
        setMaximumWidth(isFullScreen() ? QWIDGETSIZE_MAX : MaximumWidth);
}

void NoteWindow::openWithAnimation()
{
    // A fade-out still running would close the window when it ends: stop it
    // and its completion, and show the window whole again.
    if (fadingOut()) {
        delete m_fade.data();
        m_fadingOut = false;
        setWindowOpacity(1);
    }
    if (isMinimized())
        showNormal();
    if (m_menuBarMode && !isVisible()) {
        setWindowOpacity(0);
        show();
        m_fade = new platform::animation::AnimationGroup(FadeInMs, platform::animation::easeOutCurve(), this);
        m_fade->animateWindowAlpha(this, 1);
        m_fade->start();
    } else {
        show();
    }
    raise();
    activateWindow();
}

bool NoteWindow::fadingOut() const
{
    return m_fade && m_fadingOut;
}

void NoteWindow::closeWithAnimation()
{
    if (!isVisible() || fadingOut())
        return;
    if (!m_menuBarMode) {
        hide();
        return;
    }
    if (m_fade)
        delete m_fade.data(); // a fade-in still running
    m_fade = new platform::animation::AnimationGroup(FadeOutMs, platform::animation::easeOutCurve(), this);
    m_fadingOut = true;
    m_fade->animateWindowAlpha(this, 0);
    m_fade->start([this] {
        m_fadingOut = false;
        hide();
        setWindowOpacity(1);
    });
}

void NoteWindow::finishAnimations()
{
    if (m_fade)
        m_fade->finish();
}

QRect NoteWindow::standardFrame(const QRect& frame, const QSize& ideal, const QRect& available)
{
    int width = std::max(frame.width(), ideal.width());
    int height = std::max(frame.height(), ideal.height());
    if (!available.isEmpty()) {
        width = std::min(width, available.width());
        height = std::min(height, available.height());
    }
    QRect result(frame.topLeft(), QSize(width, height));
    if (available.isEmpty())
        return result;
    if (result.right() > available.right())
        result.moveRight(available.right());
    if (result.bottom() > available.bottom())
        result.moveBottom(available.bottom());
    if (result.left() < available.left())
        result.moveLeft(available.left());
    if (result.top() < available.top())
        result.moveTop(available.top());
    return result;
}

QPoint NoteWindow::originNearStatusItem(const QRect& icon, const QSize& size, const QRect& available)
{
    int x = icon.center().x() - size.width() / 2;
    int y = icon.center().y() < available.center().y() ? icon.bottom() + 1 + TrayGap
                                                       : icon.top() - TrayGap - size.height();
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - size.width()));
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() + 1 - size.height()));
    return QPoint(x, y);
}

void NoteWindow::moveNearStatusItem(const QRect& icon)
{
    if (icon.isEmpty())
        return;
    QScreen* screen = QGuiApplication::screenAt(icon.center());
    if (!screen)
        screen = this->screen();
    if (!screen)
        return;
    // Positions are the frame's; the decorations are known once the window
    // has been shown.
    const QSize frameSize = frameGeometry().size().expandedTo(size());
    move(originNearStatusItem(icon, frameSize, screen->availableGeometry()));
}

void NoteWindow::zoom()
{
    if (!m_delegate)
        return;
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    // The decorations around the client area, which the screen must hold too.
    const QMargins decorations(client.left() - frame.left(), client.top() - frame.top(),
                               frame.right() - client.right(), frame.bottom() - client.bottom());
    const QSize ideal = m_delegate->idealSizeForZoom().grownBy(decorations);
    QRect available = screen() ? screen()->availableGeometry() : QRect();
    if (!available.isEmpty())
        available.setWidth(
            std::min(available.width(), MaximumWidth + decorations.left() + decorations.right()));
    const QRect zoomed = standardFrame(frame, ideal, available);
    setGeometry(zoomed.marginsRemoved(decorations));
}

bool NoteWindow::titleBandDoubleClick(const QPoint& position)
{
    if (position.y() >= TitleBand || isFullScreen())
        return false;
    if (m_delegate && QVRDefaultsKeys::value(m_delegate->defaults(), QVRDefaultsKeys::MinimizeOnDoubleClick))
        showMinimized();
    else
        zoom();
    return true;
}

void NoteWindow::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && titleBandDoubleClick(event->position().toPoint()))
        return;
    QWidget::mouseDoubleClickEvent(event);
}

void NoteWindow::trackSwipe(QWheelEvent* event)
{
    switch (m_swipeTracker.wheel(*event, width())) {
    case platform::SwipeTracker::Result::SwipedRight:
        emit swipedRight();
        break;
    case platform::SwipeTracker::Result::SwipedLeft:
        emit swipedLeft();
        break;
    default:
        break;
    }
}

void NoteWindow::wheelEvent(QWheelEvent* event)
{
    // The panes' own wheel events are tracked by the filter below; these are
    // the ones over the bands.
    QWidget* child = childAt(event->position().toPoint());
    if (!child || !(child == m_sidebarView || m_sidebarView->isAncestorOf(child) || child == m_textView ||
                    m_textView->isAncestorOf(child)))
        trackSwipe(event);
    QWidget::wheelEvent(event);
}

void NoteWindow::beginSlide()
{
    auto* overlay = static_cast<SlideOverlay*>(m_slideOverlay);
    if (!overlay) {
        overlay = new SlideOverlay(this);
        m_slideOverlay = overlay;
    }
    overlay->setGeometry(0, TitleBand, width(), std::max(0, height() - TitleBand - StatusBand));
    overlay->show();
    overlay->raise();
    layoutDividers();
    refreshSlidePictures();
}

void NoteWindow::refreshSlidePictures()
{
    if (!sliding())
        return;
    auto* overlay = static_cast<SlideOverlay*>(m_slideOverlay);
    overlay->layers.clear();
    for (QWidget* pane : {m_sidebarView, static_cast<QWidget*>(m_textView)}) {
        // The picture is of the whole pane; the fade is applied as it is drawn.
        const qreal alpha = platform::animation::widgetAlpha(pane);
        platform::animation::setWidgetAlpha(pane, 1);
        overlay->layers.push_back({pane, pane->grab()});
        platform::animation::setWidgetAlpha(pane, alpha);
    }
    overlay->update();
}

void NoteWindow::endSlide()
{
    if (!m_slideOverlay)
        return;
    m_slideOverlay->hide();
    static_cast<SlideOverlay*>(m_slideOverlay)->layers.clear();
}

bool NoteWindow::sliding() const
{
    return m_slideOverlay && m_slideOverlay->isVisible();
}

void NoteWindow::buildDividers()
{
    m_dividerView = new QVRDividerView(this);
    m_dividerView->setObjectName(QStringLiteral("dividerView"));
    m_dividerTopView = new QVRDividerView(this);
    m_dividerTopView->setObjectName(QStringLiteral("dividerTopView"));
    m_searchDividerView = new QVRDividerView(this);
    m_searchDividerView->setObjectName(QStringLiteral("searchDividerView"));
    // Every line starts hidden; the first update shows those that apply.
    for (QVRDividerView* divider : {m_dividerView, m_dividerTopView, m_searchDividerView})
        divider->setAlpha(0);
    m_searchField->installEventFilter(this);
    m_sidebarView->installEventFilter(this);
    m_textView->installEventFilter(this);
}

void NoteWindow::layoutDividers()
{
    if (!m_dividerView)
        return;
    m_dividerTopView->setGeometry(0, TitleBand, width(), 1);
    m_dividerView->setGeometry(0, height() - StatusBand, width(), 1);
    const QRect field(m_searchField->mapTo(this, QPoint(0, 0)), m_searchField->size());
    m_searchDividerView->setGeometry(m_sidebarView->geometry().left(), field.bottom() + 1,
                                     m_sidebarView->width(), 1);
    m_searchDividerView->setVisible(m_searchField->isVisibleTo(this));
    for (QVRDividerView* divider : {m_dividerView, m_dividerTopView, m_searchDividerView})
        divider->raise();
}

bool NoteWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_searchField || watched == m_sidebarView || watched == m_textView) {
        const QEvent::Type type = event->type();
        if (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Show || type == QEvent::Hide)
            layoutDividers();
        if (type == QEvent::Move && watched != m_searchField && sliding())
            m_slideOverlay->update();
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() == QEvent::Wheel &&
        (watched == m_tableView->viewport() || watched == m_textView->viewport())) {
        trackSwipe(static_cast<QWheelEvent*>(event));
    } else if (event->type() == QEvent::MouseButtonDblClick && watched == m_menuBar) {
        // The band holds the menu bar in Dock mode: a double-click beside its
        // menus counts as one on the band.
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint position = mouse->position().toPoint();
        if (mouse->button() == Qt::LeftButton && !m_menuBar->actionAt(position))
            return titleBandDoubleClick(m_menuBar->mapTo(this, position));
    }
    return QWidget::eventFilter(watched, event);
}
