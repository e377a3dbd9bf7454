#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

class QTextDocument;
class QWidget;

namespace platform {

// The window's undo manager: one ordered stack of undo groups shared by note
// actions (registered with registerUndo) and the editor's typing.
//
// A text document keeps its own undo stack, which merges keystrokes into one
// command. attachDocument() bridges it: every new command of the document
// pushes a proxy group aimed at the document whose undo and redo call the
// document's undo() and redo(). removeAllActionsWithTarget(document) drops the
// proxies and clears the document's stacks, so both stay in step.
//
// Groups: actions registered between beginUndoGrouping() and
// endUndoGrouping() undo together, in reverse order. An action registered
// outside a group is a group of its own. Actions registered while undoing go
// to the redo stack, and while redoing to the undo stack, so an undo action
// registers its own redo.
class UndoManager : public QObject
{
    Q_OBJECT
public:
    explicit UndoManager(QObject* parent = nullptr);
    ~UndoManager() override;

    void beginUndoGrouping();
    void endUndoGrouping();
    int groupingLevel() const { return m_level; }

    // Registers `action` to run on undo. The action is dropped when `target`
    // is destroyed or passed to removeAllActionsWithTarget().
    void registerUndo(QObject* target, std::function<void()> action);
    // Names the group being built (or, outside a group, the last registered
    // one): "Delete" makes the titles "Undo Delete" and "Redo Delete".
    void setActionName(const QString& name);

    void removeAllActionsWithTarget(QObject* target);
    void removeAllActions();

    bool canUndo() const;
    bool canRedo() const;
    void undo();
    void redo();
    bool isUndoing() const { return m_state == State::Undoing; }
    bool isRedoing() const { return m_state == State::Redoing; }

    QString undoActionName() const;
    QString redoActionName() const;
    // "Undo Delete", or plain "Undo" when the action has no name or nothing
    // can be undone; likewise for redo.
    QString undoMenuItemTitle() const;
    QString redoMenuItemTitle() const;

    // Bridges the typing undo of `document` into this stack; `actionName`
    // names its groups ("Typing" by default). The bridge uses the document's
    // modified flag as the boundary between typing commands, so that typing
    // after a note action never merges with typing before it.
    void attachDocument(QTextDocument* document, const QString& actionName = QString());
    void detachDocument(QTextDocument* document);
    // Sends the editor's undo and redo keys (Ctrl+Z, Ctrl+Shift+Z, Ctrl+Y) to
    // this manager. A text editor would otherwise undo its document directly,
    // past the note actions registered after the typing.
    void routeUndoKeys(QWidget* editor);

signals:
    // The stacks or the titles changed.
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class State
    {
        Normal,
        Undoing,
        Redoing
    };
    struct Action
    {
        QPointer<QObject> target;
        QObject* key = nullptr; // the target's address, kept for removal after destruction
        std::function<void()> run;
        bool documentProxy = false;
    };
    struct Group
    {
        std::vector<Action> actions;
        QString name;
    };

    void push(Group group);
    void watchTarget(QObject* target);
    void documentCommandAdded(QTextDocument* document);
    void registerDocumentStep(QTextDocument* document, bool undoStep);
    void syncDocument(QTextDocument* document);
    void breakTyping(const QObject* except);
    static void removeTarget(std::vector<Group>& stack, QObject* key);
    static int countProxies(const std::vector<Group>& stack, QObject* key);
    static void dropOldestProxies(std::vector<Group>& stack, QObject* key, int count);

    std::vector<Group> m_undo;
    std::vector<Group> m_redo;
    Group m_current; // the group being built (open grouping, or the capture while undoing/redoing)
    int m_level = 0;
    State m_state = State::Normal;
    QHash<QObject*, QMetaObject::Connection> m_watched;
    struct Document
    {
        QTextDocument* document = nullptr;
        QString actionName;
    };
    QHash<QObject*, Document> m_documents; // keyed by address, usable while the document is destroyed
};

} // namespace platform
