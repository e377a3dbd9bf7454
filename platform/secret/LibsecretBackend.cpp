#include "platform/secret/SecretBackend.h"

// glib names a struct member "signals", which Qt defines as a macro.
#undef signals
#include <libsecret/secret.h>

namespace platform {

namespace {

const SecretSchema* schema()
{
    static const SecretSchema value = {"com.quorvane.Quillary.Sync",
                                       SECRET_SCHEMA_NONE,
                                       {
                                           {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                           {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                           {"kind", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                           {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       },
                                       0,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr};
    return &value;
}

const char* kindName(SecretKind kind)
{
    return kind == SecretKind::Password ? "password" : "code";
}

// A failure always has a non-zero status, whatever code the error carries.
int statusOf(GError* error)
{
    int status = error->code != 0 ? error->code : -1;
    g_error_free(error);
    return status;
}

} // namespace

bool LibsecretBackend::isAvailable(QString* reason)
{
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    if (!service) {
        if (reason) {
            *reason = QStringLiteral("No keyring is running (Secret Service: %1).")
                          .arg(error ? QString::fromUtf8(error->message) : QStringLiteral("unavailable"));
        }
        if (error)
            g_error_free(error);
        return false;
    }
    g_object_unref(service);
    return true;
}

int LibsecretBackend::store(const QString& server, const QString& account, SecretKind kind,
                            const QString& secret)
{
    const QByteArray serverBytes = server.toUtf8();
    const QByteArray accountBytes = account.toUtf8();
    const QByteArray secretBytes = secret.toUtf8();
    // The label is shown in keyring managers; the secret never goes into it.
    const QByteArray label =
        (kind == SecretKind::Password ? QStringLiteral("Quillary sync password for %1")
                                      : QStringLiteral("Quillary sync login code for %1"))
            .arg(account)
            .toUtf8();
    // The item of the other kind for this account would shadow the new one in
    // lookups, which match on server and account only.
    GError* error = nullptr;
    secret_password_clear_sync(schema(), nullptr, &error, "server", serverBytes.constData(), "account",
                               accountBytes.constData(), "kind",
                               kind == SecretKind::Password ? "code" : "password", nullptr);
    if (error)
        return statusOf(error);
    const gboolean stored = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.constData(), secretBytes.constData(), nullptr, &error,
        "server", serverBytes.constData(), "account", accountBytes.constData(), "kind", kindName(kind),
        nullptr);
    if (error)
        return statusOf(error);
    return stored ? 0 : -1;
}

std::optional<QString> LibsecretBackend::lookup(const QString& server, const QString& account, int* status)
{
    const QByteArray serverBytes = server.toUtf8();
    const QByteArray accountBytes = account.toUtf8();
    GError* error = nullptr;
    gchar* secret = secret_password_lookup_sync(schema(), nullptr, &error, "server", serverBytes.constData(),
                                                "account", accountBytes.constData(), nullptr);
    if (error) {
        *status = statusOf(error);
        return std::nullopt;
    }
    if (!secret) {
        *status = SecretNotFound;
        return std::nullopt;
    }
    QString value = QString::fromUtf8(secret);
    secret_password_free(secret);
    *status = 0;
    return value;
}

int LibsecretBackend::remove(const QString& server, const QString& account)
{
    const QByteArray serverBytes = server.toUtf8();
    const QByteArray accountBytes = account.toUtf8();
    GError* error = nullptr;
    const gboolean removed =
        secret_password_clear_sync(schema(), nullptr, &error, "server", serverBytes.constData(), "account",
                                   accountBytes.constData(), nullptr);
    if (error)
        return statusOf(error);
    return removed ? 0 : SecretNotFound;
}

QStringList LibsecretBackend::accounts(const QString& server, SecretKind kind, int* status)
{
    QStringList result;
    const QByteArray serverBytes = server.toUtf8();
    GHashTable* attributes =
        secret_attributes_build(schema(), "server", serverBytes.constData(), "kind", kindName(kind), nullptr);
    GError* error = nullptr;
    GList* items = secret_password_searchv_sync(schema(), attributes, SECRET_SEARCH_ALL, nullptr, &error);
    g_hash_table_unref(attributes);
    if (error) {
        *status = statusOf(error);
        return result;
    }
    for (GList* item = items; item; item = item->next) {
        GHashTable* found = secret_retrievable_get_attributes(SECRET_RETRIEVABLE(item->data));
        if (const auto* account = static_cast<const char*>(g_hash_table_lookup(found, "account")))
            result << QString::fromUtf8(account);
        g_hash_table_unref(found);
    }
    g_list_free_full(items, g_object_unref);
    *status = 0;
    return result;
}

} // namespace platform
