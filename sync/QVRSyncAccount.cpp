#include "sync/QVRSyncAccount.h"

#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/secret/SecretBackend.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRUtilities.h"
#include "sync/QVRPasswordManager.h"
#include "sync/QVRSyncService.h"

#include <algorithm>

namespace {

const QString kCodeSuffix = QStringLiteral(" [quillary]");

// Numbers on the wire: six decimals and a point, whatever the user's locale.
QString number(double value)
{
    return QString::number(value, 'f', 6);
}

QString escape(const QString& s)
{
    return QVRUtilities::fullEscape(s);
}

} // namespace

QString QVRSyncAccount::validationMessageForFields(const QStringList& fields)
{
    QStringList names;
    for (const QString& field : fields)
        names << QVRLocalizedString(field);
    if (names.isEmpty())
        return QString();
    if (names.size() == 1)
        return QVRLocalizedString(QStringLiteral("%@ is required.")).replace(QStringLiteral("%@"), names[0]);
    QString format = QVRLocalizedString(names.size() == 2 ? QStringLiteral("%@ and %@ are required.")
                                                          : QStringLiteral("%@, %@, and %@ are required."));
    for (int i = 0; i < std::min<qsizetype>(names.size(), 3); ++i) {
        const qsizetype at = format.indexOf(QStringLiteral("%@"));
        if (at < 0)
            break;
        format.replace(at, 2, names[i]);
    }
    return format;
}

QString QVRSyncAccount::problemWithForm(const QVariantMap& form)
{
    const bool isNew = form.value(QStringLiteral("new")).toBool();
    QStringList missing;
    if (!QVRUtilities::hasTrimmedValue(form.value(QStringLiteral("email")).toString()))
        missing << QStringLiteral("Email");
    if (!QVRUtilities::hasTrimmedValue(form.value(QStringLiteral("password")).toString()) ||
        (isNew && !QVRUtilities::hasTrimmedValue(form.value(QStringLiteral("confirm")).toString())))
        missing << QStringLiteral("Password");
    if (!missing.isEmpty())
        return validationMessageForFields(missing);
    if (isNew &&
        form.value(QStringLiteral("password")).toString() != form.value(QStringLiteral("confirm")).toString())
        return QVRLocalizedString(QStringLiteral("Both password fields must match."));
    return QString();
}

bool QVRSyncAccount::inProgress() const
{
    std::lock_guard lock(m_mutex);
    return m_form.has_value();
}

std::optional<QVariantMap> QVRSyncAccount::form() const
{
    std::lock_guard lock(m_mutex);
    return m_form;
}

void QVRSyncAccount::setForm(const QVariantMap& form)
{
    std::lock_guard lock(m_mutex);
    m_form = form;
}

void QVRSyncAccount::clearForm()
{
    std::lock_guard lock(m_mutex);
    m_form.reset();
}

std::optional<QVariantMap> QVRSyncAccount::formForSync()
{
    std::lock_guard lock(m_mutex);
    if (!m_form)
        m_refreshCode = true;
    return m_form;
}

std::optional<QString> QVRSyncAccount::registrationQuery() const
{
    const std::optional<QVariantMap> current = form();
    if (!current)
        return std::nullopt;
    const auto field = [&](const char* key) {
        return escape(current->value(QString::fromLatin1(key)).toString());
    };
    return QStringLiteral("cmd=register&email=%1&newpassword=%2&confirmpass=%3&name=%4&terms=%5")
        .arg(field("email"), field("password"), field("confirm"), field("name"), field("terms"));
}

void QVRSyncAccount::saveForm()
{
    const std::optional<QVariantMap> current = form();
    if (!current)
        return;
    const QString email = current->value(QStringLiteral("email")).toString();
    const QString password = current->value(QStringLiteral("password")).toString();
    m_settings.setEmail(email);
    if (!email.isNull() && !password.isNull()) {
        const QString host = QVRSyncService::host();
        QVRPasswordManager::perform([email, password, host] {
            if (QVRPasswordManager::passwordForAccount(email, host, std::nullopt, std::nullopt) != password)
                QVRPasswordManager::setPassword(password, email, host);
        });
    }
    clearForm();
}

void QVRSyncAccount::saveCode(const std::optional<QString>& code)
{
    QString email;
    {
        std::lock_guard lock(m_mutex);
        m_code = code;
        email = m_form ? m_form->value(QStringLiteral("email")).toString() : QString();
    }
    if (email.isNull())
        email = m_settings.email();
    if (email.isNull()) {
        std::lock_guard lock(m_mutex);
        m_refreshCode = false;
        return;
    }
    const QString account = email + kCodeSuffix;
    const QString host = QVRSyncService::host();
    if (!code) {
        QVRPasswordManager::perform(
            [account, host] { QVRPasswordManager::deletePasswordForAccount(account, host); });
        std::lock_guard lock(m_mutex);
        m_refreshCode = false;
        return;
    }
    QVRPasswordManager::perform(
        [value = *code, account, host] { QVRPasswordManager::setPassword(value, account, host, true); });
}

