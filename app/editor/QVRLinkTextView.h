#pragma once

#include "app/editor/LinkDetector.h"

#include <QPoint>
#include <QTextEdit>
#include <QUrl>

#include <functional>

class QSyntaxHighlighter;

// A plain-text view whose web and e-mail addresses are drawn as links: the
// pointer becomes a hand over them and a click opens them in the desktop's
// browser or mail program. Links are display formats only; the document's
// text and its undo history never change for them.
class QVRLinkTextView : public QTextEdit
{
    Q_OBJECT

public:
    using LinkOpener = std::function<void(const QUrl&)>;

    explicit QVRLinkTextView(QWidget* parent = nullptr);

    // The link whose characters lie under a point of the viewport, or an
    // empty URL.
    QUrl urlForEvent(const QPoint& viewportPosition) const;

    // Whether links are found and drawn. On by default. Switching highlights
    // the whole document again, laying it out once per paragraph: switch on
    // a short text.
    void setDetectsLinks(bool detects);
    bool detectsLinks() const { return m_detectsLinks; }

    // Hands safe links to the desktop; a test puts a recorder here.
    void setLinkOpener(LinkOpener opener) { m_opener = std::move(opener); }

    static QList<LinkDetector::Link> linksOfBlock(const QTextBlock& block);

    // The document's text as the note stores it. Unlike toPlainText(), which
    // turns them into spaces and line feeds, no-break spaces and line
    // separators stay as they are.
    static QString exactText(const QTextDocument* document);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void updateCursor(const QPoint& viewportPosition);

    QSyntaxHighlighter* m_highlighter; // owned by the document
    LinkOpener m_opener;
    bool m_detectsLinks = true;
    QUrl m_pressedLink;
    QPoint m_pressPosition;
};
