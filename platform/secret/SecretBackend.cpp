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
    std::lock_guard lock(mutex_);
    if (failure_ != 0 && reason)
        *reason = QStringLiteral("The secret store is not available.");
    return failure_ == 0;
}

int MemorySecretBackend::store(const QString& server, const QString& account, SecretKind kind, const QString& secret)
{
    std::lock_guard lock(mutex_);
    if (failure_ != 0)
        return failure_;
    // One item per server and account, as in the keyring: the account of a
    // login code carries its own suffix.
    for (auto it = items_.begin(); it != items_.end();) {
        if (std::get<0>(it->first) == server && std::get<1>(it->first) == account && std::get<2>(it->first) != kind)
            it = items_.erase(it);
        else
            ++it;
    }
    items_[{server, account, kind}] = secret;
    return 0;
}

std::optional<QString> MemorySecretBackend::lookup(const QString& server, const QString& account, int* status)
{
    std::lock_guard lock(mutex_);
    if (failure_ != 0) {
        *status = failure_;
        return std::nullopt;
    }
    for (const auto& [key, secret] : items_) {
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
    std::lock_guard lock(mutex_);
    if (failure_ != 0)
        return failure_;
    int status = SecretNotFound;
    for (auto it = items_.begin(); it != items_.end();) {
        if (std::get<0>(it->first) == server && std::get<1>(it->first) == account) {
            it = items_.erase(it);
            status = 0;
        } else {
            ++it;
        }
    }
    return status;
}

QStringList MemorySecretBackend::accounts(const QString& server, SecretKind kind, int* status)
{
    std::lock_guard lock(mutex_);
    QStringList result;
    if (failure_ != 0) {
        *status = failure_;
        return result;
    }
    for (const auto& entry : items_) {
        if (std::get<0>(entry.first) == server && std::get<2>(entry.first) == kind)
            result << std::get<1>(entry.first);
    }
    *status = 0;
    return result;
}

void MemorySecretBackend::setFailure(int status)
{
    std::lock_guard lock(mutex_);
    failure_ = status;
}

size_t MemorySecretBackend::itemCount() const
{
    std::lock_guard lock(mutex_);
    return items_.size();
}

}  // namespace platform
