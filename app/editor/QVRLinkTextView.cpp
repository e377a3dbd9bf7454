#include "app/editor/QVRLinkTextView.h"

#include "app/window/NSColorAdditions.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextLayout>

#include <algorithm>

namespace {

// The links found in one paragraph block since its text last changed.
class LinkBlockData : public QTextBlockUserData
{
public:
    explicit LinkBlockData(QList<LinkDetector::Link> links) : links(std::move(links)) {}
    QList<LinkDetector::Link> links;
};

// Characters the document turns into block separators, and line separators
// where the view groups lines.
bool isSeparator(QChar c, bool groupsLines)
{
    switch (c.unicode()) {
    case 0x2028:
        return groupsLines;
    case u'\n':
    case u'\r':
    case 0x2029: // paragraph separator
    case 0xfdd0: // the document's frame marks
    case 0xfdd1:
        return true;
    default:
        return false;
    }
}

// Where a piece of a long paragraph that starts at `from` ends, at `limit`
// at the latest: after the last space or tab in its second half, else at
// the limit moved back off the second half of a surrogate pair, a combining
// mark or a joiner, so that a character is not drawn in two halves.
qsizetype breakPoint(QStringView text, qsizetype from, qsizetype limit)
{
    for (qsizetype k = limit; k > from + (limit - from) / 2; --k) {
        if (text[k - 1] == u' ' || text[k - 1] == u'\t')
            return k;
    }
    qsizetype k = limit;
    const auto clings = [&](qsizetype at) {
        const QChar c = text[at];
        return c.isLowSurrogate() || c.isMark() || c == QChar(0x200d) || text[at - 1] == QChar(0x200d);
    };
    while (k > from + 1 && limit - k < 32 && clings(k))
        --k;
    // A surrogate pair is never parted.
    if (text[k].isLowSurrogate())
        k += k - 1 > from ? -1 : 1;
    return k;
}

// Whether a text holds a character that goes in as a block separator.
bool hasSeparator(QStringView text, bool groupsLines)
{
    return std::any_of(text.begin(), text.end(), [&](QChar c) { return isSeparator(c, groupsLines); });
}

// Whether a selection runs over a separator of blocks.
bool spansBlocks(const QTextCursor& cursor)
{
    const QTextDocument* document = cursor.document();
    return cursor.hasSelection() &&
           document->findBlock(cursor.selectionStart()) != document->findBlock(cursor.selectionEnd());
}

// Whether the editor's own key handling types the key's text.
bool typesText(const QKeyEvent* event, bool tabChangesFocus)
{
    const QString text = event->text();
    if (text.isEmpty())
        return false;
    const QChar c = text.at(0);
    if (c.category() == QChar::Other_Format)
        return true;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers == Qt::ControlModifier || modifiers == (Qt::ShiftModifier | Qt::ControlModifier))
        return false;
    if (c == u'\t')
        return !tabChangesFocus;
    return c.isPrint() || c.category() == QChar::Other_PrivateUse ||
           (c.isHighSurrogate() && text.size() > 1 && text.at(1).isLowSurrogate());
}

// The first block's separator is the start of the text; a block after a
// join carries an empty one.
bool followsJoin(const QTextBlock& block)
{
    if (!block.isValid() || !block.previous().isValid())
        return false;
    const QVariant separator = block.blockFormat().property(QVRLinkTextView::SeparatorProperty);
    return separator.isValid() && separator.toString().isEmpty();
}

// Lays out a paragraph when it is shown, as the plain-text layout does, with
// the line height its format asks for: the plain-text layout stacks lines
// at their natural height.
class NoteTextLayout : public QPlainTextDocumentLayout
{
public:
    using QPlainTextDocumentLayout::QPlainTextDocumentLayout;

