// The BlueZ client against python-dbusmock's BlueZ (our template on top of the stock one) on a
// private bus standing in for the system bus.
#include "BlueZController.h"
#include "ChildProcess.h"
#include "EventLoopWait.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStringList>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

// Readable failures: QString as text, not as UTF-16 units.
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }

using namespace std::chrono_literals;
using controllerd::BlueZController;
using platform::testing::ChildProcess;
using platform::testing::scaled;
using platform::testing::spinUntil;

namespace {

const QString kAddress = QStringLiteral("1C:66:6D:01:02:03");
const QString kDevicePath = QStringLiteral("/org/bluez/hci0/dev_1C_66_6D_01_02_03");
const QString kAdapterPath = QStringLiteral("/org/bluez/hci0");
const QString kDevice = QStringLiteral("org.bluez.Device1");

struct Outcome {
    bool done = false;
    bool ok = false;
    QString error;
};

class BlueZControllerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The test process's private bus (QtTestMain) plays the system bus; QtDBus reads this
        // once, at the first systemBus().
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", std::getenv("DBUS_SESSION_BUS_ADDRESS"), 1);
    }

    void SetUp() override { startBlueZ(); }

    static QDBusConnection bus() { return QDBusConnection::systemBus(); }

    static bool blueZOnBus() {
        return bus().interface()->isServiceRegistered(QStringLiteral("org.bluez")).value();
    }

    void startBlueZ() {
        bluez_ = std::make_unique<ChildProcess>(
            "/usr/bin/python3", std::vector<std::string>{"-m", "dbusmock", "--system", "-l",
                                                         "/dev/null", "--template",
                                                         NBR_BLUEZ_TEMPLATE});
        ASSERT_TRUE(spinUntil(blueZOnBus, scaled(15s))) << "the BlueZ mock did not start";
    }

    void stopBlueZ() {
        bluez_->stop(SIGKILL);
        ASSERT_TRUE(spinUntil([] { return !blueZOnBus(); }));
    }

    static QDBusMessage call(const QString &path, const QString &interface, const QString &method,
                             const QVariantList &arguments = {}) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(QStringLiteral("org.bluez"), path, interface, method);
        message.setArguments(arguments);
        const QDBusMessage reply = bus().call(message);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << method.toStdString() << ": " << reply.errorMessage().toStdString();
        return reply;
    }

    static void mock(const QString &method, const QVariantList &arguments) {
        call(QStringLiteral("/"), QStringLiteral("org.bluez.Mock"), method, arguments);
    }

    // hci0 with a paired controller on it.
    static void addPairedController() {
        mock(QStringLiteral("AddAdapter"), {QStringLiteral("hci0"), QStringLiteral("nimbrel")});
        mock(QStringLiteral("AddDevice"),
             {QStringLiteral("hci0"), kAddress, QStringLiteral("Wireless Controller")});
        mock(QStringLiteral("PairDevice"), {QStringLiteral("hci0"), kAddress, 0x002508});
    }

    // Replaces a method of the device with Python `code`.
    static void replaceDeviceMethod(const QString &name, const QString &code) {
        call(kDevicePath, QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("AddMethod"),
             {kDevice, name, QString(), QString(), code});
    }

    static QVariant property(const QString &path, const QString &interface, const QString &name) {
        const QDBusMessage reply = call(path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {interface, name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

    static int callsOf(const QString &method) {
        const QDBusMessage reply =
            call(kDevicePath, QStringLiteral("org.freedesktop.DBus.Mock"),
                 QStringLiteral("GetMethodCalls"), {method});
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

    // Starts a connect; the outcome fills in when its callback comes.
    std::shared_ptr<Outcome> startConnect(BlueZController &controller, const QString &address,
                                          std::chrono::milliseconds timeout = 20s) {
        auto outcome = std::make_shared<Outcome>();
        controller.connectController(address, timeout, [outcome](bool ok, const QString &error) {
            EXPECT_FALSE(outcome->done) << "reported twice";
            *outcome = Outcome{true, ok, error};
        });
        return outcome;
    }

    Outcome connectTo(BlueZController &controller, const QString &address,
                      std::chrono::milliseconds timeout = 20s) {
        const auto outcome = startConnect(controller, address, timeout);
        EXPECT_TRUE(spinUntil([&] { return outcome->done; }, scaled(10s))) << "no outcome";
        return *outcome;
    }

    static void record(BlueZController &controller, QStringList &events) {
        QObject::connect(&controller, &BlueZController::controllerConnected,
                         [&events](const QString &address) { events << QStringLiteral("connected ") + address; });
        QObject::connect(&controller, &BlueZController::controllerDisconnected,
                         [&events](const QString &address) {
                             events << QStringLiteral("disconnected ") + address;
                         });
    }

    std::unique_ptr<ChildProcess> bluez_;
};

TEST_F(BlueZControllerTest, ConnectsAPairedControllerAndDisconnectsIt) {
    addPairedController();
    BlueZController controller;
    QStringList events;
    record(controller, events);

    const Outcome outcome = connectTo(controller, kAddress.toLower());
    EXPECT_TRUE(outcome.ok) << outcome.error.toStdString();
    EXPECT_TRUE(property(kDevicePath, kDevice, QStringLiteral("Trusted")).toBool());
    EXPECT_EQ(callsOf(QStringLiteral("Connect")), 1);
    EXPECT_TRUE(controller.isConnected());
    EXPECT_EQ(controller.connectedAddress(), kAddress);
    EXPECT_EQ(events, QStringList{QStringLiteral("connected ") + kAddress});

    Outcome dropped;
    controller.disconnectController(
        [&dropped](bool ok, const QString &error) { dropped = Outcome{true, ok, error}; });
    ASSERT_TRUE(spinUntil([&] { return dropped.done && !controller.isConnected(); }));
    EXPECT_TRUE(dropped.ok) << dropped.error.toStdString();
    EXPECT_EQ(callsOf(QStringLiteral("Disconnect")), 1);
    EXPECT_EQ(events, (QStringList{QStringLiteral("connected ") + kAddress, QStringLiteral("disconnected ") + kAddress}));
}

// The daemon restarting while the controller stays connected: it is seen as connected from the
// start, and asking to connect it again does not page it again.
TEST_F(BlueZControllerTest, ANewClientSeesAnEarlierConnection) {
    addPairedController();
    {
        BlueZController earlier;
        ASSERT_TRUE(connectTo(earlier, kAddress).ok);
    }
    BlueZController controller;
    ASSERT_TRUE(spinUntil([&] { return controller.isConnected(); }));
    const Outcome outcome = connectTo(controller, kAddress);
    EXPECT_TRUE(outcome.ok) << outcome.error.toStdString();
    EXPECT_EQ(callsOf(QStringLiteral("Connect")), 1);
}

TEST_F(BlueZControllerTest, SaysWhyItCannotConnect) {
    BlueZController controller;
    EXPECT_EQ(connectTo(controller, kAddress).error, QStringLiteral("no Bluetooth adapter"));

    mock(QStringLiteral("AddAdapter"), {QStringLiteral("hci0"), QStringLiteral("nimbrel")});
    EXPECT_EQ(connectTo(controller, kAddress).error,
              QStringLiteral("no paired controller 1C:66:6D:01:02:03: pair it first"));

    // Known to BlueZ (seen while discovering) but never paired.
    mock(QStringLiteral("AddDevice"), {QStringLiteral("hci0"), kAddress, QStringLiteral("pad")});
    EXPECT_EQ(connectTo(controller, kAddress).error,
              QStringLiteral("no paired controller 1C:66:6D:01:02:03: pair it first"));

    mock(QStringLiteral("PairDevice"), {QStringLiteral("hci0"), kAddress, 0x002508});
    call(kAdapterPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
         {QStringLiteral("org.bluez.Adapter1"), QStringLiteral("Powered"),
          QVariant::fromValue(QDBusVariant(false))});
    EXPECT_EQ(connectTo(controller, kAddress).error, QStringLiteral("the Bluetooth adapter is off"));

    stopBlueZ();
    EXPECT_EQ(connectTo(controller, kAddress).error,
              QStringLiteral("no Bluetooth service (org.bluez) on the system bus"));
    EXPECT_FALSE(controller.isConnected());
}

TEST_F(BlueZControllerTest, NamesBlueZsRefusal) {
    addPairedController();
    replaceDeviceMethod(QStringLiteral("Connect"),
                        QStringLiteral("raise dbus.exceptions.DBusException('Page Timeout', "
                                       "name='org.bluez.Error.Failed')"));
    BlueZController controller;
    const Outcome outcome = connectTo(controller, kAddress);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error,
              QStringLiteral("BlueZ refused the connection: org.bluez.Error.Failed (Page Timeout)"));
    EXPECT_FALSE(controller.isConnected());
}

TEST_F(BlueZControllerTest, FailsWhenConnectedNeverComes) {
    addPairedController();
    // Connect answers yes, but the device never turns connected.
    replaceDeviceMethod(QStringLiteral("Connect"), QStringLiteral("pass"));
    BlueZController controller;
    const Outcome outcome = connectTo(controller, kAddress, 300ms);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error,
              QStringLiteral("the controller 1C:66:6D:01:02:03 did not connect within 0.3 s"));
    EXPECT_EQ(callsOf(QStringLiteral("Connect")), 1);
    EXPECT_FALSE(controller.isConnected());
}

TEST_F(BlueZControllerTest, FollowsAControllerThatComesAndGoesByItself) {
    addPairedController();
    BlueZController controller;
    QStringList events;
    record(controller, events);

    mock(QStringLiteral("ConnectDevice"), {QStringLiteral("hci0"), kAddress});
    ASSERT_TRUE(spinUntil([&] { return controller.isConnected(); }));
    EXPECT_EQ(controller.connectedAddress(), kAddress);
    mock(QStringLiteral("DisconnectDevice"), {QStringLiteral("hci0"), kAddress});
    ASSERT_TRUE(spinUntil([&] { return !controller.isConnected(); }));
    EXPECT_EQ(events, (QStringList{QStringLiteral("connected ") + kAddress, QStringLiteral("disconnected ") + kAddress}));
}

TEST_F(BlueZControllerTest, FailsAtOnceWhenBlueZLeavesMidConnect) {
    addPairedController();
    replaceDeviceMethod(QStringLiteral("Connect"), QStringLiteral("pass"));
    BlueZController controller;
    const auto outcome = startConnect(controller, kAddress, 60s);
    ASSERT_TRUE(spinUntil([&] { return callsOf(QStringLiteral("Connect")) == 1; }));
    ASSERT_FALSE(outcome->done);

    stopBlueZ();
    ASSERT_TRUE(spinUntil([&] { return outcome->done; }, scaled(10s)));
    EXPECT_FALSE(outcome->ok);
    EXPECT_EQ(outcome->error,
              QStringLiteral("the Bluetooth service (org.bluez) left the system bus while "
                             "connecting"));
}

TEST_F(BlueZControllerTest, FollowsAgainWhenBlueZComesBack) {
    addPairedController();
    mock(QStringLiteral("ConnectDevice"), {QStringLiteral("hci0"), kAddress});
    BlueZController controller;
    QStringList events;
    record(controller, events);
    ASSERT_TRUE(spinUntil([&] { return controller.isConnected(); }));

    // A connection does not outlive BlueZ.
    stopBlueZ();
    ASSERT_TRUE(spinUntil([&] { return !controller.isConnected(); }));

    startBlueZ();
    addPairedController();
    mock(QStringLiteral("ConnectDevice"), {QStringLiteral("hci0"), kAddress});
    ASSERT_TRUE(spinUntil([&] { return controller.isConnected(); }));
    mock(QStringLiteral("DisconnectDevice"), {QStringLiteral("hci0"), kAddress});
    ASSERT_TRUE(spinUntil([&] { return !controller.isConnected(); }));
    EXPECT_EQ(events, (QStringList{QStringLiteral("connected ") + kAddress, QStringLiteral("disconnected ") + kAddress,
                                   QStringLiteral("connected ") + kAddress, QStringLiteral("disconnected ") + kAddress}));

    EXPECT_TRUE(connectTo(controller, kAddress).ok);
}

} // namespace
