#include "platform/secret/SecretBackend.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<SecretBackend*> testBackend{nullptr};
}

SecretBackend::~SecretBackend() = default;

SecretBackend& SecretBackend::current()
{
    if (SecretBackend* backend = testBackend.load())
        return *backend;
    static LibsecretBackend libsecret;
    return libsecret;
}

void SecretBackend::setCurrentForTesting(SecretBackend* backend)
{
    testBackend.store(backend);
}

bool MemorySecretBackend::isAvailable(QString* reason)
{
    std::lock_guard lock(m_mutex);
    if (m_failure != 0 && reason)
        *reason = QStringLiteral("The secret store is not available.");
    return m_failure == 0;
}

int MemorySecretBackend::store(const QString& server, const QString& account, SecretKind kind,
                               const QString& secret)
{
    std::lock_guard lock(m_mutex);
    if (m_failure != 0)
        return m_failure;
    // One item per server and account, as in the keyring: the account of a
    // login code carries its own suffix.
    for (auto it = m_items.begin(); it != m_items.end();) {
        if (std::get<0>(it->first) == server && std::get<1>(it->first) == account &&
            std::get<2>(it->first) != kind)
            it = m_items.erase(it);
        else
            ++it;
    }
    m_items[{server, account, kind}] = secret;
    return 0;
}

std::optional<QString> MemorySecretBackend::lookup(const QString& server, const QString& account, int* status)
{
    std::lock_guard lock(m_mutex);
    if (m_failure != 0) {
        *status = m_failure;
        return std::nullopt;
    }
    for (const auto& [key, secret] : m_items) {
        if (std::get<0>(key) == server && std::get<1>(key) == account) {
            *status = 0;
            return secret;
        }
    }
    *status = SecretNotFound;
    return std::nullopt;
}

int MemorySecretBackend::remove(const QString& server, const QString& account)
{
    std::lock_guard lock(m_mutex);
    if (m_failure != 0)
        return m_failure;
    int status = SecretNotFound;
    for (auto it = m_items.begin(); it != m_items.end();) {
        if (std::get<0>(it->first) == server && std::get<1>(it->first) == account) {
            it = m_items.erase(it);
            status = 0;
        } else {
            ++it;
        }
    }
    return status;
}

QStringList MemorySecretBackend::accounts(const QString& server, SecretKind kind, int* status)
{
    std::lock_guard lock(m_mutex);
    QStringList result;
    if (m_failure != 0) {
        *status = m_failure;
        return result;
    }
    for (const auto& entry : m_items) {
        if (std::get<0>(entry.first) == server && std::get<2>(entry.first) == kind)
            result << std::get<1>(entry.first);
    }
    *status = 0;
    return result;
}

void MemorySecretBackend::setFailure(int status)
{
    std::lock_guard lock(m_mutex);
    m_failure = status;
}

size_t MemorySecretBackend::itemCount() const
{
    std::lock_guard lock(m_mutex);
    return m_items.size();
}

} // namespace platform
