#pragma once

#include <QString>

// The mail password in the desktop's secret store (GNOME Keyring, KWallet) through
// libsecret, under the attributes service = "pellavo-smtp", server = "HOST:PORT" and user,
// as `secret-tool store --label="Pellavo mail" service pellavo-smtp server HOST:PORT user NAME`
// keeps it. There is no other place: without a secret store there is no password.
namespace SecretStore {

// Whether a secret store answers on the session bus; `reason` says why not.
bool IsAvailable(QString* reason = nullptr);

// The password, or a null string when there is none; `reason` is set when the store could
// not be asked.
QString LookupPassword(const QString& server, const QString& user, QString* reason = nullptr);

// Keeps the password (an empty one removes it). False with `reason` when the store refused.
bool StorePassword(const QString& server, const QString& user, const QString& password,
                   QString* reason = nullptr);

// "HOST:PORT", the server attribute.
QString ServerKey(const QString& host, int port);

} // namespace SecretStore
