#pragma once

#include "ChildProcess.h"
#include "PrivateSessionBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QString>
#include <QVariant>
#include <chrono>
#include <memory>
#include <string>

namespace platform::testing {

// BlueZ as the project's programs meet it on the system bus: python-dbusmock (Debian's
// /usr/bin/python3) with a template of the caller's (the project's is NBR_BLUEZ_TEMPLATE,
// bluez5.py beside this) on a dbus-daemon of its own, which a child gets as
// DBUS_SYSTEM_BUS_ADDRESS. The test works the mock through its own connection to that
// bus, synchronously; needs a QCoreApplication. Each mock call returns false on failure, with
// error() saying why.
class BlueZDouble {
public:
    BlueZDouble() = default;
    ~BlueZDouble();
    BlueZDouble(const BlueZDouble &) = delete;
    BlueZDouble &operator=(const BlueZDouble &) = delete;

    // The bus, then BlueZ on it; true once org.bluez is on the bus.
    bool start(const std::string &templatePath, std::string *error = nullptr);
    std::string busAddress() const;
    QDBusConnection connection() const;

    // BlueZ killed (SIGKILL): returns once its name has left the bus.
    void stopBlueZ();
    // BlueZ again, with the same template and nothing added to it: a restart.
    bool startBlueZ();
    bool blueZOnBus() const;

    bool addAdapter(const QString &adapter);
    // Known to BlueZ, neither paired nor connected.
    bool addDevice(const QString &adapter, const QString &address,
                   const QString &alias = QStringLiteral("Wireless Controller"));
    // AddDevice and PairDevice: known and paired, not connected.
    bool addPairedDevice(const QString &adapter, const QString &address,
                         quint32 deviceClass = 0x002508);
    // In range but unknown: each discovery on the adapter finds it `delay` after starting, with
    // this class and signal strength (dBm).
    bool addDiscoverableDevice(const QString &adapter, const QString &address,
                               const QString &alias, quint32 deviceClass, qint16 rssi,
                               std::chrono::milliseconds delay = std::chrono::milliseconds(100));
    // The device pairs the legacy way: Pair asks the agent for this PIN (empty: it does not).
    bool setDevicePin(const QString &address, const QString &pin);
    // The device turns pairing down before any agent is asked.
    bool setDeviceRefusesPairing(const QString &address, bool refuses = true);
    // The controller coming or going by itself (Mock.ConnectDevice / DisconnectDevice).
    bool connectDevice(const QString &adapter, const QString &address);
    bool disconnectDevice(const QString &adapter, const QString &address);
    bool setAdapterPowered(bool powered, const QString &adapter = QStringLiteral("hci0"));
    // The device's Device1 method `name` now runs Python `code` (dbusmock's AddMethod).
    bool replaceDeviceMethod(const QString &address, const QString &name, const QString &code);
    // How often Device1 method `method` was called on the device; -1 when it cannot be asked.
    int callsOf(const QString &address, const QString &method);
    // A Device1 or Adapter1 property; invalid when it cannot be read.
    QVariant deviceProperty(const QString &address, const QString &name);
    QVariant adapterProperty(const QString &name,
                             const QString &adapter = QStringLiteral("hci0"));

    // Any other method of org.bluez.Mock (AddDevice alone, PairDevice, BlockDevice, …).
    bool mock(const QString &method, const QVariantList &arguments);

    // "/org/bluez/hci0/dev_1C_66_6D_01_02_03", on the adapter the device was added on.
    QString devicePath(const QString &address) const;
    const std::string &error() const { return error_; }

private:
    QDBusMessage call(const QString &path, const QString &interface, const QString &method,
                      const QVariantList &arguments);
    QVariant property(const QString &path, const QString &interface, const QString &name);
    QString adapterOf(const QString &address) const;

    std::unique_ptr<PrivateBus> bus_;
    std::unique_ptr<ChildProcess> blueZ_;
    std::string template_;
    QString connectionName_;
    QHash<QString, QString> adapterOf_; // upper-case address -> adapter
    std::string error_;
};

} // namespace platform::testing
