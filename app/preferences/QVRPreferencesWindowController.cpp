// The preferences window: toolbar tabs over a stack of panes, with a window
// height that follows the selected pane and keeps the top edge in place.
#include "app/preferences/QVRPreferencesWindowController.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QEvent>
#include <QLayout>
#include <QScreen>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

// The top-level window: tells the tabs when it is shown or hidden.
class PreferencesWindow : public QWidget
{
public:
    PreferencesWindow() : QWidget(nullptr, Qt::Window) {}

    QPointer<QVRPreferencesTabViewController> tabs;

protected:
    // Sent before the window is mapped, so a growing pane is already tall
    // enough when the window first appears.
    void showEvent(QShowEvent* event) override
    {
        QWidget::showEvent(event);
        if (tabs)
            tabs->windowDidShow();
    }
    void hideEvent(QHideEvent* event) override
    {
        QWidget::hideEvent(event);
        if (tabs)
            tabs->windowDidHide();
    }
};

} // namespace

// --- panes ------------------------------------------------------------------------

QVRPreferencesViewController::QVRPreferencesViewController(QWidget* parent) : QWidget(parent) {}

int QVRPreferencesViewController::contentHeight() const
{
    QWidget* window = m_windowController ? m_windowController->window() : nullptr;
    if (!window)
        return 0;
    return window->geometry().height() - m_windowController->tabViewController()->chromeHeight();
}

int QVRPreferencesViewController::fittingHeight(int width) const
{
    if (hasHeightForWidth())
        return std::max(heightForWidth(width), sizeHint().height());
    return sizeHint().height();
}

void QVRPreferencesViewController::viewWillAppear()
{
    QWidget* window = m_windowController ? m_windowController->window() : nullptr;
    if (!window)
        return;
    const int fitting = fittingHeight(window->width());
    if (fitting > contentHeight())
        adjustWindowForSize(QSize(window->width(), fitting));
}

void QVRPreferencesViewController::viewDidAppear()
{
    QWidget* window = m_windowController ? m_windowController->window() : nullptr;
    if (!window)
        return;
    const int fitting = fittingHeight(window->width());
    if (contentHeight() > fitting)
        adjustWindowForSize(QSize(window->width(), fitting));
}

void QVRPreferencesViewController::fitWindowToPane()
{
    QWidget* window = m_windowController ? m_windowController->window() : nullptr;
    if (!window)
        return;
    const int fitting = fittingHeight(window->width());
    if (fitting != contentHeight())
        adjustWindowForSize(QSize(window->width(), fitting));
}

void QVRPreferencesViewController::adjustWindowForSize(const QSize& size)
{
    QWidget* window = m_windowController ? m_windowController->window() : nullptr;
    if (!window)
        return;
    // The minimum size must be the one of the pane now selected, or a
    // shrink would stop at the height of the pane before.
    if (window->layout())
        window->layout()->activate();
    const QRect frame = window->geometry();
    const int height = size.height() + m_windowController->tabViewController()->chromeHeight();
    // X11 window managers keep the top-left corner on a resize, and so does
    // setting the geometry with the same x and y.
    window->setGeometry(QRect(frame.x(), frame.y(), frame.width(), height));
}

// --- tabs -------------------------------------------------------------------------

