#pragma once

#include <QString>

#include <optional>

// The web sync secrets in the user's keyring: the account password (account =
// the e-mail address) and the login code the service hands out after a
// sign-in (account = the e-mail address followed by " [quillary]"). No state;
// callable from any thread. Statuses are logged, never shown.
class QVRPasswordManager {
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
};
