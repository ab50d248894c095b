#include "desktop/KdeConnect.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QUrl>

namespace {

const QString kService = QStringLiteral("org.kde.kdeconnect");
const QString kDevicePath = QStringLiteral("/modules/kdeconnect/devices/");

QDBusMessage MakeCall(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, path, interface, method);
    call.setArguments(arguments);
    // Starting the user's KDE Connect daemon is not ours to do.
    call.setAutoStartService(false);
    return call;
}

QDBusMessage Call(const QString& path, const QString& interface, const QString& method,
                  const QVariantList& arguments) {
    return QDBusConnection::sessionBus().call(MakeCall(path, interface, method, arguments), QDBus::Block,
                                              KdeConnect::kTimeoutMs);
}

QVariant Property(const QString& id, const QString& name) {
    const QDBusMessage reply =
        Call(kDevicePath + id, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
             {QStringLiteral("org.kde.kdeconnect.device"), name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return QVariant();
    return reply.arguments().first().value<QDBusVariant>().variant();
}

QStringList DeviceIds(bool onlyReachable) {
    const QDBusMessage reply =
        Call(QStringLiteral("/modules/kdeconnect"), QStringLiteral("org.kde.kdeconnect.daemon"),
             QStringLiteral("devices"), {onlyReachable, true});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().toStringList();
}

} // namespace

namespace KdeConnect {

QList<Device> PairedDevices() {
    if (!QDBusConnection::sessionBus().isConnected())
        return {};
    const QStringList reachable = DeviceIds(true);
    QList<Device> devices;
    for (const QString& id : DeviceIds(false)) {
        const QString name = Property(id, QStringLiteral("name")).toString();
        devices << Device{id, name.isEmpty() ? id : name, reachable.contains(id)};
    }
    return devices;
}

bool Share(const QString& deviceId, const QString& file, QString* reason) {
    const auto fail = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (!QDBusConnection::sessionBus().isConnected())
        return fail(QStringLiteral("No session bus, so KDE Connect cannot be reached"));
    const QList<Device> devices = PairedDevices();
    const auto it = std::find_if(devices.cbegin(), devices.cend(),
                                 [&](const Device& device) { return device.id == deviceId; });
    if (devices.isEmpty())
        return fail(QStringLiteral("KDE Connect is not running"));
    if (it == devices.cend())
        return fail(QStringLiteral("The device is no longer paired in KDE Connect"));
    if (!it->reachable)
        return fail(QStringLiteral("%1 is not in reach").arg(it->name));
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(ShareCall(deviceId, file), QDBus::Block, kTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return fail(QStringLiteral("KDE Connect refused the file: %1").arg(reply.errorMessage()));
    return true;
}

QDBusMessage ShareCall(const QString& deviceId, const QString& file) {
    return MakeCall(kDevicePath + deviceId + QStringLiteral("/share"),
                    QStringLiteral("org.kde.kdeconnect.device.share"), QStringLiteral("shareUrl"),
                    {QUrl::fromLocalFile(file).toString()});
}

} // namespace KdeConnect