    QRectF blockBoundingRect(const QTextBlock& block) const override
    {
        QTextLayout* layout = block.layout();
        if (!block.isValid() || !layout)
            return QRectF();
        if (layout->lineCount() == 0)
            QPlainTextDocumentLayout::blockBoundingRect(block);
        const QTextBlockFormat format = block.blockFormat();
        const qreal factor = format.lineHeightType() == QTextBlockFormat::ProportionalHeight
                                 ? format.lineHeight() / 100.0
                                 : 1.0;
        if (factor == 1.0 || layout->lineCount() == 0)
            return QPlainTextDocumentLayout::blockBoundingRect(block);
        // Each line's box grows by the extra height, below its text.
        qreal y = 0;
        qreal extra = 0;
        for (int i = 0; i < layout->lineCount(); ++i) {
            QTextLine line = layout->lineAt(i);
            if (line.position().y() != y)
                line.setPosition(QPointF(line.position().x(), y));
            extra = line.height() * (factor - 1.0);
            y += line.height() + extra;
        }
        QRectF rect = QPlainTextDocumentLayout::blockBoundingRect(block);
        if (block.isVisible())
            rect.setBottom(rect.bottom() + extra);
        return rect;
    }
};

// The view as assistive technology sees it. Qt's own interface for plain-text
// views places every paragraph's characters as if it were the first one.
class NoteTextAccessible : public QAccessibleWidget,
                           public QAccessibleTextInterface,
                           public QAccessibleEditableTextInterface
{
public:
    explicit NoteTextAccessible(QVRLinkTextView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::EditableTextInterface && !view()->isReadOnly())
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.multiLine = true;
        state.selectableText = true;
        state.editable = !view()->isReadOnly();
        state.readOnly = view()->isReadOnly();
        return state;
    }

    QString text(QAccessible::Text type) const override
    {
        return type == QAccessible::Value ? view()->toPlainText() : QAccessibleWidget::text(type);
    }

    // Text.
    void selection(int index, int* start, int* end) const override
    {
        const QTextCursor cursor = view()->textCursor();
        *start = index == 0 && cursor.hasSelection() ? cursor.selectionStart() : 0;
        *end = index == 0 && cursor.hasSelection() ? cursor.selectionEnd() : 0;
    }
    int selectionCount() const override { return view()->textCursor().hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override
    {
        QTextCursor cursor = view()->textCursor();
        cursor.clearSelection();
        view()->setTextCursor(cursor);
    }
    void setSelection(int, int start, int end) override
    {
        QTextCursor cursor(view()->document());
        cursor.setPosition(bounded(start));
        cursor.setPosition(bounded(end), QTextCursor::KeepAnchor);
        view()->setTextCursor(cursor);
    }
    int cursorPosition() const override { return view()->textCursor().position(); }
    void setCursorPosition(int position) override
    {
        QTextCursor cursor = view()->textCursor();
        cursor.setPosition(bounded(position));
        view()->setTextCursor(cursor);
    }
    QString text(int start, int end) const override
    {
        QTextCursor cursor(view()->document());
        cursor.setPosition(bounded(start));
        cursor.setPosition(bounded(end), QTextCursor::KeepAnchor);
        return cursor.selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    }
    int characterCount() const override { return view()->document()->characterCount() - 1; }
    QRect characterRect(int offset) const override
    {
        QTextCursor cursor(view()->document());
        cursor.setPosition(bounded(offset));
        const QRect caret = view()->cursorRect(cursor);
        const QString character = text(offset, offset + 1);
        const int width = QFontMetrics(cursor.charFormat().font()).horizontalAdvance(character);
        const QPoint origin = view()->viewport()->mapToGlobal(caret.topLeft());
        return QRect(origin, QSize(std::max(width, 1), caret.height()));
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint local = view()->viewport()->mapFromGlobal(point);
        return view()->viewport()->rect().contains(local) ? view()->cursorForPosition(local).position() : -1;
    }
    void scrollToSubstring(int start, int) override
    {
        setCursorPosition(start);
        view()->ensureCursorVisible();
    }
    QString attributes(int offset, int* start, int* end) const override
    {
        *start = *end = offset;
        return QString();
    }

    // Editable text.
    void deleteText(int start, int end) override { replaceText(start, end, QString()); }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int start, int end, const QString& text) override
    {
        setSelection(0, start, end);
        QTextCursor cursor = view()->textCursor();
        view()->insertExactText(cursor, text);
        view()->setTextCursor(cursor);
    }

private:
    QVRLinkTextView* view() const { return static_cast<QVRLinkTextView*>(object()); }
    int bounded(int position) const { return std::clamp(position, 0, characterCount()); }
};

QAccessibleInterface* accessibleTextView(const QString& className, QObject* object)
{
    auto* view = qobject_cast<QVRLinkTextView*>(object);
    return view && className == QLatin1String(object->metaObject()->className())
               ? new NoteTextAccessible(view)
               : nullptr;
}

} // namespace

