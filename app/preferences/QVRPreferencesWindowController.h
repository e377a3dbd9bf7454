#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class QActionGroup;
class QStackedWidget;
class QToolBar;
class QVRPreferencesWindowController;

// The base of every preferences pane. The window calls the appear and
// disappear hooks around each switch of panes and each show or hide of the
// window; a pane that overrides one calls the base first (will) or last (did).
class QVRPreferencesViewController : public QWidget
{
    Q_OBJECT

public:
    explicit QVRPreferencesViewController(QWidget* parent = nullptr);

    // The tab label, and the window title while the pane is selected.
    QString title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }
    // The fixed name selectControllerWithIdentifier() matches.
    virtual QString identifier() const { return QString(); }
    virtual QIcon toolbarImage() const { return m_toolbarImage; }
    virtual QWidget* initialFirstResponder() const { return nullptr; }

    QVRPreferencesWindowController* windowController() const { return m_windowController; }
    void setWindowController(QVRPreferencesWindowController* controller) { m_windowController = controller; }

    // Grows the window before a taller pane shows.
    virtual void viewWillAppear();
    // Shrinks the window after a shorter pane has shown.
    virtual void viewDidAppear();
    virtual void viewWillDisappear() {}
    virtual void viewDidDisappear() {}
    // Gives the window a content height of size.height(), keeping its x, its
    // width and its top edge.
    void adjustWindowForSize(const QSize& size);
    // The height the pane needs at `width`: wrapped texts grow with a
    // narrower window.
    virtual int fittingHeight(int width) const;
    // Grows or shrinks the window to the pane, for a pane whose content
    // changes while it is shown.
    void fitWindowToPane();

private:
    int contentHeight() const;

    QString m_title;
    QIcon m_toolbarImage; // never set here: the base has no image
    QPointer<QVRPreferencesWindowController> m_windowController;
};

// The panes as toolbar tabs over a stack; selecting one sets the window title.
class QVRPreferencesTabViewController : public QWidget
{
    Q_OBJECT

public:
    struct TabViewItem
    {
        QString identifier;
        QString label;
        QIcon image;
        QWidget* initialFirstResponder = nullptr;
        QVRPreferencesViewController* viewController = nullptr; // owned by the stack
        QAction* toolbarItem = nullptr;
    };

    explicit QVRPreferencesTabViewController(QWidget* parent = nullptr);

    QVRPreferencesWindowController* windowController() const { return m_windowController; }
    void setWindowController(QVRPreferencesWindowController* controller) { m_windowController = controller; }

    void addTabViewItem(const TabViewItem& item);
    const std::vector<TabViewItem>& tabViewItems() const { return m_items; }
    int selectedTabViewItemIndex() const { return m_selected; }
    // Switches panes with the appear and disappear hooks around the switch.
    void setSelectedTabViewItemIndex(int index);
    QVRPreferencesViewController* selectedViewController() const;
    QToolBar* toolBar() const { return m_toolBar; }
    // Height of what the window shows above the panes.
    int chromeHeight() const;

    // The window was shown or hidden: the selected pane appears or goes.
    void windowDidShow();
    void windowDidHide();

private:
    void tabViewDidSelectTabViewItem(int index);

    QPointer<QVRPreferencesWindowController> m_windowController;
    QToolBar* m_toolBar;
    QActionGroup* m_group;
    QStackedWidget* m_stack;
    std::vector<TabViewItem> m_items;
    int m_selected = -1;
    bool m_shown = false;
};

// The preferences window: built once from its panes and kept for the run.
class QVRPreferencesWindowController : public QObject
{
    Q_OBJECT

public:
    // Takes the panes over; the first one is selected.
    explicit QVRPreferencesWindowController(const std::vector<QVRPreferencesViewController*>& viewControllers,
                                            QObject* parent = nullptr);
    ~QVRPreferencesWindowController() override;

    QWidget* window() const { return m_window.get(); }
    QVRPreferencesTabViewController* tabViewController() const { return m_tabViewController; }
    // Selects the first pane with that identifier; false (nothing changes)
    // when no pane has it.
    bool selectControllerWithIdentifier(const QString& identifier);
    void showWindow();

    // The narrowest the window is made, so that the panes' texts read well.
    static constexpr int MinimumWidth = 480;

private:
    std::unique_ptr<QWidget> m_window;
    QPointer<QVRPreferencesTabViewController> m_tabViewController;
    bool m_placed = false;
};
