// The editor: loading the selected note, putting text in without marking it
// as typed, and the text's attributes.
#include "app/QuillaryAppDelegate.h"
#include "app/list/NoteListModel.h"
#include "app/search/QVRSearchField.h"
#include "app/window/NSColorAdditions.h"
#include "app/window/NoteWindow.h"

#include "platform/core/Variant.h"
#include "platform/ui/UndoManager.h"
#include "store/Note.h"
#include "store/QVRUtilities.h"

#include <QLocale>
#include <QTextBlock>
#include <QTextCursor>

#include <cmath>

namespace {

// The link bit of the "Text Checking Types" setting.
constexpr qint64 LinkCheckingType = 0x20;

// Right-to-left when letters of right-to-left scripts outnumber the others
// in the text's first 500 characters.
bool guessRightToLeft(const QString& text)
{
    int rightToLeft = 0;
    int leftToRight = 0;
    const QStringView prefix = QStringView(text).left(500);
    for (QChar c : prefix) {
        switch (c.direction()) {
        case QChar::DirR:
        case QChar::DirAL:
            ++rightToLeft;
            break;
        case QChar::DirL:
            ++leftToRight;
            break;
        default:
            break;
        }
    }
    return rightToLeft > leftToRight;
}

// Every line of the text ends in CR LF, as text written on Windows does.
bool usesCrLfLineEndings(const QString& text)
{
    const qsizetype pairs = text.count(QStringLiteral("\r\n"));
    return pairs > 0 && text.count(QLatin1Char('\n')) == pairs;
}

} // namespace

QString QuillaryAppDelegate::editorText() const
{
    QVRLinkTextView* editor = textView();
    return editor ? editor->exactText() : QString();
}

Qt::Alignment QuillaryAppDelegate::naturalTextAligmentForString(const QString& text)
{
    bool rightToLeft;
    if (!QVRUtilities::hasValue(text))
        rightToLeft = QLocale(QLocale::system().uiLanguages().value(0)).textDirection() == Qt::RightToLeft;
    else
        rightToLeft = guessRightToLeft(text);
    return (rightToLeft ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute;
}

void QuillaryAppDelegate::resetTextViewAttributes()
{
    // The attributes are given to the text as it goes in, never paragraph by
    // paragraph afterwards: that pass took seconds on a note of a few MB.
    if (textView())
        insertText(editorText(), true);
}

void QuillaryAppDelegate::prepareEmptyTextView(const QString& text)
{
    QVRLinkTextView* editor = textView();
    QTextDocument* document = editor->document();
    m_naturalTextAlignment = naturalTextAligmentForString(text);

    const QFont font = NoteWindow::noteFont(m_textSize);
    document->setDefaultFont(font);
    editor->setTabStopDistance(std::round((m_textSize - 11) * 3.0 + 37.0));
    // The view lays paragraphs out with the document's options.
    QTextOption options = document->defaultTextOption();
    if (options.alignment() != m_naturalTextAlignment) {
        options.setAlignment(m_naturalTextAlignment);
        document->setDefaultTextOption(options);
    }

    QTextCharFormat characters;
    characters.setFont(font);
    characters.setForeground(NSColorAdditions::darkerNoteTextColor());
    QTextBlockFormat paragraph;
    paragraph.setLineHeight(115, QTextBlockFormat::ProportionalHeight);
    paragraph.setAlignment(m_naturalTextAlignment);
    // Every paragraph inserted after this one, loaded or typed, takes its
    // formats over from it.
    QTextCursor first(document);
    first.setBlockFormat(paragraph);
    first.setBlockCharFormat(characters);
    first.setCharFormat(characters);
    editor->setCurrentCharFormat(characters);
}

void QuillaryAppDelegate::insertText(const QString& text, bool preserveInsertion)
{
    QVRLinkTextView* editor = textView();
    if (!editor)
        return;
    const auto notTyping = m_session->ignoreTextChanges();
    const int location = preserveInsertion ? editor->textCursor().selectionStart() : -1;
    // Of the detectors the settings may enable, links are the one found here;
    // they are drawn, never written into the text.
    const bool detectsLinks = m_textCheckingTypes & LinkCheckingType;
    editor->clear();
    editor->setDetectsLinks(detectsLinks);
    // A note whose lines all end in CR LF gets them back, and new lines get
    // them too, so that editing one word does not rewrite every line ending.
    editor->setLineEnding(usesCrLfLineEndings(text) ? QStringLiteral("\r\n") : QStringLiteral("\n"));

    // Attributes and loading are not edits: they stay out of the undo history.
    QTextDocument* document = editor->document();
    const bool undo = document->isUndoRedoEnabled();
    document->setUndoRedoEnabled(false);
    prepareEmptyTextView(text);
    // One edit: the layout hears of the whole text once, not of each of its
    // paragraphs.
    QTextCursor end(document);
    editor->insertExactText(end, text);
    document->setUndoRedoEnabled(undo);
    document->setModified(false);

    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(location >= 0 && location <= document->characterCount() - 1 ? location : 0);
    editor->setTextCursor(cursor);
}

bool QuillaryAppDelegate::updateDetailView()
{
    if (m_window)
        m_window->moreButton()->setVisible(selectedNote() != nullptr);
    return m_session->loadSelectedNote();
}

void QuillaryAppDelegate::newNoteWithoutSaving()
{
    // Selects no row and no note, and empties the editor.
    m_session->startNewNote();
    activateDetailAndFocus(false, true);
}

void QuillaryAppDelegate::showEditorDisabled()
{
    QVRLinkTextView* editor = textView();
    if (!editor)
        return;
    // Recolouring is not typing: the note is not marked unsaved for it and
    // the undo history does not grow.
    const auto notTyping = m_session->ignoreTextChanges();
    QTextDocument* document = editor->document();
    const bool undo = document->isUndoRedoEnabled();
    document->setUndoRedoEnabled(false);
    QTextCharFormat colour;
    colour.setForeground(NSColorAdditions::archivedNoteTextColor());
    QTextCursor all(document);
    all.select(QTextCursor::Document);
    all.mergeCharFormat(colour);
    document->setUndoRedoEnabled(undo);
    if (searchField())
        searchField()->setEnabled(false);
}
