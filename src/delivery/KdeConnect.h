#pragma once

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

// Hands the file to the device. False with `reason` when the device is not paired or not in
// reach now, or KDE Connect refused.
bool Share(const QString& deviceId, const QString& file, QString* reason);

} // namespace KdeConnect
