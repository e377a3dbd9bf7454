#include "app/window/NoteWindow.h"

#include "app/QuillaryAppDelegate.h"
#include "app/list/NoteListModel.h"
#include "app/search/QVRSearchBar.h"
#include "app/search/QVRSearchField.h"
#include "app/window/NSColorAdditions.h"

#include <QCloseEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWindow>

#include <utility>

namespace {

constexpr int Margin = 13;
constexpr int StatusBand = 34;
constexpr int TitleBand = 22;
constexpr int PaneGap = 15;

} // namespace

QFont NoteWindow::noteFont(int pixelSize, bool medium)
{
    QFont font;
    font.setFamilies({QStringLiteral("Helvetica Neue"), QStringLiteral("Helvetica"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("DejaVu Sans")});
    font.setPixelSize(std::max(1, pixelSize));
    if (medium)
        font.setWeight(QFont::Medium);
    return font;
}

// --- NoteTextView --------------------------------------------------------------

NoteTextView::NoteTextView(QWidget* parent) : QVRLinkTextView(parent)
{
    setFrameShape(QFrame::NoFrame);
    setObjectName(QStringLiteral("textView"));
    setAccessibleName(tr("Note"));
}

void NoteTextView::focusOutEvent(QFocusEvent* event)
{
    QVRLinkTextView::focusOutEvent(event);
    // A context menu opening does not end editing.
    if (event->reason() != Qt::PopupFocusReason)
        emit editingEnded();
}

// --- NoteTableView -------------------------------------------------------------

NoteTableView::NoteTableView(QWidget* parent) : QListView(parent)
{
    setObjectName(QStringLiteral("tableView"));
    setAccessibleName(tr("Notes"));
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void NoteTableView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit openRequested();
        return;
    }
    // The window of menu-bar mode goes as a menu does; in Dock mode the list
    // handles the key as usual.
    if (event->key() == Qt::Key_Escape) {
        if (auto* noteWindow = qobject_cast<NoteWindow*>(window());
            noteWindow && noteWindow->closeMenuBarWindow())
            return;
    }
    QListView::keyPressEvent(event);
}

void NoteTableView::changeEvent(QEvent* event)
{
    QListView::changeEvent(event);
    // Every title is recoloured when the list is enabled or disabled.
    if (event->type() == QEvent::EnabledChange)
        viewport()->update();
}

void NoteTableView::showEvent(QShowEvent* event)
{
    QListView::showEvent(event);
    // Presses reach the top-level window before the focus moves.
    if (QWindow* handle = window()->windowHandle())
        handle->installEventFilter(this);
}

bool NoteTableView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && watched == window()->windowHandle()) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint local = viewport()->mapFromGlobal(mouse->globalPosition().toPoint());
        m_pressedIndex = isVisible() && viewport()->rect().contains(local)
                             ? QPersistentModelIndex(indexAt(local))
                             : QPersistentModelIndex();
    }
    return QListView::eventFilter(watched, event);
}

void NoteTableView::mousePressEvent(QMouseEvent* event)
{
    const QPersistentModelIndex pressed = std::exchange(m_pressedIndex, QPersistentModelIndex());
    const QPoint position = event->position().toPoint();
    if (pressed.isValid() && indexAt(position) != pressed) {
        // Rows moved while the focus came here: press the row that was
        // under the pointer, wherever it is now.
        const QPoint moved(position.x(), visualRect(pressed).center().y());
        QMouseEvent adjusted(event->type(), moved, viewport()->mapToGlobal(moved), event->button(),
                             event->buttons(), event->modifiers());
        QListView::mousePressEvent(&adjusted);
        return;
    }
    // A right-click off the rows asks for a context menu, and there is none
    // there; the list would take the press (of any button but the left) as a
    // click into its empty part, which clears the selection.
    if (event->button() != Qt::LeftButton && !indexAt(position).isValid()) {
        event->accept();
        return;
    }
    QListView::mousePressEvent(event);
}

// --- NoteCellView --------------------------------------------------------------

