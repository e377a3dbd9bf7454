#pragma once

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QObject;

namespace platform {

struct Notification
{
    QString name;
    const void* sender = nullptr;
    QVariantMap userInfo;
};

class NotificationCenter;

// Removes its observer when destroyed or reset. Movable, not copyable.
class [[nodiscard]] ObserverToken
{
public:
    ObserverToken() = default;
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;
    ~ObserverToken();

    void reset();
    bool isActive() const { return m_center != nullptr; }

private:
    friend class NotificationCenter;
    ObserverToken(NotificationCenter* center, quint64 id) : m_center(center), m_id(id) {}
    NotificationCenter* m_center = nullptr;
    quint64 m_id = 0;
};

// Delivers notifications to the observers registered when the post began:
// synchronously on the posting thread, or on a receiver's thread for an
// observer added with one. Registration is thread-safe; an observer removed
// during a post is not called afterwards.
class NotificationCenter
{
public:
    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    static NotificationCenter& defaultCenter();

    void post(const QString& name, const void* sender = nullptr, const QVariantMap& userInfo = {});

    // An empty `name` observes every notification; a null `sender` observes
    // every sender.
    [[nodiscard]] ObserverToken addObserver(const QString& name, const void* sender,
                                            std::function<void(const Notification&)> callback);

    // As above, but `callback` runs on `receiver`'s thread: at once when the
    // post comes from that thread, otherwise queued to its event loop (which
    // must run). It is never called once `receiver` is destroyed or the token
    // is reset, even when a post from another thread was already queued. A
    // null `receiver` means the posting thread.
    [[nodiscard]] ObserverToken addObserver(const QString& name, const void* sender, QObject* receiver,
                                            std::function<void(const Notification&)> callback);

private:
    friend class ObserverToken;
    struct Entry;
    void removeObserver(quint64 id);

    std::mutex m_mutex;
    std::vector<std::shared_ptr<Entry>> m_entries;
    quint64 m_nextId = 1;
};

} // namespace platform
