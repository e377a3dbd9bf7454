#include "platform/ui/UndoManager.h"

#include <QKeyEvent>
#include <QTextDocument>
#include <QWidget>

#include <algorithm>

namespace platform {

UndoManager::UndoManager(QObject* parent) : QObject(parent) {}

UndoManager::~UndoManager()
{
    for (const auto& connection : std::as_const(m_watched))
        disconnect(connection);
}

void UndoManager::beginUndoGrouping()
{
    if (m_level == 0 && m_state == State::Normal)
        m_current = Group{};
    ++m_level;
}

void UndoManager::endUndoGrouping()
{
    Q_ASSERT_X(m_level > 0, "UndoManager::endUndoGrouping", "no open group");
    if (m_level == 0)
        return;
    if (--m_level > 0 || m_state != State::Normal)
        return;
    Group group = std::move(m_current);
    m_current = Group{};
    if (!group.actions.empty())
        push(std::move(group));
}

void UndoManager::registerUndo(QObject* target, std::function<void()> action)
{
    if (!target || !action)
        return;
    watchTarget(target);
    Action entry{target, target, std::move(action), false};
    if (m_state != State::Normal) {
        // The action's own undo (while undoing) or redo (while redoing).
        m_current.actions.push_back(std::move(entry));
        return;
    }
    m_redo.clear();
    if (m_level > 0) {
        m_current.actions.push_back(std::move(entry));
        breakTyping(nullptr);
        emit changed();
        return;
    }
    Group group;
    group.actions.push_back(std::move(entry));
    push(std::move(group));
}

void UndoManager::setActionName(const QString& name)
{
    if (m_state != State::Normal || m_level > 0)
        m_current.name = name;
    else if (!m_undo.empty())
        m_undo.back().name = name;
    else
        return;
    emit changed();
}

void UndoManager::push(Group group)
{
    const bool typing = group.actions.size() == 1 && group.actions.front().documentProxy;
    const QObject* own = typing ? group.actions.front().key : nullptr;
    m_undo.push_back(std::move(group));
    breakTyping(own);
    emit changed();
}

void UndoManager::removeTarget(std::vector<Group>& stack, QObject* key)
{
    for (Group& group : stack) {
        auto& actions = group.actions;
        actions.erase(
            std::remove_if(actions.begin(), actions.end(), [key](const Action& a) { return a.key == key; }),
            actions.end());
    }
    stack.erase(std::remove_if(stack.begin(), stack.end(), [](const Group& g) { return g.actions.empty(); }),
                stack.end());
}

void UndoManager::removeAllActionsWithTarget(QObject* target)
{
    if (!target)
        return;
    removeTarget(m_undo, target);
    removeTarget(m_redo, target);
    auto& actions = m_current.actions;
    actions.erase(
        std::remove_if(actions.begin(), actions.end(), [target](const Action& a) { return a.key == target; }),
        actions.end());
    if (auto it = m_documents.constFind(target); it != m_documents.constEnd()) {
        // The document's own stacks must go too: a later proxy would otherwise
        // undo typing whose undo action was just removed.
        it->document->clearUndoRedoStacks();
    }
    emit changed();
}

void UndoManager::removeAllActions()
{
    m_undo.clear();
    m_redo.clear();
    m_current.actions.clear();
    for (const Document& entry : std::as_const(m_documents))
        entry.document->clearUndoRedoStacks();
    emit changed();
}

bool UndoManager::canUndo() const
{
    return !m_undo.empty();
}

bool UndoManager::canRedo() const
{
    return !m_redo.empty();
}

void UndoManager::undo()
{
    if (m_state != State::Normal)
        return;
    if (m_level == 1)
        endUndoGrouping();
    if (m_level > 0)
        return;
    for (const Document& entry : std::as_const(m_documents))
        syncDocument(entry.document);
    if (m_undo.empty())
        return;
    Group group = std::move(m_undo.back());
    m_undo.pop_back();
    m_state = State::Undoing;
    m_current = Group{{}, group.name};
    for (auto it = group.actions.rbegin(); it != group.actions.rend(); ++it) {
        if (it->target)
            it->run();
    }
    m_state = State::Normal;
    Group captured = std::move(m_current);
    m_current = Group{};
    if (!captured.actions.empty())
        m_redo.push_back(std::move(captured));
    breakTyping(nullptr);
    emit changed();
}

void UndoManager::redo()
{
    if (m_state != State::Normal || m_level > 0)
        return;
    for (const Document& entry : std::as_const(m_documents))
        syncDocument(entry.document);
    if (m_redo.empty())
        return;
    Group group = std::move(m_redo.back());
    m_redo.pop_back();
    m_state = State::Redoing;
    m_current = Group{{}, group.name};
    for (auto it = group.actions.rbegin(); it != group.actions.rend(); ++it) {
        if (it->target)
            it->run();
    }
    m_state = State::Normal;
    Group captured = std::move(m_current);
    m_current = Group{};
    if (!captured.actions.empty())
        m_undo.push_back(std::move(captured));
    breakTyping(nullptr);
    emit changed();
}

QString UndoManager::undoActionName() const
{
    return m_undo.empty() ? QString() : m_undo.back().name;
}

QString UndoManager::redoActionName() const
{
    return m_redo.empty() ? QString() : m_redo.back().name;
}

QString UndoManager::undoMenuItemTitle() const
{
    const QString name = undoActionName();
    return name.isEmpty() ? tr("Undo") : tr("Undo %1").arg(name);
}

QString UndoManager::redoMenuItemTitle() const
{
    const QString name = redoActionName();
    return name.isEmpty() ? tr("Redo") : tr("Redo %1").arg(name);
}

void UndoManager::watchTarget(QObject* target)
{
    if (m_watched.contains(target))
        return;
    m_watched.insert(target, connect(target, &QObject::destroyed, this, [this, target] {
                         // The object is half gone: only its address may be used.
                         m_watched.remove(target);
                         m_documents.remove(target);
                         removeTarget(m_undo, target);
                         removeTarget(m_redo, target);
                         auto& actions = m_current.actions;
                         actions.erase(std::remove_if(actions.begin(), actions.end(),
                                                      [target](const Action& a) { return a.key == target; }),
                                       actions.end());
                         emit changed();
                     }));
}

void UndoManager::attachDocument(QTextDocument* document, const QString& actionName)
{
    if (!document || m_documents.contains(document))
        return;
    m_documents.insert(document, Document{document, actionName.isEmpty() ? tr("Typing") : actionName});
    watchTarget(document);
    connect(document, &QTextDocument::undoCommandAdded, this,
            [this, document] { documentCommandAdded(document); });
    // The document drops its history on its own (setPlainText, setHtml):
    // proxies for steps it no longer has must go with them.
    connect(document, &QTextDocument::undoAvailable, this, [this, document] { syncDocument(document); });
    connect(document, &QTextDocument::redoAvailable, this, [this, document] { syncDocument(document); });
}

void UndoManager::detachDocument(QTextDocument* document)
{
    if (!document || !m_documents.contains(document))
        return;
    disconnect(document, nullptr, this, nullptr);
    m_watched.remove(document);
    removeTarget(m_undo, document);
    removeTarget(m_redo, document);
    m_documents.remove(document);
    emit changed();
}

void UndoManager::routeUndoKeys(QWidget* editor)
{
    if (editor)
        editor->installEventFilter(this);
}

bool UndoManager::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const bool undoKey = key->matches(QKeySequence::Undo);
    const bool redoKey = key->matches(QKeySequence::Redo);
    if (!undoKey && !redoKey)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Claim the key, so it arrives here as a key press.
        event->accept();
        return true;
    }
    if (undoKey)
        undo();
    else
        redo();
    return true;
}

