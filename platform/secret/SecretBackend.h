#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>

namespace platform {

// What a secret is for; part of its identity, so the password and the login
// code of one account are two items.
enum class SecretKind
{
    Password,
    Code
};

// Status of a secret call: 0 for success, SecretNotFound when no item matched,
// anything else is the backend's error code.
constexpr int SecretNotFound = -25300;

// The user's secret store. Items are identified by (server, account, kind);
// storing again replaces the item in place. All calls are synchronous and may
// come from any thread.
class SecretBackend
{
public:
    virtual ~SecretBackend();

    // False, with a reason, when no secret store can be reached.
    virtual bool isAvailable(QString* reason = nullptr) = 0;
    virtual int store(const QString& server, const QString& account, SecretKind kind,
                      const QString& secret) = 0;
    // The secret of the item of that server and account, of either kind.
    virtual std::optional<QString> lookup(const QString& server, const QString& account, int* status) = 0;
    virtual int remove(const QString& server, const QString& account) = 0;
    // Accounts of the items of one kind on a server, in no particular order.
    virtual QStringList accounts(const QString& server, SecretKind kind, int* status) = 0;

    // The backend in use: the Secret Service unless a test installed another.
    static SecretBackend& current();
    // Not owned; nullptr restores the Secret Service.
    static void setCurrentForTesting(SecretBackend* backend);
};

// The Secret Service (gnome-keyring, KWallet) over libsecret, in the default
// collection. The Secret Service has no per-application access control: any
// program of the user's session may read these items.
class LibsecretBackend : public SecretBackend
{
public:
    bool isAvailable(QString* reason = nullptr) override;
    int store(const QString& server, const QString& account, SecretKind kind, const QString& secret) override;
    std::optional<QString> lookup(const QString& server, const QString& account, int* status) override;
    int remove(const QString& server, const QString& account) override;
    QStringList accounts(const QString& server, SecretKind kind, int* status) override;
};

// Secrets in memory only, for tests and for a session without a keyring.
class MemorySecretBackend : public SecretBackend
{
public:
    bool isAvailable(QString* reason = nullptr) override;
    int store(const QString& server, const QString& account, SecretKind kind, const QString& secret) override;
    std::optional<QString> lookup(const QString& server, const QString& account, int* status) override;
    int remove(const QString& server, const QString& account) override;
    QStringList accounts(const QString& server, SecretKind kind, int* status) override;

    // Makes every call fail with `status` (0 for normal service).
    void setFailure(int status);
    size_t itemCount() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::tuple<QString, QString, SecretKind>, QString> m_items;
    int m_failure = 0;
};

} // namespace platform
