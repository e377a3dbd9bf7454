#pragma once

#include "app/editor/QVRLinkTextView.h"
#include "platform/ui/SwipeTracker.h"

#include <QListView>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QWidget>

class QMenuBar;
class QVRDividerView;
class QVRSearchBar;
class QVRSearchField;
class QuillaryAppDelegate;
namespace platform::animation {
class AnimationGroup;
}

// The editor's text view: reports the end of editing, except when only a
// context menu took the focus for a moment.
class NoteTextView : public QVRLinkTextView
{
    Q_OBJECT

public:
    explicit NoteTextView(QWidget* parent = nullptr);

signals:
    void editingEnded();

protected:
    void focusOutEvent(QFocusEvent* event) override;
};

// The note list: Return opens the selected note; Escape closes the window in
// menu-bar mode.
class NoteTableView : public QListView
{
    Q_OBJECT

public:
    explicit NoteTableView(QWidget* parent = nullptr);

signals:
    void openRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The row under the pointer when a button went down, taken before the
    // press moves the focus here: the editor then saves its note, which can
    // move rows under the pointer.
    QPersistentModelIndex m_pressedIndex;
};

// Paints one row: the title from 8 px on the left, the relative date 8 px from
// the right edge, the selection as a paper-coloured fill.
class NoteCellView : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit NoteCellView(QuillaryAppDelegate* delegate, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    static constexpr int RowHeight = 40;

private:
    QuillaryAppDelegate* m_delegate;
};

// The main window: the note list beside the editor with the status line
// under them. Closing only hides it; the application goes on.
class NoteWindow : public QWidget
{
    Q_OBJECT

public:
    explicit NoteWindow(QuillaryAppDelegate* delegate);

    NoteTableView* tableView() const { return m_tableView; }
    NoteTextView* textView() const { return m_textView; }
    QWidget* sidebarView() const { return m_sidebarView; }
    QPushButton* statusButton() const { return m_statusButton; }
    QPushButton* addButton() const { return m_addButton; }
    QMenuBar* menuBar() const { return m_menuBar; }
    QVRSearchField* searchField() const { return m_searchField; }
    // Menus: the gear button at the left of the status band.
    QPushButton* gearButton() const { return m_gearButton; }
    // The "More" button: the selected note's menu; hidden while no note is
    // selected.
    QPushButton* moreButton() const { return m_moreButton; }
    QVRSearchBar* searchView() const { return m_searchView; }

    void openWithAnimation();
    void closeWithAnimation();
    void toggleWithAnimation();
    // In menu-bar mode, closes the window with its fade and answers true;
    // in Dock mode does nothing and answers false.
    bool closeMenuBarWindow();
    // Closing with its fade: still visible (and active), but on its way out.
    bool fadingOut() const;

    // Pane rectangles for a content size, as the layout places them.
    static QRect listPaneRect(const QSize& content, bool twoPane);
    static QRect detailPaneRect(const QSize& content, bool twoPane);
    static bool fitsTwoPane(int width) { return width > 400; }

    static constexpr int MaximumWidth = 1280;

    // The face of the list, the status line and the editor at a pixel size.
    // Debian has no Helvetica Neue, so fontconfig takes the first family
    // that exists.
    static QFont noteFont(int pixelSize, bool medium = false);

    // Window modes, fades, zoom and swipes.
    bool menuBarMode() const { return m_menuBarMode; }
    // Menu-bar mode leaves full screen first: its window opens from the tray
    // as a menu does.
    void setMenuBarMode(bool flag);
    // Enters or leaves full screen (Dock mode's View menu).
    void setFullScreen(bool on);
    // Ends a running fade at once, completion included.
    void finishAnimations();
    // Grows the window to the size its notes want, within the screen.
    void zoom();
    // The zoomed frame: the window's frame grown to `ideal` (never shrunk),
    // top-left corner kept, but never larger than `available` and moved up
    // or left until it lies within it.
    static QRect standardFrame(const QRect& frame, const QSize& ideal, const QRect& available);
    // Where a window of `size` opens for a tray icon at `icon`: centred
    // under it, or above it when the icon is in the lower half of the
    // screen, within `available`.
    static QPoint originNearStatusItem(const QRect& icon, const QSize& size, const QRect& available);
    // Places the window by the tray icon at `icon` (global coordinates).
    void moveNearStatusItem(const QRect& icon);

    // The lines under the title band, above the status line and under the
    // search bar.
    QVRDividerView* dividerView() const { return m_dividerView; }
    QVRDividerView* dividerTopView() const { return m_dividerTopView; }
    QVRDividerView* searchDividerView() const { return m_searchDividerView; }

    // While the panes slide, a picture of each is drawn in its place at its
    // present frame and alpha: the panes themselves, scroll areas under an
    // opacity effect, leave traces when they move.
    void beginSlide();
    // Takes the pictures again, after a pane's content changed.
    void refreshSlidePictures();
    void endSlide();
    bool sliding() const;

    static constexpr int FadeInMs = 200;
    static constexpr int FadeOutMs = 100;

signals:
    // A horizontal two-finger swipe over the window.
    void swipedRight();
    void swipedLeft();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QuillaryAppDelegate* m_delegate;
    QWidget* m_sidebarView;
    NoteTableView* m_tableView;
    NoteTextView* m_textView;
    QPushButton* m_statusButton;
    QPushButton* m_addButton;
    QMenuBar* m_menuBar;
    QVRSearchField* m_searchField;

    // Window modes, fades, zoom and swipes.
    void buildDividers();
    void layoutDividers();
    bool titleBandDoubleClick(const QPoint& position);
    void trackSwipe(QWheelEvent* event);
    bool m_menuBarMode = false;
    QPointer<platform::animation::AnimationGroup> m_fade;
    bool m_fadingOut = false;
    platform::SwipeTracker m_swipeTracker;
    QVRDividerView* m_dividerView = nullptr;
    QVRDividerView* m_dividerTopView = nullptr;
    QVRDividerView* m_searchDividerView = nullptr;
    QWidget* m_slideOverlay = nullptr;
    QPushButton* m_gearButton = nullptr; // menus
    QPushButton* m_moreButton = nullptr;
    QVRSearchBar* m_searchView;
};
