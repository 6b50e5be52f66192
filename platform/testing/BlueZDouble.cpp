#include "BlueZDouble.h"

#include "EventLoopWait.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <atomic>
#include <csignal>
#include <stdexcept>

using namespace std::chrono_literals;

namespace platform::testing {
namespace {

const QString kService = QStringLiteral("org.bluez");
const QString kDevice = QStringLiteral("org.bluez.Device1");
const QString kDBusMock = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

} // namespace

BlueZDouble::~BlueZDouble() {
    blueZ_.reset();
    if (!connectionName_.isEmpty())
        QDBusConnection::disconnectFromBus(connectionName_);
    bus_.reset();
}

bool BlueZDouble::start(const std::string &templatePath, std::string *error) {
    template_ = templatePath;
    try {
        bus_ = std::make_unique<PrivateBus>();
    } catch (const std::exception &failure) {
        error_ = failure.what();
    }
    if (bus_) {
        // One name per double: several may live in one process.
        static std::atomic<int> count{0};
        connectionName_ = QStringLiteral("nbr-bluez-double-%1").arg(++count);
        if (!connection().isConnected())
            error_ = "cannot connect to the bus: " +
                     connection().lastError().message().toStdString();
        else if (startBlueZ())
            return true;
    }
    if (error)
        *error = error_;
    return false;
}

std::string BlueZDouble::busAddress() const {
    return bus_ ? bus_->address() : std::string();
}

QDBusConnection BlueZDouble::connection() const {
    return QDBusConnection::connectToBus(QString::fromStdString(busAddress()), connectionName_);
}

bool BlueZDouble::blueZOnBus() const {
    const auto *bus = connection().interface();
    return bus != nullptr && bus->isServiceRegistered(kService).value();
}

bool BlueZDouble::startBlueZ() {
    if (blueZ_)
        stopBlueZ(); // else the old name could pass for the new one
    adapterOf_.clear();
    try {
        blueZ_ = std::make_unique<ChildProcess>(
            "/usr/bin/python3",
            std::vector<std::string>{"-m", "dbusmock", "--system", "-l", "/dev/null",
                                     "--template", template_},
            ChildSetup{{"DBUS_SYSTEM_BUS_ADDRESS=" + busAddress()}});
    } catch (const std::exception &failure) {
        error_ = failure.what();
        return false;
    }
    // python3 and dbusmock take their time to load; a broken template ends the process early.
    if (!spinUntil([this] { return blueZOnBus() || !blueZ_->running(); }, scaled(15s)) ||
        !blueZOnBus()) {
        error_ = "python-dbusmock did not put org.bluez on the bus (template " + template_ +
                 "; its errors are on standard error)";
        blueZ_.reset();
        return false;
    }
    return true;
}

void BlueZDouble::stopBlueZ() {
    if (blueZ_)
        blueZ_->stop(SIGKILL);
    blueZ_.reset();
    // The bus tells everyone of the name's loss in its own time.
    spinUntil([this] { return !blueZOnBus(); }, scaled(5s));
}

QDBusMessage BlueZDouble::call(const QString &path, const QString &interface,
                               const QString &method, const QVariantList &arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = connection().call(message, QDBus::Block,
                                                 static_cast<int>(scaled(10s).count()));
    if (reply.type() != QDBusMessage::ReplyMessage)
        error_ = (method + QStringLiteral(": ") + reply.errorName() + QStringLiteral(" ") +
                  reply.errorMessage())
                     .toStdString();
    return reply;
}

bool BlueZDouble::mock(const QString &method, const QVariantList &arguments) {
    return call(QStringLiteral("/"), QStringLiteral("org.bluez.Mock"), method, arguments).type() ==
           QDBusMessage::ReplyMessage;
}

bool BlueZDouble::addAdapter(const QString &adapter) {
    return mock(QStringLiteral("AddAdapter"), {adapter, QStringLiteral("nimbrel")});
}

bool BlueZDouble::addDevice(const QString &adapter, const QString &address,
                            const QString &alias) {
    if (!mock(QStringLiteral("AddDevice"), {adapter, address, alias}))
        return false;
    adapterOf_.insert(address.toUpper(), adapter);
    return true;
}

bool BlueZDouble::addPairedDevice(const QString &adapter, const QString &address,
                                  quint32 deviceClass) {
    return addDevice(adapter, address) &&
           mock(QStringLiteral("PairDevice"), {adapter, address, deviceClass});
}

bool BlueZDouble::addDiscoverableDevice(const QString &adapter, const QString &address,
                                        const QString &alias, quint32 deviceClass, qint16 rssi,
                                        std::chrono::milliseconds delay) {
    if (!mock(QStringLiteral("AddDiscoverableDevice"),
              {adapter, address, alias, deviceClass, QVariant::fromValue(rssi),
               static_cast<quint32>(delay.count())}))
        return false;
    adapterOf_.insert(address.toUpper(), adapter);
    return true;
}

bool BlueZDouble::setDevicePin(const QString &address, const QString &pin) {
    return mock(QStringLiteral("SetDevicePin"), {adapterOf(address), address, pin});
}

bool BlueZDouble::setDeviceRefusesPairing(const QString &address, bool refuses) {
    return mock(QStringLiteral("SetDeviceRefusesPairing"), {adapterOf(address), address, refuses});
}

bool BlueZDouble::connectDevice(const QString &adapter, const QString &address) {
    return mock(QStringLiteral("ConnectDevice"), {adapter, address});
}

bool BlueZDouble::disconnectDevice(const QString &adapter, const QString &address) {
    return mock(QStringLiteral("DisconnectDevice"), {adapter, address});
}

bool BlueZDouble::setAdapterPowered(bool powered, const QString &adapter) {
    return call(QStringLiteral("/org/bluez/") + adapter, kProperties, QStringLiteral("Set"),
                {QStringLiteral("org.bluez.Adapter1"), QStringLiteral("Powered"),
                 QVariant::fromValue(QDBusVariant(powered))})
               .type() == QDBusMessage::ReplyMessage;
}

bool BlueZDouble::replaceDeviceMethod(const QString &address, const QString &name,
                                      const QString &code) {
    return call(devicePath(address), kDBusMock, QStringLiteral("AddMethod"),
                {kDevice, name, QString(), QString(), code})
               .type() == QDBusMessage::ReplyMessage;
}

int BlueZDouble::callsOf(const QString &address, const QString &method) {
    const QDBusMessage reply =
        call(devicePath(address), kDBusMock, QStringLiteral("GetMethodCalls"), {method});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return -1;
    int count = 0;
    const QDBusArgument calls = reply.arguments().value(0).value<QDBusArgument>();
    calls.beginArray();
    while (!calls.atEnd()) {
        calls.beginStructure();
        qulonglong time = 0;
        QVariantList arguments;
        calls >> time >> arguments;
        calls.endStructure();
        ++count;
    }
    calls.endArray();
    return count;
}

QVariant BlueZDouble::deviceProperty(const QString &address, const QString &name) {
    return property(devicePath(address), kDevice, name);
}

QVariant BlueZDouble::adapterProperty(const QString &name, const QString &adapter) {
    return property(QStringLiteral("/org/bluez/") + adapter, QStringLiteral("org.bluez.Adapter1"),
                    name);
}

QVariant BlueZDouble::property(const QString &path, const QString &interface,
                               const QString &name) {
    const QDBusMessage reply = call(path, kProperties, QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {};
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

QString BlueZDouble::adapterOf(const QString &address) const {
    return adapterOf_.value(address.toUpper(), QStringLiteral("hci0"));
}

QString BlueZDouble::devicePath(const QString &address) const {
    return QStringLiteral("/org/bluez/") + adapterOf(address) + QStringLiteral("/dev_") +
           address.toUpper().replace(QLatin1Char(':'), QLatin1Char('_'));
}

} // namespace platform::testing