QVRPreferencesTabViewController::QVRPreferencesTabViewController(QWidget* parent)
    : QWidget(parent), m_toolBar(new QToolBar(this)), m_group(new QActionGroup(this)),
      m_stack(new QStackedWidget(this))
{
    m_toolBar->setObjectName(QStringLiteral("preferencesToolbar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolBar->setMovable(false);
    m_group->setExclusive(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_stack, 1);
}

void QVRPreferencesTabViewController::addTabViewItem(const TabViewItem& item)
{
    TabViewItem added = item;
    const int index = int(m_items.size());
    added.toolbarItem = m_toolBar->addAction(item.image, item.label);
    added.toolbarItem->setCheckable(true);
    added.toolbarItem->setObjectName(item.identifier);
    m_group->addAction(added.toolbarItem);
    // Only a user's click: selecting from code goes through the setter.
    connect(added.toolbarItem, &QAction::triggered, this,
            [this, index] { setSelectedTabViewItemIndex(index); });
    m_stack->addWidget(item.viewController);
    // Only the selected pane counts for the window's height.
    item.viewController->setSizePolicy(item.viewController->sizePolicy().horizontalPolicy(),
                                       QSizePolicy::Ignored);
    m_items.push_back(added);
}

QVRPreferencesViewController* QVRPreferencesTabViewController::selectedViewController() const
{
    return m_selected >= 0 ? m_items[size_t(m_selected)].viewController : nullptr;
}

int QVRPreferencesTabViewController::chromeHeight() const
{
    return m_toolBar->sizeHint().height();
}

void QVRPreferencesTabViewController::setSelectedTabViewItemIndex(int index)
{
    if (index < 0 || index >= int(m_items.size()))
        return;
    if (index == m_selected) {
        m_items[size_t(index)].toolbarItem->setChecked(true);
        return;
    }
    QVRPreferencesViewController* old = selectedViewController();
    QVRPreferencesViewController* next = m_items[size_t(index)].viewController;
    const bool visible = m_shown;
    if (visible && old)
        old->viewWillDisappear();
    if (visible)
        next->viewWillAppear();
    if (old)
        old->setSizePolicy(old->sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
    next->setSizePolicy(next->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    m_selected = index;
    m_stack->setCurrentWidget(next);
    m_items[size_t(index)].toolbarItem->setChecked(true);
    tabViewDidSelectTabViewItem(index);
    if (visible && old)
        old->viewDidDisappear();
    if (visible)
        next->viewDidAppear();
}

void QVRPreferencesTabViewController::tabViewDidSelectTabViewItem(int index)
{
    if (m_windowController && m_windowController->window())
        m_windowController->window()->setWindowTitle(m_items[size_t(index)].viewController->title());
    if (QWidget* first = m_items[size_t(index)].initialFirstResponder)
        first->setFocus();
}

void QVRPreferencesTabViewController::windowDidShow()
{
    if (m_shown)
        return;
    m_shown = true;
    if (QVRPreferencesViewController* pane = selectedViewController()) {
        pane->viewWillAppear();
        pane->viewDidAppear();
    }
}

void QVRPreferencesTabViewController::windowDidHide()
{
    if (!m_shown)
        return;
    m_shown = false;
    if (QVRPreferencesViewController* pane = selectedViewController()) {
        pane->viewWillDisappear();
        pane->viewDidDisappear();
    }
}

// --- window -----------------------------------------------------------------------

QVRPreferencesWindowController::QVRPreferencesWindowController(
    const std::vector<QVRPreferencesViewController*>& viewControllers, QObject* parent)
    : QObject(parent)
{
    auto* window = new PreferencesWindow;
    m_window.reset(window);
    window->setObjectName(QStringLiteral("preferencesWindow"));
    auto* tabs = new QVRPreferencesTabViewController(window);
    tabs->setWindowController(this);
    window->tabs = tabs;
    m_tabViewController = tabs;
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tabs);

    int width = MinimumWidth;
    for (QVRPreferencesViewController* pane : viewControllers) {
        pane->setWindowController(this);
        QVRPreferencesTabViewController::TabViewItem item;
        item.identifier = pane->identifier();
        item.label = pane->title();
        item.image = pane->toolbarImage();
        item.initialFirstResponder = pane->initialFirstResponder();
        item.viewController = pane;
        width = std::max(width, pane->sizeHint().width());
        tabs->addTabViewItem(item);
    }
    tabs->setSelectedTabViewItemIndex(0);
    if (QVRPreferencesViewController* first = tabs->selectedViewController())
        window->resize(width, first->fittingHeight(width) + tabs->chromeHeight());
}

QVRPreferencesWindowController::~QVRPreferencesWindowController() = default;

bool QVRPreferencesWindowController::selectControllerWithIdentifier(const QString& identifier)
{
    const auto& items = m_tabViewController->tabViewItems();
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].identifier == identifier) {
            m_tabViewController->setSelectedTabViewItemIndex(int(i));
            return true;
        }
    }
    return false;
}

void QVRPreferencesWindowController::showWindow()
{
    // The first time, centred across and in the upper part of the screen,
    // where a window that grows downwards still fits.
    if (!m_placed) {
        m_placed = true;
        QWidget* active = QApplication::activeWindow();
        QScreen* screen = active ? active->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->availableGeometry();
            m_window->move(area.x() + (area.width() - m_window->width()) / 2, area.y() + area.height() / 8);
        }
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}