QVRLinkTextView::QVRLinkTextView(QWidget* parent)
    : QPlainTextEdit(parent), m_opener([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
    static const bool accessible = (QAccessible::installFactory(accessibleTextView), true);
    Q_UNUSED(accessible);
    auto* text = new QTextDocument(this);
    text->setDocumentLayout(new NoteTextLayout(text));
    setDocument(text);
    viewport()->setMouseTracking(true);
    connect(document(), &QTextDocument::contentsChange, this, &QVRLinkTextView::contentsDidChange);
}

// --- The exact text -----------------------------------------------------------

QString QVRLinkTextView::separatorBefore(const QTextBlock& block) const
{
    if (!block.previous().isValid())
        return QString();
    const QVariant separator = block.blockFormat().property(SeparatorProperty);
    return separator.isValid() ? separator.toString() : m_lineEnding;
}

QString QVRLinkTextView::exactText() const
{
    return exactText(0, document()->characterCount() - 1);
}

QString QVRLinkTextView::exactText(int from, int to) const
{
    QString text;
    if (to <= from)
        return text;
    text.reserve(to - from);
    // Blocks mostly share one format: its separator is looked up once.
    int lastFormat = -1;
    QString separator;
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const int start = block.position();
        if (start > from) {
            if (block.blockFormatIndex() != lastFormat) {
                lastFormat = block.blockFormatIndex();
                separator = separatorBefore(block);
            }
            text += separator;
        }
        const QString blockText = block.text();
        const int a = std::max(from - start, 0);
        const int b = std::min(to - start, int(blockText.size()));
        if (b <= a)
            continue;
        if (!m_groupsLines) {
            text += QStringView(blockText).mid(a, b - a);
            continue;
        }
        // Line separators in a block are the usual line endings of its lines.
        QString lines = blockText.mid(a, b - a);
        text += lines.replace(QChar::LineSeparator, m_lineEnding);
    }
    return text;
}

bool QVRLinkTextView::startsAnew() const
{
    const QTextDocument* text = document();
    return text->isEmpty() && !text->isUndoAvailable() && !text->isRedoAvailable();
}

void QVRLinkTextView::insertExactText(QTextCursor& cursor, QStringView text)
{
    // A document that starts with many lines holds them in groups: each
    // block of the document costs far more to make than a character.
    if (startsAnew())
        m_groupsLines = text.count(QLatin1Char('\n')) > GroupLinesAbove;
    QTextBlockFormat usual = cursor.blockFormat();
    usual.clearProperty(SeparatorProperty);
    const QTextCharFormat characters = cursor.charFormat();
    cursor.beginEditBlock();
    if (cursor.hasSelection())
        keepSeparators(cursor.selectionStart(), [&] { cursor.removeSelectedText(); });
    // Runs of text whose line endings are the usual ones go in whole; the
    // document copies the current block's format to the blocks it makes for
    // them, so after a block with a separator of its own the next usual one
    // is given explicitly too.
    bool ownSeparator = cursor.blockFormat().hasProperty(SeparatorProperty);
    QString run;
    const auto flush = [&] {
        if (!run.isEmpty())
            cursor.insertText(run);
        run.clear();
    };
    const auto separate = [&](QStringView separator) {
        flush();
        QTextBlockFormat format = usual;
        ownSeparator = separator != m_lineEnding;
        if (ownSeparator)
            format.setProperty(SeparatorProperty, separator.toString());
        cursor.insertBlock(format, characters);
    };

    // The text already in the block around the insertion point counts
    // towards its length.
    qsizetype before = cursor.positionInBlock();
    qsizetype inBlock = cursor.block().length() - 1;
    // A usual line ending waits for the line after it: it joins that line
    // to the group when both fit, else it ends the block.
    bool lineEnding = false;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (true) {
        qsizetype j = i;
        while (j < n && !isSeparator(text[j], m_groupsLines))
            ++j;
        if (std::exchange(lineEnding, false)) {
            if (m_groupsLines && inBlock + 1 + (j - i) <= ChunkLength) {
                run += QChar::LineSeparator;
                ++inBlock;
            } else {
                if (ownSeparator)
                    separate(m_lineEnding);
                else
                    run += QLatin1Char('\n');
                inBlock = 0;
            }
            before = inBlock;
        }
        qsizetype piece = i;
        if (inBlock + (j - i) > LongParagraphLength) {
            qsizetype room = ChunkLength - before;
            while (j - piece > room) {
                const qsizetype cut = room > 0 ? breakPoint(text, piece, piece + room) : piece;
                run += text.mid(piece, cut - piece);
                separate(QStringView());
                piece = cut;
                room = ChunkLength;
            }
            inBlock = 0;
        }
        run += text.mid(piece, j - piece);
        inBlock += j - piece;
        if (j >= n)
            break;
        const qsizetype length = text[j] == u'\r' && j + 1 < n && text[j + 1] == u'\n' ? 2 : 1;
        const QStringView separator = text.mid(j, length);
        if (separator == m_lineEnding) {
            lineEnding = true;
        } else {
            separate(separator);
            inBlock = before = 0;
        }
        i = j + length;
    }
    flush();
    cursor.endEditBlock();
}

