#pragma once

#include <QDBusMessage>
#include <QList>
#include <QString>

// KDE Connect's daemon on the session bus: its paired devices, and sharing a file with one.
namespace KdeConnect {

struct Device {
    QString id;
    QString name;
    bool reachable = false;
};

// The paired devices, reachable now or not; empty when KDE Connect does not run.
QList<Device> PairedDevices();

// Hands the file to the device, waiting for the answer. False with `reason` when the device is
// not paired or not in reach now, or KDE Connect refused.
bool Share(const QString& deviceId, const QString& file, QString* reason);

// The call that hands the file to the device, for a caller that cannot wait for the answer.
QDBusMessage ShareCall(const QString& deviceId, const QString& file);

// How long KDE Connect may take to answer.
constexpr int kTimeoutMs = 10000;

} // namespace KdeConnect
