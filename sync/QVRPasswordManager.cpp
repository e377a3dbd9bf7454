#include "sync/QVRPasswordManager.h"

#include "platform/core/Log.h"
#include "platform/secret/SecretBackend.h"
#include "store/QVRUtilities.h"

#include <QThreadPool>

#include <algorithm>
#include <future>

using platform::SecretBackend;
using platform::SecretKind;

namespace {
const QString kCodeSuffix = QStringLiteral(" [quillary]");

bool present(const QString& s)
{
    return !s.isNull();
}

thread_local bool onKeyringThread = false;

// One thread, so that calls run in the order handed over. Never destroyed:
// work may still be handed over while the program exits.
QThreadPool& keyringThread()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(1);
        return p;
    }();
    return *pool;
}
} // namespace

void QVRPasswordManager::perform(std::function<void()> work)
{
    keyringThread().start([work = std::move(work)] {
        onKeyringThread = true;
        work();
        onKeyringThread = false;
    });
}

void QVRPasswordManager::performAndWait(const std::function<void()>& work)
{
    if (onKeyringThread) {
        work();
        return;
    }
    std::promise<void> done;
    perform([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

void QVRPasswordManager::waitForPendingWork()
{
    performAndWait([] {});
}

bool QVRPasswordManager::setPassword(const QString& password, const QString& account, const QString& server)
{
    return setPassword(password, account, server, false);
}

bool QVRPasswordManager::setPassword(const QString& password, const QString& account, const QString& server,
                                     bool backgroundUse)
{
    if (!QVRUtilities::hasValue(account) || !present(server) || !present(password))
        return false;
    // An item is known by server, account and kind only, and storing always
    // replaces it, so a changed password or code is never left unsaved beside
    // the stale one.
    const int status = SecretBackend::current().store(
        server, account, backgroundUse ? SecretKind::Code : SecretKind::Password, password);
    if (status == 0)
        return true;
    platform::log(QStringLiteral("Error saving password for %1 on %2: %3").arg(account, server).arg(status));
    return false;
}

std::optional<QString> QVRPasswordManager::passwordForAccount(const QString& account, const QString& server,
                                                              const std::optional<QString>& defaultValue,
                                                              const std::optional<QString>& errorValue)
{
    if (!QVRUtilities::hasValue(account) || !QVRUtilities::hasValue(server))
        return errorValue;
    int status = 0;
    std::optional<QString> secret = SecretBackend::current().lookup(server, account, &status);
    if (status != 0) {
        platform::log(
            QStringLiteral("Error finding password for %1 on %2: %3").arg(account, server).arg(status));
        return status == platform::SecretNotFound ? defaultValue : errorValue;
    }
    return secret ? secret : errorValue;
}

bool QVRPasswordManager::deletePasswordForAccount(const QString& account, const QString& server)
{
    if (!QVRUtilities::hasValue(account) || !QVRUtilities::hasValue(server))
        return false;
    const int status = SecretBackend::current().remove(server, account);
    if (status == 0)
        return true;
    if (status != platform::SecretNotFound)
        platform::log(
            QStringLiteral("Error deleting password for %1 on %2: %3").arg(account, server).arg(status));
    return false;
}

std::optional<QString> QVRPasswordManager::accountOnServer(const QString& server)
{
    if (!QVRUtilities::hasValue(server))
        return std::nullopt;
    int status = 0;
    QStringList accounts = SecretBackend::current().accounts(server, SecretKind::Password, &status);
    if (status != 0)
        return std::nullopt;
    // A stable answer when several accounts are stored.
    std::sort(accounts.begin(), accounts.end());
    for (const QString& account : accounts) {
        if (QVRUtilities::hasValue(account) && !account.endsWith(kCodeSuffix))
            return account;
    }
    return std::nullopt;
}