QMimeData* QVRLinkTextView::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    auto* data = new QMimeData;
    data->setText(exactText(cursor.selectionStart(), cursor.selectionEnd()));
    return data;
}

void QVRLinkTextView::insertFromMimeData(const QMimeData* source)
{
    if (isReadOnly() || !source || !source->hasText())
        return;
    QTextCursor cursor = textCursor();
    insertExactText(cursor, source->text());
    setTextCursor(cursor);
    ensureCursorVisible();
}

void QVRLinkTextView::moveSelection(int position)
{
    QTextCursor selection = textCursor();
    const int from = selection.selectionStart();
    const int to = selection.selectionEnd();
    if (isReadOnly() || !selection.hasSelection() || (position >= from && position <= to))
        return;
    const QString moved = exactText(from, to);
    // The insertion point follows the text as the selection goes.
    QTextCursor insertion(document());
    insertion.setPosition(std::clamp(position, 0, document()->characterCount() - 1));
    QTextCursor group(document());
    group.beginEditBlock();
    keepSeparators(from, [&] { selection.removeSelectedText(); });
    insertExactText(insertion, moved);
    group.endEditBlock();
    setTextCursor(insertion);
    ensureCursorVisible();
}

void QVRLinkTextView::dropEvent(QDropEvent* event)
{
    // Text dragged within the view is moved here: the editor's own move
    // deletes it without giving the separators back. Copies and text from
    // elsewhere go in through insertFromMimeData().
    const bool fromHere = event->source() == viewport() || event->source() == this;
    m_droppedHere = fromHere;
    if (!fromHere || isReadOnly() || event->dropAction() != Qt::MoveAction || !event->mimeData()->hasText()) {
        QPlainTextEdit::dropEvent(event);
        return;
    }
    // The drop caret goes away as when the drag leaves.
    QDragLeaveEvent leave;
    QPlainTextEdit::dragLeaveEvent(&leave);
    moveSelection(cursorForPosition(event->position().toPoint()).position());
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void QVRLinkTextView::inputMethodEvent(QInputMethodEvent* event)
{
    if (isReadOnly()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QTextCursor cursor = textCursor();
    // What the input method commits replaces the selection, or else the
    // range it names around the caret.
    if (!cursor.hasSelection() && event->replacementLength() > 0) {
        const int last = document()->characterCount() - 1;
        const int start = std::clamp(cursor.position() + event->replacementStart(), 0, last);
        cursor.setPosition(start);
        cursor.setPosition(std::clamp(start + event->replacementLength(), 0, last), QTextCursor::KeepAnchor);
    }
    const bool commits = !event->commitString().isEmpty() || event->replacementLength() > 0;
    if (commits && (spansBlocks(cursor) || hasSeparator(event->commitString(), m_groupsLines))) {
        insertExactText(cursor, event->commitString());
        setTextCursor(cursor);
        // What is still being composed follows the committed text.
        QInputMethodEvent rest(event->preeditString(), event->attributes());
        QPlainTextEdit::inputMethodEvent(&rest);
        event->accept();
        return;
    }
    // Composing over a selection of several blocks starts by deleting it.
    if (!event->preeditString().isEmpty() && spansBlocks(textCursor()))
        removeSelection();
    QPlainTextEdit::inputMethodEvent(event);
}

int QVRLinkTextView::wordEdge(int position, bool forward) const
{
    // The text of the blocks around the position that are joins of one
    // paragraph, as many as the word needs, twice as many each time.
    QTextBlock first = document()->findBlock(position);
    QTextBlock last = first;
    QList<QTextBlock> pieces = {first};
    QString text = first.text();
    int at = position - first.position();
    int edge = at;
    while (true) {
        QTextLayout layout(text);
        edge = forward ? layout.nextCursorPosition(at, QTextLayout::SkipWords)
                       : layout.previousCursorPosition(at, QTextLayout::SkipWords);
        const bool atWindowEdge = forward ? edge == text.size() : edge == 0;
        bool grown = false;
        for (qsizetype n = pieces.size(); atWindowEdge && n > 0; --n) {
            if (!forward && followsJoin(first)) {
                first = first.previous();
                pieces.prepend(first);
                text.prepend(first.text());
                at += first.length() - 1;
                grown = true;
            } else if (forward && followsJoin(last.next())) {
                last = last.next();
                pieces.append(last);
                text += last.text();
                grown = true;
            } else {
                break;
            }
        }
        if (!grown)
            break;
    }
    // A line ending held in a group ends the word, or is the deleted word.
    if (m_groupsLines) {
        if (forward) {
            const qsizetype line = text.indexOf(QChar::LineSeparator, at);
            if (line == at)
                edge = at + 1;
            else if (line >= 0)
                edge = std::min(edge, int(line));
        } else if (at > 0) {
            const qsizetype line = text.lastIndexOf(QChar::LineSeparator, at - 1);
            if (line == at - 1)
                edge = at - 1;
            else if (line >= 0)
                edge = std::max(edge, int(line) + 1);
        }
    }
    // At a line's start or end, the line ending goes.
    if (edge == at) {
        const int end = document()->characterCount() - 1;
        return forward ? std::min(last.position() + last.length(), end) : std::max(first.position() - 1, 0);
    }
    for (const QTextBlock& piece : pieces) {
        if (edge <= piece.length() - 1)
            return piece.position() + edge;
        edge -= piece.length() - 1;
    }
    return last.position() + last.length() - 1;
}

int QVRLinkTextView::lineEnd(int position) const
{
    QTextBlock block = document()->findBlock(position);
    int from = position - block.position();
    while (true) {
        if (m_groupsLines) {
            const qsizetype line = block.text().indexOf(QChar::LineSeparator, from);
            if (line >= 0)
                return block.position() + int(line);
        }
        if (!followsJoin(block.next()))
            return block.position() + block.length() - 1;
        block = block.next();
        from = 0;
    }
}

void QVRLinkTextView::removeRange(int from, int to)
{
    if (from > to)
        std::swap(from, to);
    if (from == to)
        return;
    QTextCursor cursor(document());
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    keepSeparators(from, [&] { cursor.removeSelectedText(); });
    setTextCursor(cursor);
    ensureCursorVisible();
}

void QVRLinkTextView::keyPressEvent(QKeyEvent* event)
{
    if (isReadOnly()) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    QTextCursor cursor = textCursor();
    // A new paragraph ends in the usual line ending, whatever separator the
    // paragraph it was split from carries. Where lines are grouped, a line
    // separator typed is one of the text's separators too.
    const bool lineSeparator = m_groupsLines && event->matches(QKeySequence::InsertLineSeparator);
    if (event->matches(QKeySequence::InsertParagraphSeparator) || lineSeparator) {
        keepSeparators(cursor.selectionStart(), [&] {
            QTextBlockFormat format = cursor.blockFormat();
            format.clearProperty(SeparatorProperty);
            if (lineSeparator)
                format.setProperty(SeparatorProperty, QString(QChar::LineSeparator));
            cursor.insertBlock(format, cursor.charFormat());
        });
        setTextCursor(cursor);
        ensureCursorVisible();
        event->accept();
        return;
    }
    // Typed text that replaces several blocks, or holds separators, goes
    // in as one edit.
    if (typesText(event, tabChangesFocus()) &&
        (spansBlocks(cursor) || hasSeparator(event->text(), m_groupsLines))) {
        insertExactText(cursor, event->text());
        setTextCursor(cursor);
        ensureCursorVisible();
        event->accept();
        return;
    }
    const bool wordBack = event->matches(QKeySequence::DeleteStartOfWord);
    const bool wordForward = event->matches(QKeySequence::DeleteEndOfWord);
    const bool toLineEnd = event->matches(QKeySequence::DeleteEndOfLine);
    if (toLineEnd || (!cursor.hasSelection() && (wordBack || wordForward))) {
        // The line's end is that of the whole line, and a selection runs to
        // it.
        const int position = cursor.position();
        removeRange(cursor.anchor(), toLineEnd ? lineEnd(position) : wordEdge(position, wordForward));
        event->accept();
        return;
    }
    const bool backwards = event->key() == Qt::Key_Backspace &&
                           !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier));
    const bool erase = backwards || event->matches(QKeySequence::Delete);
    if (!cursor.hasSelection() && erase) {
        // A join is no character: deleting next to one deletes the character
        // beyond it.
        if (backwards) {
            while (cursor.atBlockStart() && followsJoin(cursor.block()))
                cursor.setPosition(cursor.position() - 1);
        } else {
            while (cursor.atBlockEnd() && followsJoin(cursor.block().next()))
                cursor.setPosition(cursor.position() + 1);
        }
        // A separator is deleted here rather than by the editor (see
        // keepSeparators()).
        const bool separator = backwards ? cursor.atBlockStart() && cursor.position() > 0
                                         : cursor.atBlockEnd() && cursor.block().next().isValid();
        if (separator) {
            keepSeparators(backwards ? cursor.position() - 1 : cursor.position(), [&] {
                if (backwards)
                    cursor.deletePreviousChar();
                else
                    cursor.deleteChar();
            });
            event->accept();
        }
        setTextCursor(cursor);
        if (separator) {
            ensureCursorVisible();
            return;
        }
    } else if (spansBlocks(cursor)) {
        // So is a selection over separators that a key deletes.
        const bool cut = event->matches(QKeySequence::Cut);
        if (erase || cut || wordBack || wordForward) {
            if (cut)
                copy();
            removeSelection();
            event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

void QVRLinkTextView::keepSeparators(int from, const std::function<void()>& edit)
{
    // When a deletion starts at a block's start and takes its separator, the
    // document drops that block and keeps the format of the one after, and
    // with it that one's separator, where the text keeps the first one's.
    // Only the document's own cursors may edit here: the editor reads the
    // layout as it goes, which is not made again until the edit ends.
    const QTextBlock start = document()->findBlock(from);
    const int number = start.blockNumber();
    const QTextBlockFormat format = start.blockFormat();
    QTextCursor group(document());
    group.beginEditBlock();
    edit();
    const QTextBlock merged = document()->findBlockByNumber(number);
    if (merged.isValid() && merged.blockFormat() != format)
        QTextCursor(merged).setBlockFormat(format);
    group.endEditBlock();
}

void QVRLinkTextView::removeSelection()
{
    QTextCursor cursor = textCursor();
    keepSeparators(cursor.selectionStart(), [&] { cursor.removeSelectedText(); });
    setTextCursor(cursor);
}

QMenu* QVRLinkTextView::createContextMenu(const QPoint& position)
{
    QMenu* menu = createStandardContextMenu(position);
    for (QAction* action : menu->actions()) {
        const QString name = action->objectName();
        if (name != QLatin1String("edit-cut") && name != QLatin1String("edit-delete"))
            continue;
        disconnect(action, &QAction::triggered, nullptr, nullptr);
        connect(action, &QAction::triggered, this, [this, cut = name == QLatin1String("edit-cut")] {
            if (cut)
                copy();
            removeSelection();
        });
    }
    return menu;
}

// --- Links ----------------------------------------------------------------------

void QVRLinkTextView::contentsDidChange(int from, int removed, int added)
{
    if (m_formatting || (removed == 0 && added == 0))
        return;
    // An emptied document holds the next text as it comes, unless undo or
    // redo may give back blocks held the way they were.
    if (startsAnew())
        m_groupsLines = false;
    // The changed blocks are found again now, as far as a budget goes: a
    // keystroke touches one. The rest (a whole note put in) wait until they
    // are shown.
    qsizetype budget = 4 * ChunkLength;
    const int end = from + added;
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= end;
         block = block.next()) {
        if (block.userData())
            block.setUserData(nullptr);
        if (budget > 0 && m_detectsLinks) {
            budget -= block.length();
            highlightBlock(block);
        }
    }
    emit textEdited();
}

void QVRLinkTextView::highlightBlock(const QTextBlock& block)
{
    if (!block.isValid() || block.userData())
        return;
    QList<LinkDetector::Link> links;
    if (m_detectsLinks)
        links = LinkDetector::linksInText(block.text());
    QList<QTextLayout::FormatRange> ranges;
    if (!links.isEmpty()) {
        QTextCharFormat format;
        format.setForeground(NSColorAdditions::linkedNoteTextColor());
        format.setFontUnderline(false);
        for (const LinkDetector::Link& link : links)
            ranges.append({int(link.start), int(link.length), format});
    }
    QTextLayout* layout = block.layout();
    if (layout->formats() != ranges) {
        // The layout is made again with the formats when next drawn.
        m_formatting = true;
        layout->setFormats(ranges);
        layout->clearLayout();
        m_formatting = false;
    }
    QTextBlock(block).setUserData(new LinkBlockData(std::move(links)));
}

void QVRLinkTextView::setDetectsLinks(bool detects)
{
    if (detects == m_detectsLinks)
        return;
    m_detectsLinks = detects;
    m_formatting = true;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        block.setUserData(nullptr);
        if (!block.layout()->formats().isEmpty()) {
            block.layout()->setFormats({});
            block.layout()->clearLayout();
        }
    }
    m_formatting = false;
    viewport()->update();
}

QList<LinkDetector::Link> QVRLinkTextView::linksOfBlock(const QTextBlock& block)
{
    highlightBlock(block);
    const auto* data = static_cast<const LinkBlockData*>(block.userData());
    return data ? data->links : QList<LinkDetector::Link>();
}

void QVRLinkTextView::paintEvent(QPaintEvent* event)
{
    // Links are found in what is shown, before it is laid out and drawn.
    if (m_detectsLinks) {
        const QPointF offset = contentOffset();
        const int height = viewport()->height();
        for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
            highlightBlock(block);
            if (blockBoundingGeometry(block).translated(offset).bottom() > height)
                break;
        }
    }
    QPlainTextEdit::paintEvent(event);
}