NoteCellView::NoteCellView(QuillaryAppDelegate* delegate, QObject* parent)
    : QStyledItemDelegate(parent), m_delegate(delegate)
{
}

QSize NoteCellView::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    (void)index;
    return QSize(option.rect.width(), RowHeight);
}

void NoteCellView::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const
{
    painter->save();
    const QRect cell = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    if (selected)
        painter->fillRect(cell, NSColorAdditions::paperSelectionColor());

    const int textSize = m_delegate ? m_delegate->textSize() : 12;
    const QFont titleFont =
        NoteWindow::noteFont(QuillaryAppDelegate::listTextSizeForTextSize(textSize), true);
    const QFont dateFont =
        NoteWindow::noteFont(QuillaryAppDelegate::smallTextSizeForTextSize(textSize), false);
    const QString title = index.data(Qt::DisplayRole).toString();
    const QString dateText = index.data(NoteListModel::DateTextRole).toString();
    const bool archived = index.data(NoteListModel::ArchivedRole).toBool();
    const bool enabled = option.state & QStyle::State_Enabled;

    // The date sits 8 px from the right edge, 1 px above the centre line; the
    // title fills the rest from 8 px on the left.
    const QFontMetrics dateMetrics(dateFont);
    const int dw = dateMetrics.horizontalAdvance(dateText);
    const int dh = dateMetrics.height();
    const QRect dateRect(cell.right() + 1 - dw - 8, cell.top() + (cell.height() - dh + 1) / 2 - 1, dw, dh);
    const QFontMetrics titleMetrics(titleFont);
    const int th = titleMetrics.height();
    const QRect titleRect(cell.left() + 8, cell.top() + (cell.height() - th + 1) / 2,
                          cell.width() - 16 - (dw + 8), th);

    painter->setFont(dateFont);
    painter->setPen(NSColorAdditions::lightNoteTextShadowColor());
    painter->drawText(dateRect.translated(0, 1), Qt::AlignLeft | Qt::AlignVCenter, dateText);
    painter->setPen(selected ? NSColorAdditions::lightNoteTextHighlightedColor()
                             : NSColorAdditions::lightNoteTextColor());
    painter->drawText(dateRect, Qt::AlignLeft | Qt::AlignVCenter, dateText);

    painter->setFont(titleFont);
    painter->setPen(archived || !enabled ? NSColorAdditions::archivedNoteTextColor()
                                         : NSColorAdditions::darkNoteTextColor());
    painter->drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                      titleMetrics.elidedText(title, Qt::ElideRight, std::max(0, titleRect.width())));
    painter->restore();
}

// --- NoteWindow ----------------------------------------------------------------

