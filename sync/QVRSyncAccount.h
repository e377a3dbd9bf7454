#pragma once

#include "sync/QVRSyncSettings.h"
#include "sync/QVRURLSession.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <mutex>
#include <optional>

// The web account: the sign-in form being tried, the login code and password
// kept in the keyring, and the login fields of every request. The form and
// the code are read by the request builder on the queue's thread; everything
// else runs on the main thread.
class QVRSyncAccount
{
public:
    // "Email is required." and the like, for the fields left empty.
    static QString validationMessageForFields(const QStringList& fields);
    // What is wrong with a sign-in or registration form, null when nothing.
    static QString problemWithForm(const QVariantMap& form);

    // True while a form (sign-in or registration) waits for the service.
    bool inProgress() const;
    std::optional<QVariantMap> form() const;
    void setForm(const QVariantMap& form);
    void clearForm();
    // The form being tried; without one, the stored code is read again from
    // the keyring by the next request.
    std::optional<QVariantMap> formForSync();

    // The registration request of the form being tried, none without a form.
    std::optional<QString> registrationQuery() const;
    // Keeps the accepted form: its address as the account, its password in
    // the keyring. The form is then done with.
    void saveForm();
    // Keeps the login code the service handed out; none deletes it.
    void saveCode(const std::optional<QString>& code);
    // Forgets the code, client and sync point of the account `oldEmail`
    // before another account signs in.
    void clearAccountState(const QString& oldEmail);
    // The end of a log-out: the account, its code and (on request) its
    // password go.
    void logOut(bool deletePassword);
    // Looks for an account in the keyring on its own thread; `handler` gets
    // the answer on the main thread.
    static void findAccount(std::function<void(const std::optional<QString>&)> handler);

    // Called on the queue's thread. The request for `query`, with the login
    // fields when `login`; none (the reason logged) when there are no
    // credentials to send. `extra` is appended to the body.
    std::optional<QVRURLRequest> request(const std::optional<QUrl>& url, const QString& query, bool login,
                                         const std::function<QString()>& extra);

private:
    struct LoginPart
    {
        std::optional<QString> query;
        bool usedCode = false;
        QString failure; // the log line when there is no query
    };
    LoginPart loginQuery();

    QVRSyncSettings m_settings;
    mutable std::mutex m_mutex;
    std::optional<QVariantMap> m_form;
    std::optional<QString> m_code;
    bool m_refreshCode = false;
};
