#include "platform/core/NotificationCenter.h"

#include <atomic>
#include <utility>

namespace platform {

struct NotificationCenter::Entry {
    quint64 id;
    QString name;
    const void* sender;
    std::function<void(const Notification&)> callback;
    // Cleared on removal so a post that took its snapshot earlier skips it.
    std::atomic<bool> active{true};
};

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : m_center(std::exchange(other.m_center, nullptr)), m_id(std::exchange(other.m_id, 0)) {}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
    if (this != &other) {
        reset();
        m_center = std::exchange(other.m_center, nullptr);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

ObserverToken::~ObserverToken() { reset(); }

void ObserverToken::reset() {
    if (m_center)
        m_center->removeObserver(m_id);
    m_center = nullptr;
    m_id = 0;
}

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: tokens held by other statics may outlive it otherwise.
    static auto* center = new NotificationCenter;
    return *center;
}

void NotificationCenter::post(const QString& name, const void* sender, const QVariantMap& userInfo) {
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
                                              std::function<void(const Notification&)> callback) {
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

void NotificationCenter::removeObserver(quint64 id) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if ((*it)->id == id) {
            (*it)->active.store(false);
            m_entries.erase(it);
            return;
        }
    }
}

}  // namespace platform