NoteWindow::NoteWindow(QuillaryAppDelegate* delegate) : m_delegate(delegate)
{
    setObjectName(QStringLiteral("NoteWindow"));
    setWindowTitle(QStringLiteral("Quillary"));
    setMaximumWidth(MaximumWidth);
    setMinimumSize(270, 200);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, NSColorAdditions::paperBackgroundColor());
    palette.setColor(QPalette::Base, NSColorAdditions::paperBackgroundColor());
    palette.setColor(QPalette::Text, NSColorAdditions::darkerNoteTextColor());
    palette.setColor(QPalette::Highlight, NSColorAdditions::highlightedNoteTextColor());
    palette.setColor(QPalette::HighlightedText, NSColorAdditions::darkerNoteTextColor());
    setPalette(palette);
    setAutoFillBackground(true);

    m_sidebarView = new QWidget(this);
    m_sidebarView->setObjectName(QStringLiteral("sidebarView"));
    m_tableView = new NoteTableView(m_sidebarView);
    m_tableView->setItemDelegate(new NoteCellView(delegate, m_tableView));
    auto* sidebarLayout = new QVBoxLayout(m_sidebarView);
    sidebarLayout->setContentsMargins(0, 0, 0, 0);
    sidebarLayout->setSpacing(0);
    m_searchView = new QVRSearchBar(m_sidebarView);
    m_searchField = m_searchView->field();
    m_searchView->hide();
    sidebarLayout->addWidget(m_searchView);
    sidebarLayout->addWidget(m_tableView);

    m_textView = new NoteTextView(this);

    m_statusButton = new QPushButton(this);
    m_statusButton->setObjectName(QStringLiteral("statusButton"));
    m_statusButton->setFlat(true);
    m_statusButton->setFocusPolicy(Qt::NoFocus);
    m_statusButton->setAccessibleName(tr("Status"));

    m_addButton = new QPushButton(QStringLiteral("+"), this);
    m_addButton->setObjectName(QStringLiteral("addButton"));
    m_addButton->setFlat(true);
    m_addButton->setFocusPolicy(Qt::NoFocus);
    m_addButton->setAccessibleName(tr("Add"));

    m_menuBar = new QMenuBar(this);
    m_menuBar->setObjectName(QStringLiteral("menuBar"));

    // Swipes over the panes and double-clicks on the band beside the menus.
    m_menuBar->installEventFilter(this);
    m_tableView->viewport()->installEventFilter(this);
    m_textView->viewport()->installEventFilter(this);
    buildDividers();

    // The gear opens its menu on the press, as a menu button does.
    m_gearButton = new QPushButton(QStringLiteral("\u2699"), this);
    m_gearButton->setObjectName(QStringLiteral("gearButton"));
    m_gearButton->setFlat(true);
    m_gearButton->setFocusPolicy(Qt::NoFocus);
    m_gearButton->setAccessibleName(tr("Settings"));
    // Shown in menu-bar mode only, where the window has no menu bar.
    m_gearButton->hide();
    m_moreButton = new QPushButton(QStringLiteral("\u2026"), this);
    m_moreButton->setObjectName(QStringLiteral("moreButton"));
    m_moreButton->setFlat(true);
    m_moreButton->setFocusPolicy(Qt::NoFocus);
    m_moreButton->setAccessibleName(tr("More"));
    m_moreButton->hide();

    resize(760, 480);
}

QRect NoteWindow::listPaneRect(const QSize& content, bool twoPane)
{
    const int height = std::max(0, content.height() - StatusBand - TitleBand);
    const int contentWidth = content.width();
    if (!twoPane)
        return QRect(Margin, TitleBand, std::max(0, contentWidth - 2 * Margin), height);
    const int listWidth = contentWidth <= 760 ? int((contentWidth - PaneGap - 2 * Margin) * 0.4) : 294;
    return QRect(Margin, TitleBand, listWidth, height);
}

QRect NoteWindow::detailPaneRect(const QSize& content, bool twoPane)
{
    const QRect list = listPaneRect(content, twoPane);
    if (!twoPane)
        return list;
    const int x = list.right() + 1 + PaneGap;
    return QRect(x, list.top(), std::max(0, content.width() - Margin - x), list.height());
}

void NoteWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_menuBar->setGeometry(0, 0, width(), TitleBand);
    const int bandTop = height() - StatusBand;
    m_statusButton->setGeometry(Margin + 60, bandTop, std::max(0, width() - 2 * (Margin + 60)), StatusBand);
    m_addButton->setGeometry(width() - Margin - 26, bandTop + 4, 26, 26);
    m_moreButton->setGeometry(width() - Margin - 56, bandTop + 4, 26, 26);
    layoutDividers();
    m_gearButton->setGeometry(Margin, bandTop + 4, 26, 26);
    if (m_delegate)
        m_delegate->adjustWindowContent();
}

void NoteWindow::closeEvent(QCloseEvent* event)
{
    // Closing hides the window; the notes stay open in the application.
    event->ignore();
    closeWithAnimation();
}

void NoteWindow::toggleWithAnimation()
{
    // A window fading out is on its way closed, though still active until it
    // goes: a click then (the second of two quick tray clicks) opens it again.
    if (!isActiveWindow() || fadingOut())
        openWithAnimation();
    else
        closeWithAnimation();
}

bool NoteWindow::closeMenuBarWindow()
{
    if (!m_menuBarMode)
        return false;
    closeWithAnimation();
    return true;
}
