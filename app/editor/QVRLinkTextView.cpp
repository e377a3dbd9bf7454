#include "app/editor/QVRLinkTextView.h"

#include "app/window/NSColorAdditions.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextLayout>

namespace {

// The links found in one paragraph, kept with it until it is highlighted
// again.
class LinkBlockData : public QTextBlockUserData
{
public:
    explicit LinkBlockData(QList<LinkDetector::Link> links) : links(std::move(links)) {}
    QList<LinkDetector::Link> links;
};

// Draws links as layout formats, which stay out of the document's contents
// and its undo history, and finds them again as the user types.
class LinkHighlighter : public QSyntaxHighlighter
{
public:
    explicit LinkHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {}

    void setEnabled(bool enabled)
    {
        m_enabled = enabled;
        rehighlight();
    }

protected:
    void highlightBlock(const QString& text) override
    {
        if (!m_enabled) {
            setCurrentBlockUserData(nullptr);
            return;
        }
        QList<LinkDetector::Link> links = LinkDetector::linksInText(text);
        if (links.isEmpty()) {
            setCurrentBlockUserData(nullptr);
            return;
        }
        QTextCharFormat format;
        format.setForeground(NSColorAdditions::linkedNoteTextColor());
        format.setFontUnderline(false);
        for (const LinkDetector::Link& link : links)
            setFormat(int(link.start), int(link.length), format);
        setCurrentBlockUserData(new LinkBlockData(std::move(links)));
    }

private:
    bool m_enabled = true;
};

} // namespace

QVRLinkTextView::QVRLinkTextView(QWidget* parent)
    : QTextEdit(parent), m_highlighter(new LinkHighlighter(document())),
      m_opener([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
    viewport()->setMouseTracking(true);
}

void QVRLinkTextView::setDetectsLinks(bool detects)
{
    if (detects == m_detectsLinks)
        return;
    m_detectsLinks = detects;
    static_cast<LinkHighlighter*>(m_highlighter)->setEnabled(detects);
}

QList<LinkDetector::Link> QVRLinkTextView::linksOfBlock(const QTextBlock& block)
{
    const auto* data = dynamic_cast<const LinkBlockData*>(block.userData());
    return data ? data->links : QList<LinkDetector::Link>();
}

QString QVRLinkTextView::exactText(const QTextDocument* document)
{
    QString text = document->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

QUrl QVRLinkTextView::urlForEvent(const QPoint& viewportPosition) const
{
    const QPointF point =
        QPointF(viewportPosition) + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const int position = document()->documentLayout()->hitTest(point, Qt::FuzzyHit);
    if (position < 0)
        return QUrl();
    const QTextBlock block = document()->findBlock(position);
    const QList<LinkDetector::Link> links = linksOfBlock(block);
    const QTextLayout* layout = block.layout();
    if (links.isEmpty() || !layout)
        return QUrl();
    // The hit position lies between two characters: the one under the point
    // is whichever of its neighbours has the point inside its own box.
    const QPointF origin = layout->position();
    const int inBlock = position - block.position();
    const QTextLine line = layout->lineForTextPosition(inBlock);
    if (!line.isValid())
        return QUrl();
    const qreal top = origin.y() + line.y();
    if (point.y() < top || point.y() >= top + line.height())
        return QUrl();
    for (int character : {inBlock - 1, inBlock}) {
        if (character < line.textStart() || character >= line.textStart() + line.textLength())
            continue;
        const qreal a = origin.x() + line.cursorToX(character);
        const qreal b = origin.x() + line.cursorToX(character + 1);
        if (point.x() < std::min(a, b) || point.x() >= std::max(a, b))
            continue;
        for (const LinkDetector::Link& link : links) {
            if (character >= link.start && character < link.start + link.length)
                return link.url;
        }
        return QUrl();
    }
    return QUrl();
}

void QVRLinkTextView::mousePressEvent(QMouseEvent* event)
{
    m_pressedLink = event->button() == Qt::LeftButton && event->modifiers() == Qt::NoModifier
                        ? urlForEvent(event->position().toPoint())
                        : QUrl();
    m_pressPosition = event->position().toPoint();
    QTextEdit::mousePressEvent(event);
}

void QVRLinkTextView::mouseMoveEvent(QMouseEvent* event)
{
    QTextEdit::mouseMoveEvent(event);
    updateCursor(event->position().toPoint());
}

void QVRLinkTextView::mouseReleaseEvent(QMouseEvent* event)
{
    QTextEdit::mouseReleaseEvent(event);
    const QUrl pressed = std::exchange(m_pressedLink, QUrl());
    if (event->button() != Qt::LeftButton || pressed.isEmpty())
        return;
    // A drag that selects text and ends on a link does not open it.
    const QPoint position = event->position().toPoint();
    if ((position - m_pressPosition).manhattanLength() >= QApplication::startDragDistance())
        return;
    if (urlForEvent(position) == pressed && LinkDetector::isSafeLink(pressed) && m_opener)
        m_opener(pressed);
}

void QVRLinkTextView::updateCursor(const QPoint& viewportPosition)
{
    const bool overLink = !urlForEvent(viewportPosition).isEmpty();
    viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::IBeamCursor);
}
