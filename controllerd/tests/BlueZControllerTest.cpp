// The BlueZ client against python-dbusmock's BlueZ (our template on top of the stock one) on a
// private bus standing in for the system bus.
#include "BlueZController.h"
#include "BlueZDouble.h"
#include "EventLoopWait.h"

#include <QStringList>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

// Readable failures: QString as text, not as UTF-16 units.
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }

using namespace std::chrono_literals;
using controllerd::BlueZController;
using platform::testing::BlueZDouble;
using platform::testing::scaled;
using platform::testing::spinUntil;

namespace {

const QString kAddress = QStringLiteral("1C:66:6D:01:02:03");

struct Outcome {
    bool done = false;
    bool ok = false;
    QString error;
};

class BlueZControllerTest : public ::testing::Test {
protected:
    // One bus for the whole suite: QtDBus reads DBUS_SYSTEM_BUS_ADDRESS once, at the first
    // systemBus(). Each test gets a BlueZ of its own on it.
    static void SetUpTestSuite() {
        bluez_ = std::make_unique<BlueZDouble>();
        started_ = bluez_->start(NBR_BLUEZ_TEMPLATE, &error_);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bluez_->busAddress().c_str(), 1);
    }
    static void TearDownTestSuite() { bluez_.reset(); }

    void SetUp() override {
        ASSERT_TRUE(started_) << error_;
        if (!bluez_->blueZOnBus()) {
            ASSERT_TRUE(bluez_->startBlueZ()) << bluez_->error();
        }
    }
    void TearDown() override { bluez_->stopBlueZ(); }

    static void mock(const QString &method, const QVariantList &arguments) {
        EXPECT_TRUE(bluez_->mock(method, arguments)) << bluez_->error();
    }

    // hci0 with a paired controller on it.
    static void addPairedController() {
        EXPECT_TRUE(bluez_->addAdapter(QStringLiteral("hci0"))) << bluez_->error();
        EXPECT_TRUE(bluez_->addPairedDevice(QStringLiteral("hci0"), kAddress)) << bluez_->error();
    }

    // Replaces a method of the device with Python `code`.
    static void replaceDeviceMethod(const QString &name, const QString &code) {
        EXPECT_TRUE(bluez_->replaceDeviceMethod(kAddress, name, code)) << bluez_->error();
    }

    static int callsOf(const QString &method) { return bluez_->callsOf(kAddress, method); }

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

    static inline std::unique_ptr<BlueZDouble> bluez_;
    static inline bool started_ = false;
    static inline std::string error_;
};

TEST_F(BlueZControllerTest, ConnectsAPairedControllerAndDisconnectsIt) {
    addPairedController();
    BlueZController controller;
    QStringList events;
    record(controller, events);

    const Outcome outcome = connectTo(controller, kAddress.toLower());
    EXPECT_TRUE(outcome.ok) << outcome.error.toStdString();
    EXPECT_TRUE(bluez_->deviceProperty(kAddress, QStringLiteral("Trusted")).toBool());
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

    ASSERT_TRUE(bluez_->addAdapter(QStringLiteral("hci0"))) << bluez_->error();
    EXPECT_EQ(connectTo(controller, kAddress).error,
              QStringLiteral("no paired controller 1C:66:6D:01:02:03: pair it first"));

    // Known to BlueZ (seen while discovering) but never paired.
    mock(QStringLiteral("AddDevice"), {QStringLiteral("hci0"), kAddress, QStringLiteral("pad")});
    EXPECT_EQ(connectTo(controller, kAddress).error,
              QStringLiteral("no paired controller 1C:66:6D:01:02:03: pair it first"));

    mock(QStringLiteral("PairDevice"), {QStringLiteral("hci0"), kAddress, 0x002508});
    ASSERT_TRUE(bluez_->setAdapterPowered(false)) << bluez_->error();
    EXPECT_EQ(connectTo(controller, kAddress).error, QStringLiteral("the Bluetooth adapter is off"));

    bluez_->stopBlueZ();
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

    ASSERT_TRUE(bluez_->connectDevice(QStringLiteral("hci0"), kAddress)) << bluez_->error();
    ASSERT_TRUE(spinUntil([&] { return controller.isConnected(); }));
    EXPECT_EQ(controller.connectedAddress(), kAddress);
    ASSERT_TRUE(bluez_->disconnectDevice(QStringLiteral("hci0"), kAddress)) << bluez_->error();
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

    bluez_->stopBlueZ();
    ASSERT_TRUE(spinUntil([&] { return outcome->done; }, scaled(10s)));
    EXPECT_FALSE(outcome->ok);
    EXPECT_EQ(outcome->error,
              QStringLiteral("the Bluetooth service (org.bluez) left the system bus while "
                             "connecting"));
}

TEST_F(BlueZControllerTest, FollowsAgainWhenBlueZComesBack) {
    addPairedController();
    ASSERT_TRUE(bluez_->connectDevice(QStringLiteral("hci0"), kAddress)) << bluez_->error();
    BlueZController controller;
    QStringList events;
    record(controller, events);
    ASSERT_TRUE(spinUntil([&] { return controller.isConnected(); }));

    // A connection does not outlive BlueZ.
    bluez_->stopBlueZ();
    ASSERT_TRUE(spinUntil([&] { return !controller.isConnected(); }));

    ASSERT_TRUE(bluez_->startBlueZ()) << bluez_->error();
    addPairedController();
    ASSERT_TRUE(bluez_->connectDevice(QStringLiteral("hci0"), kAddress)) << bluez_->error();
    ASSERT_TRUE(spinUntil([&] { return controller.isConnected(); }));
    ASSERT_TRUE(bluez_->disconnectDevice(QStringLiteral("hci0"), kAddress)) << bluez_->error();
    ASSERT_TRUE(spinUntil([&] { return !controller.isConnected(); }));
    EXPECT_EQ(events, (QStringList{QStringLiteral("connected ") + kAddress, QStringLiteral("disconnected ") + kAddress,
                                   QStringLiteral("connected ") + kAddress, QStringLiteral("disconnected ") + kAddress}));

    EXPECT_TRUE(connectTo(controller, kAddress).ok);
}

} // namespace