QUrl QVRLinkTextView::urlForEvent(const QPoint& viewportPosition) const
{
    const int position = cursorForPosition(viewportPosition).position();
    const QTextBlock block = document()->findBlock(position);
    const auto* data = static_cast<const LinkBlockData*>(block.userData());
    const QTextLayout* layout = block.layout();
    if (!data || data->links.isEmpty() || !layout)
        return QUrl();
    // The hit position lies between two characters: the one under the point
    // is whichever of its neighbours has the point inside its own box.
    const QPointF point(viewportPosition);
    const QPointF origin =
        blockBoundingGeometry(block).translated(contentOffset()).topLeft() + layout->position();
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
        for (const LinkDetector::Link& link : data->links) {
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
    QPlainTextEdit::mousePressEvent(event);
}

void QVRLinkTextView::mouseMoveEvent(QMouseEvent* event)
{
    // A drag may start here, and text moved out of the view is then deleted
    // by the editor, which leaves the block where the selection started
    // with the separator of the block where it ended: the separator is
    // given back in the same step to undo.
    const QTextCursor selection = textCursor();
    const bool mayMove = !isReadOnly() && (event->buttons() & Qt::LeftButton) && spansBlocks(selection);
    const QTextBlock start = document()->findBlock(selection.selectionStart());
    const int number = start.blockNumber();
    const QTextBlockFormat format = start.blockFormat();
    const int revision = document()->revision();
    m_droppedHere = false;
    QPlainTextEdit::mouseMoveEvent(event);
    if (mayMove && !m_droppedHere && document()->revision() != revision) {
        const QTextBlock merged = document()->findBlockByNumber(number);
        if (merged.isValid() && merged.blockFormat() != format) {
            QTextCursor cursor(merged);
            cursor.joinPreviousEditBlock();
            cursor.setBlockFormat(format);
            cursor.endEditBlock();
        }
    }
    updateCursor(event->position().toPoint());
}

void QVRLinkTextView::mouseReleaseEvent(QMouseEvent* event)
{
    QPlainTextEdit::mouseReleaseEvent(event);
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
