#include "platform/core/NotificationCenter.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <utility>

namespace platform {

namespace {

// The receiver of an observer delivered on a QObject's thread. `receiver` is
// cleared (under the mutex) when the object starts being destroyed and
// `active` when the observer is removed; a post hands a delivery to the
// receiver's event queue only while holding the mutex with both still set, so
// a queued delivery is either removed with the object's pending events or
// finds the state cleared when it runs.
struct ReceiverState
{
    std::mutex mutex;
    QObject* receiver = nullptr;
    bool active = true;
    QMetaObject::Connection destroyedConnection;

    bool live()
    {
        std::lock_guard lock(mutex);
        return receiver && active;
    }
};

} // namespace

struct NotificationCenter::Entry
{
    quint64 id;
    QString name;
    const void* sender;
    std::function<void(const Notification&)> callback;
    // Cleared on removal so a post that took its snapshot earlier skips it.
    std::atomic<bool> active{true};
    std::shared_ptr<ReceiverState> receiver; // null: delivered on the posting thread
};

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : m_center(std::exchange(other.m_center, nullptr)), m_id(std::exchange(other.m_id, 0))
{
}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept
{
    if (this != &other) {
        reset();
        m_center = std::exchange(other.m_center, nullptr);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

ObserverToken::~ObserverToken()
{
    reset();
}

void ObserverToken::reset()
{
    if (m_center)
        m_center->removeObserver(m_id);
    m_center = nullptr;
    m_id = 0;
}

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter()
{
    // Never destroyed: tokens held by other statics may outlive it otherwise.
    static auto* center = new NotificationCenter;
    return *center;
}

void NotificationCenter::post(const QString& name, const void* sender, const QVariantMap& userInfo)
{
    std::vector<std::shared_ptr<Entry>> snapshot;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& entry : m_entries) {
            if ((entry->name.isEmpty() || entry->name == name) && (!entry->sender || entry->sender == sender))
                snapshot.push_back(entry);
        }
    }
    const Notification notification{name, sender, userInfo};
    for (const auto& entry : snapshot) {
        if (entry->active.load())
            entry->callback(notification);
    }
}

ObserverToken NotificationCenter::addObserver(const QString& name, const void* sender,
                                              std::function<void(const Notification&)> callback)
{
    if (!callback)
        return {};
    std::lock_guard lock(m_mutex);
    auto entry = std::make_shared<Entry>();
    entry->id = m_nextId++;
    entry->name = name;
    entry->sender = sender;
    entry->callback = std::move(callback);
    m_entries.push_back(entry);
    return ObserverToken(this, entry->id);
}

ObserverToken NotificationCenter::addObserver(const QString& name, const void* sender, QObject* receiver,
                                              std::function<void(const Notification&)> callback)
{
    if (!receiver)
        return addObserver(name, sender, std::move(callback));
    if (!callback)
        return {};
    auto state = std::make_shared<ReceiverState>();
    state->receiver = receiver;
    // Direct: runs on the destroying thread at the start of ~QObject, before
    // the object's pending events are dropped.
    state->destroyedConnection = QObject::connect(receiver, &QObject::destroyed, [state] {
        std::lock_guard lock(state->mutex);
        state->receiver = nullptr;
    });
    auto shared = std::make_shared<const std::function<void(const Notification&)>>(std::move(callback));
    ObserverToken token = addObserver(name, sender, [state, shared](const Notification& notification) {
        std::unique_lock lock(state->mutex);
        if (!state->receiver || !state->active)
            return;
        if (state->receiver->thread() == QThread::currentThread()) {
            lock.unlock();
            (*shared)(notification);
            return;
        }
        QMetaObject::invokeMethod(
            state->receiver,
            [state, shared, notification] {
                if (state->live())
                    (*shared)(notification);
            },
            Qt::QueuedConnection);
    });
    std::lock_guard lock(m_mutex);
    for (const auto& entry : m_entries) {
        if (entry->id == token.m_id)
            entry->receiver = state;
    }
    return token;
}

void NotificationCenter::removeObserver(quint64 id)
{
    std::shared_ptr<ReceiverState> receiver;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if ((*it)->id == id) {
                (*it)->active.store(false);
                receiver = std::move((*it)->receiver);
                m_entries.erase(it);
                break;
            }
        }
    }
    if (receiver) {
        QMetaObject::Connection connection;
        {
            std::lock_guard lock(receiver->mutex);
            receiver->active = false;
            connection = receiver->destroyedConnection;
        }
        QObject::disconnect(connection);
    }
}

} // namespace platform
