#pragma once

#include "app/editor/LinkDetector.h"

#include <QPlainTextEdit>
#include <QPoint>
#include <QTextBlock>
#include <QUrl>

#include <functional>

// A plain-text view whose web and e-mail addresses are drawn as links: the
// pointer becomes a hand over them and a click opens them in the desktop's
// browser or mail program. Links are display formats only; the document's
// text and its undo history never change for them.
//
// Only what is shown is laid out, paragraph by paragraph, so a paragraph is
// the unit of work for showing and for each keystroke. A very long paragraph
// is therefore held as several blocks of the document joined by separators
// that are no characters of the text: each block after such a join carries
// the separator that precedes it in the text (nothing for a join, or a line
// ending other than the note's usual one) as a property of its format.
// exactText() gives the text back exactly as it went in, and typing, pasting,
// deleting, copying and undo keep it so.
class QVRLinkTextView : public QPlainTextEdit
{
    Q_OBJECT

public:
    using LinkOpener = std::function<void(const QUrl&)>;

    // The block format property holding the separator before a block when it
    // is not the view's line ending: a QString, empty for a join.
    static constexpr int SeparatorProperty = QTextFormat::UserProperty + 0x51;
    // Paragraphs longer than this are held in pieces of at most ChunkLength
    // characters, broken after a space where one is near.
    static constexpr qsizetype LongParagraphLength = 8192;
    static constexpr qsizetype ChunkLength = 4096;
    // A text of more lines than this put into an empty view is held with
    // its lines grouped into blocks of about ChunkLength characters, each
    // usual line ending held as a line separator character, and a line
    // separator of the text as a block separator carrying it.
    static constexpr qsizetype GroupLinesAbove = 8192;

    explicit QVRLinkTextView(QWidget* parent = nullptr);

    // The link whose characters lie under a point of the viewport, or an
    // empty URL.
    QUrl urlForEvent(const QPoint& viewportPosition) const;

    // Whether links are found and drawn. On by default.
    void setDetectsLinks(bool detects);
    bool detectsLinks() const { return m_detectsLinks; }

    // Hands safe links to the desktop; a test puts a recorder here.
    void setLinkOpener(LinkOpener opener) { m_opener = std::move(opener); }

    // The links of one paragraph block, found now if they were not yet.
    QList<LinkDetector::Link> linksOfBlock(const QTextBlock& block);

    // The line ending of lines typed or pasted with a line feed, and of
    // every block that carries no separator of its own: "\n" or "\r\n".
    void setLineEnding(const QString& ending) { m_lineEnding = ending; }
    const QString& lineEnding() const { return m_lineEnding; }

    // Replaces the cursor's selection with `text`, as one edit: line endings
    // of every kind and long paragraphs are kept so that exactText() gives
    // `text` back where it went.
    void insertExactText(QTextCursor& cursor, QStringView text);

    // The document's text as the note stores it, whole or between two
    // positions of the document. Unlike toPlainText(), no-break spaces, line
    // separators and line endings stay as they are, and the joins of a long
    // paragraph are no characters.
    QString exactText() const;
    QString exactText(int from, int to) const;

    // The separator a block's text follows in the note (the first block's
    // is the empty string).
    QString separatorBefore(const QTextBlock& block) const;

    // Moves the selected text to a position of the document, as dragging it
    // there within the view does: one edit, the text kept exactly.
    void moveSelection(int position);

    // The standard menu, its Cut and Delete keeping the text's separators.
    QMenu* createContextMenu(const QPoint& position);
    bool groupsLines() const { return m_groupsLines; }

signals:
    // The text changed (typed, pasted, undone or put in), not only the way
    // links are drawn.
    void textEdited();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;
    void insertFromMimeData(const QMimeData* source) override;
    void dropEvent(QDropEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    void contentsDidChange(int from, int removed, int added);
    // Whether the document is empty with nothing to undo or redo: how it
    // holds lines may be chosen again.
    bool startsAnew() const;
    // Runs an edit that deletes from `from` on, as one step to undo, giving
    // the block where the deletion starts its own separator back.
    void keepSeparators(int from, const std::function<void()>& edit);
    void removeSelection();
    // Deletes between two positions of the document, as one edit.
    void removeRange(int from, int to);
    // Where deleting a word from `position` ends, and where its line ends,
    // as in the note's text: over the joins of a long paragraph, and not
    // over a line ending held inside a group of lines.
    int wordEdge(int position, bool forward) const;
    int lineEnd(int position) const;
    // Finds the block's links and gives them to its layout, unless that was
    // done since its text last changed.
    void highlightBlock(const QTextBlock& block);
    void updateCursor(const QPoint& viewportPosition);

    LinkOpener m_opener;
    QString m_lineEnding = QStringLiteral("\n");
    bool m_detectsLinks = true;
    bool m_groupsLines = false;
    bool m_formatting = false;  // link formats going in: no edit
    bool m_droppedHere = false; // a drag from the view ended in it
    QUrl m_pressedLink;
    QPoint m_pressPosition;
};
