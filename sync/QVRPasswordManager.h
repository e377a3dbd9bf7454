#pragma once

#include <QString>

#include <functional>
#include <optional>

// The web sync secrets in the user's keyring: the account password (account =
// the e-mail address) and the login code the service hands out after a
// sign-in (account = the e-mail address followed by " [quillary]"). No state;
// callable from any thread. Statuses are logged, never shown.
class QVRPasswordManager
{
public:
    static bool setPassword(const QString& password, const QString& account, const QString& server);
    // Background use marks a login code rather than a password.
    static bool setPassword(const QString& password, const QString& account, const QString& server,
                            bool backgroundUse);
    // The stored secret; `defaultValue` when none is stored, `errorValue` when
    // the keyring fails or the account or server is empty.
    static std::optional<QString> passwordForAccount(const QString& account, const QString& server,
                                                     const std::optional<QString>& defaultValue,
                                                     const std::optional<QString>& errorValue);
    static bool deletePasswordForAccount(const QString& account, const QString& server);
    // The e-mail address of a stored password for the server; login codes and
    // empty accounts are passed over, and nothing is deleted on the way.
    static std::optional<QString> accountOnServer(const QString& server);

    // Keyring calls block, for as long as an unlock prompt stays open, so the
    // main thread never makes them: it hands them to one keyring thread,
    // which runs them in the order handed over.
    static void perform(std::function<void()> work);
    // Runs `work` on the keyring thread after everything handed over before,
    // and returns once it has run: a read that must see every earlier write.
    // For threads other than the main one.
    static void performAndWait(const std::function<void()>& work);
    // Returns once everything handed over so far has run.
    static void waitForPendingWork();
};