void UndoManager::documentCommandAdded(QTextDocument* document)
{
    if (m_state != State::Normal)
        return;
    registerDocumentStep(document, true);
}

void UndoManager::registerDocumentStep(QTextDocument* document, bool undoStep)
{
    QPointer<QTextDocument> guard(document);
    Action proxy;
    proxy.target = document;
    proxy.key = document;
    proxy.documentProxy = true;
    proxy.run = [this, guard, undoStep] {
        if (!guard)
            return;
        if (undoStep)
            guard->undo();
        else
            guard->redo();
        registerDocumentStep(guard, !undoStep);
    };
    if (m_state != State::Normal) {
        m_current.actions.push_back(std::move(proxy));
        return;
    }
    m_redo.clear();
    const QString name = m_documents.value(document).actionName;
    if (m_level > 0) {
        m_current.actions.push_back(std::move(proxy));
        if (m_current.name.isEmpty())
            m_current.name = name;
        emit changed();
        return;
    }
    Group group;
    group.name = name;
    group.actions.push_back(std::move(proxy));
    push(std::move(group));
}

int UndoManager::countProxies(const std::vector<Group>& stack, QObject* key)
{
    int count = 0;
    for (const Group& group : stack)
        count += int(std::count_if(group.actions.begin(), group.actions.end(),
                                   [key](const Action& a) { return a.documentProxy && a.key == key; }));
    return count;
}

void UndoManager::dropOldestProxies(std::vector<Group>& stack, QObject* key, int count)
{
    for (Group& group : stack) {
        auto& actions = group.actions;
        for (auto it = actions.begin(); it != actions.end() && count > 0;) {
            if (it->documentProxy && it->key == key) {
                it = actions.erase(it);
                --count;
            } else {
                ++it;
            }
        }
        if (count == 0)
            break;
    }
    stack.erase(std::remove_if(stack.begin(), stack.end(), [](const Group& g) { return g.actions.empty(); }),
                stack.end());
}

void UndoManager::syncDocument(QTextDocument* document)
{
    // The document's undo count is exact; its redo count is not (it lags after
    // an undo of merged typing), so the redo side only checks availability.
    bool dropped = false;
    const int undoProxies = countProxies(m_undo, document);
    const int undoExtra =
        document->isUndoAvailable() ? undoProxies - document->availableUndoSteps() : undoProxies;
    if (undoExtra > 0) {
        dropOldestProxies(m_undo, document, undoExtra);
        dropped = true;
    }
    const int redoProxies = countProxies(m_redo, document);
    if (redoProxies > 0 && !document->isRedoAvailable()) {
        dropOldestProxies(m_redo, document, redoProxies);
        dropped = true;
    }
    if (dropped)
        emit changed();
}

void UndoManager::breakTyping(const QObject* except)
{
    // The document merges a keystroke into its last command only while it is
    // modified; clearing the flag starts a new command with the next keystroke.
    for (const Document& entry : std::as_const(m_documents)) {
        if (entry.document != except && entry.document->isModified())
            entry.document->setModified(false);
    }
}

} // namespace platform