void QVRSyncAccount::clearAccountState(const QString& oldEmail)
{
    if (!oldEmail.isNull()) {
        const QString host = QVRSyncService::host();
        QVRPasswordManager::perform(
            [oldEmail, host] { QVRPasswordManager::deletePasswordForAccount(oldEmail + kCodeSuffix, host); });
    }
    {
        std::lock_guard lock(m_mutex);
        m_code.reset();
        m_refreshCode = false;
    }
    m_settings.setClient(QString());
    m_settings.setUpdated(0);
}

void QVRSyncAccount::logOut(bool deletePassword)
{
    const QString email = m_settings.email();
    if (deletePassword && !email.isNull()) {
        const QString host = QVRSyncService::host();
        QVRPasswordManager::perform(
            [email, host] { QVRPasswordManager::deletePasswordForAccount(email, host); });
    }
    saveCode(std::nullopt);
    m_settings.setEnabled(false);
    m_settings.setEmail(QString());
    m_settings.setClient(QString());
    m_settings.setUpdated(0);
}

void QVRSyncAccount::findAccount(std::function<void(const std::optional<QString>&)> handler)
{
    const QString host = QVRSyncService::host();
    QVRPasswordManager::perform([handler = std::move(handler), host] {
        const std::optional<QString> account = QVRPasswordManager::accountOnServer(host);
        platform::runOnMainThread([handler, account] { handler(account); });
    });
}

// --- requests (on the queue's thread) --------------------------------------------------

QVRSyncAccount::LoginPart QVRSyncAccount::loginQuery()
{
    LoginPart part;
    std::optional<QVariantMap> form;
    std::optional<QString> code;
    bool refresh = false;
    {
        std::lock_guard lock(m_mutex);
        form = m_form;
        code = m_code;
        refresh = m_refreshCode;
    }
    const QString host = QVRSyncService::host();
    if (host.isEmpty()) {
        part.failure = QStringLiteral("Sync can't reach the service: %1").arg(QVRSyncService::originError());
        return part;
    }
    if (form) {
        const QString password = form->value(QStringLiteral("password")).toString();
        if (password.isNull())
            return part;
        part.query = QStringLiteral("&email=%1&password=%2")
                         .arg(escape(form->value(QStringLiteral("email")).toString()), escape(password));
        return part;
    }
    const QString email = m_settings.email();
    const QString client = m_settings.client();
    // Through the keyring thread, so that a code or password stored a moment
    // ago on the main thread's behalf is what is read.
    if (refresh && !email.isNull()) {
        QVRPasswordManager::performAndWait([&] {
            code =
                QVRPasswordManager::passwordForAccount(email + kCodeSuffix, host, std::nullopt, std::nullopt);
        });
        std::lock_guard lock(m_mutex);
        m_code = code;
        m_refreshCode = false;
    }
    if (code && !code->isEmpty() && !client.isEmpty()) {
        part.query =
            QStringLiteral("&email=%1&client=%2&code=%3").arg(escape(email), escape(client), escape(*code));
        part.usedCode = true;
        return part;
    }
    std::optional<QString> password;
    QString reason;
    QVRPasswordManager::performAndWait([&] {
        password = QVRPasswordManager::passwordForAccount(email, host, QStringLiteral(""), std::nullopt);
        if (!password && !platform::SecretBackend::current().isAvailable(&reason) && reason.isEmpty())
            reason = QStringLiteral("no keyring is running");
    });
    if (!password) {
        if (reason.isEmpty())
            reason = QStringLiteral("the keyring did not give out the password of %1").arg(email);
        part.failure = QStringLiteral("Sync needs the keyring: %1").arg(reason);
        return part;
    }
    part.query = QStringLiteral("&email=%1&client=%2&password=%3")
                     .arg(escape(email), escape(client), escape(*password));
    return part;
}

std::optional<QVRURLRequest> QVRSyncAccount::request(const std::optional<QUrl>& url, const QString& query,
                                                     bool login, const std::function<QString()>& extra)
{
    QString loginPart;
    bool usedCode = false;
    if (login) {
        const LoginPart part = loginQuery();
        if (!part.query) {
            if (!part.failure.isEmpty())
                platform::log(part.failure);
            return std::nullopt;
        }
        loginPart = *part.query;
        usedCode = part.usedCode;
    }
    const QString extraQuery = extra ? extra() : QString();
    const QString tail = QStringLiteral("&type=%1&version=%2&osversion=%3&now=%4%5")
                             .arg(QStringLiteral("mac"), QStringLiteral("6.2"),
                                  QVRSyncService::systemVersion(), number(platform::now()), extraQuery);
    const double updated = m_settings.updated();
    QString body;
    if (login)
        body = query + loginPart + QStringLiteral("&updated=") + number(updated) + tail;
    else
        body = query + tail;
    QVRURLRequest request;
    request.url = url ? *url : QVRSyncService::syncURL();
    request.body = body.toUtf8();
    request.timeoutSeconds = updated <= 1.0 ? 180 : 30;
    request.loginUsedCode = login && usedCode;
    return request;
}
