#include "delivery/SecretStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

// GLib's headers name a member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

namespace {

// Matches whatever schema name the secret was stored under (secret-tool's generic one,
// another program's), by the three attributes alone.
const SecretSchema* Schema() {
    static const SecretSchema schema = {"org.pellavo.Smtp",
                                        SECRET_SCHEMA_DONT_MATCH_NAME,
                                        {
                                            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
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
    return &schema;
}

constexpr const char* kService = "pellavo-smtp";

QString TakeError(GError* error) {
    // That nothing serves the store on the bus is all there is to say; anything else, the
    // store's own words tell best.
    const bool none = g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN);
    const QString message = error && error->message ? QString::fromUtf8(error->message) : QString();
    if (error)
        g_error_free(error);
    const QString text = QStringLiteral("No secret store answers (GNOME Keyring or KWallet)");
    return none || message.isEmpty() ? text : text + QStringLiteral(": ") + message;
}

void SetReason(QString* reason, const QString& text) {
    if (reason)
        *reason = text;
}

} // namespace

namespace SecretStore {

QString ServerKey(const QString& host, int port) {
    return host.trimmed() + QLatin1Char(':') + QString::number(port);
}

bool IsAvailable(QString* reason) {
    // Asking libsecret on a bus where nothing serves the store only fails at the first
    // lookup; the bus itself knows whether anyone serves or can be started for it.
    const QString name = QStringLiteral("org.freedesktop.secrets");
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
    if (daemon && (daemon->isServiceRegistered(name).value() ||
                   daemon->activatableServiceNames().value().contains(name)))
        return true;
    SetReason(reason, QStringLiteral(
                          "No secret store answers (GNOME Keyring or KWallet), so no password can be kept"));
    return false;
}

QString LookupPassword(const QString& server, const QString& user, QString* reason) {
    GError* error = nullptr;
    const QByteArray serverKey = server.toUtf8();
    const QByteArray userName = user.toUtf8();
    gchar* secret = secret_password_lookup_sync(Schema(), nullptr, &error, "service", kService, "server",
                                                serverKey.constData(), "user", userName.constData(), nullptr);
    if (error) {
        SetReason(reason, TakeError(error));
        return QString();
    }
    if (!secret)
        return QString();
    const QString password = QString::fromUtf8(secret);
    secret_password_free(secret);
    return password;
}

bool StorePassword(const QString& server, const QString& user, const QString& password, QString* reason) {
    GError* error = nullptr;
    const QByteArray serverKey = server.toUtf8();
    const QByteArray userName = user.toUtf8();
    if (password.isEmpty()) {
        secret_password_clear_sync(Schema(), nullptr, &error, "service", kService, "server",
                                   serverKey.constData(), "user", userName.constData(), nullptr);
    } else {
        const QByteArray secret = password.toUtf8();
        secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, "Pellavo mail", secret.constData(),
                                   nullptr, &error, "service", kService, "server", serverKey.constData(),
                                   "user", userName.constData(), nullptr);
    }
    if (error) {
        SetReason(reason, TakeError(error));
        return false;
    }
    return true;
}

} // namespace SecretStore
