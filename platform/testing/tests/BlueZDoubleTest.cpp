// BlueZ's double as a bridge onto BlueZ meets it: a client on a connection of its own with an
// agent on it that answers PIN requests only when its own client has the PIN, and discovery.
#include "BlueZDouble.h"
#include "EventLoopWait.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QMap>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace std::chrono_literals;
using platform::testing::BlueZDouble;
using platform::testing::scaled;
using platform::testing::spinUntil;

namespace {

const QString kService = QStringLiteral("org.bluez");
const QString kDevice = QStringLiteral("org.bluez.Device1");
const QString kAdapter = QStringLiteral("org.bluez.Adapter1");
const QString kAdapterPath = QStringLiteral("/org/bluez/hci0");
const QString kAgentPath = QStringLiteral("/nimbrel/agent");
const QString kPad = QStringLiteral("1C:66:6D:01:02:03");
const QString kOther = QStringLiteral("00:1F:E2:0A:0B:0C");

// Holds each PIN request: the test answers it, as the bridge's client would, in its own time.
class PinAgent : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.bluez.Agent1")

public:
    std::vector<QDBusMessage> requests;
    std::function<void(const QDBusMessage &)> onRequest;

public slots:
    Q_SCRIPTABLE QString RequestPinCode(const QDBusObjectPath &) {
        setDelayedReply(true);
        requests.push_back(message());
        if (onRequest)
            onRequest(message());
        return {};
    }
};

class Received : public QObject {
    Q_OBJECT

public:
    std::vector<QDBusMessage> messages;

public slots:
    void record(const QDBusMessage &message) { messages.push_back(message); }
};

// BlueZ's client: a connection of its own to the double's bus, its agent on it.
class Client {
public:
    explicit Client(const BlueZDouble &bluez)
        : name_(QStringLiteral("nbr-bluez-client")),
          connection_(
              QDBusConnection::connectToBus(QString::fromStdString(bluez.busAddress()), name_)) {}
    ~Client() {
        connection_.unregisterObject(kAgentPath);
        QDBusConnection::disconnectFromBus(name_);
    }

    QDBusMessage call(const QString &path, const QString &interface, const QString &method,
                      const QVariantList &arguments = {}) {
        return finish(start(path, interface, method, arguments));
    }
    QDBusPendingCall start(const QString &path, const QString &interface, const QString &method,
                           const QVariantList &arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
        message.setArguments(arguments);
        return connection_.asyncCall(message, static_cast<int>(scaled(30s).count()));
    }
    // The reply, or an invalid message when none came in time.
    static QDBusMessage finish(QDBusPendingCall pending) {
        if (!spinUntil([&] { return pending.isFinished(); }, scaled(5s)))
            return {};
        return pending.reply();
    }

    bool registerAgent() {
        const QString manager = QStringLiteral("org.bluez.AgentManager1");
        return connection_.registerObject(kAgentPath, &agent,
                                          QDBusConnection::ExportScriptableSlots) &&
               call(QStringLiteral("/org/bluez"), manager, QStringLiteral("RegisterAgent"),
                    {QVariant::fromValue(QDBusObjectPath(kAgentPath)),
                     QStringLiteral("KeyboardOnly")})
                       .type() == QDBusMessage::ReplyMessage &&
               call(QStringLiteral("/org/bluez"), manager, QStringLiteral("RequestDefaultAgent"),
                    {QVariant::fromValue(QDBusObjectPath(kAgentPath))})
                       .type() == QDBusMessage::ReplyMessage;
    }
    void answer(const QDBusMessage &request, const QString &pin) {
        connection_.send(request.createReply(pin));
    }
    void refuse(const QDBusMessage &request) {
        connection_.send(request.createErrorReply(QStringLiteral("org.bluez.Error.Rejected"),
                                                  QStringLiteral("the user said no")));
    }
    bool subscribe(const QString &path, const QString &interface, const QString &name,
                   Received *into) {
        return connection_.connect(kService, path, interface, name, into,
                                   SLOT(record(QDBusMessage)));
    }

    PinAgent agent;

private:
    QString name_;
    QDBusConnection connection_;
};

class BlueZDoubleTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(bluez_.start(NBR_BLUEZ_TEMPLATE, &error)) << error;
        ASSERT_TRUE(bluez_.addAdapter(QStringLiteral("hci0"))) << bluez_.error();
        client_ = std::make_unique<Client>(bluez_);
    }

    QDBusPendingCall pair(const QString &address) {
        return client_->start(bluez_.devicePath(address), kDevice, QStringLiteral("Pair"));
    }
    QString pairingError(const QString &address) {
        const QDBusMessage reply = Client::finish(pair(address));
        return reply.type() == QDBusMessage::ErrorMessage ? reply.errorName()
                                                          : QStringLiteral("no error");
    }
    bool paired(const QString &address) {
        return bluez_.deviceProperty(address, QStringLiteral("Paired")).toBool();
    }

    BlueZDouble bluez_;
    std::unique_ptr<Client> client_;
};

TEST_F(BlueZDoubleTest, PairAsksTheAgentForALegacyDevicesPinAndServesOthersMeanwhile) {
    ASSERT_TRUE(bluez_.addDevice(QStringLiteral("hci0"), kPad)) << bluez_.error();
    ASSERT_TRUE(bluez_.setDevicePin(kPad, QStringLiteral("0000"))) << bluez_.error();
    ASSERT_TRUE(client_->registerAgent()) << bluez_.error();

    QDBusPendingCall pairing = pair(kPad);
    ASSERT_TRUE(spinUntil([&] { return !client_->agent.requests.empty(); }));
    const QDBusMessage request = client_->agent.requests.front();
    EXPECT_EQ(request.arguments().value(0).value<QDBusObjectPath>().path(),
              bluez_.devicePath(kPad));

    // The agent has not answered: BlueZ still answers everyone else.
    EXPECT_EQ(bluez_.deviceProperty(kPad, QStringLiteral("LegacyPairing")), QVariant(true))
        << bluez_.error();
    EXPECT_TRUE(bluez_.addDevice(QStringLiteral("hci0"), kOther)) << bluez_.error();
    EXPECT_FALSE(pairing.isFinished());
    EXPECT_FALSE(paired(kPad));

    client_->answer(request, QStringLiteral("0000"));
    const QDBusMessage reply = Client::finish(pairing);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_TRUE(paired(kPad));
    EXPECT_EQ(pairingError(kPad), QStringLiteral("org.bluez.Error.AlreadyExists"));

    // Secure Simple Pairing: no PIN, the agent is not asked.
    EXPECT_EQ(pairingError(kOther), QStringLiteral("no error"));
    EXPECT_TRUE(paired(kOther));
    EXPECT_EQ(client_->agent.requests.size(), 1U);
}

TEST_F(BlueZDoubleTest, AWrongPinARefusingAgentOrADeviceThatSaysNoFailsThePairing) {
    ASSERT_TRUE(bluez_.addDevice(QStringLiteral("hci0"), kPad)) << bluez_.error();
    ASSERT_TRUE(bluez_.setDevicePin(kPad, QStringLiteral("0000"))) << bluez_.error();
    EXPECT_EQ(pairingError(kPad), QStringLiteral("org.bluez.Error.AuthenticationFailed"))
        << "no agent to ask";

    ASSERT_TRUE(client_->registerAgent()) << bluez_.error();
    client_->agent.onRequest = [this](const QDBusMessage &request) {
        QTimer::singleShot(300ms, [this, request] {
            client_->answer(request, QStringLiteral("1234"));
        });
    };
    EXPECT_EQ(pairingError(kPad), QStringLiteral("org.bluez.Error.AuthenticationFailed"));
    EXPECT_FALSE(paired(kPad));

    client_->agent.onRequest = [this](const QDBusMessage &request) { client_->refuse(request); };
    EXPECT_EQ(pairingError(kPad), QStringLiteral("org.bluez.Error.AuthenticationFailed"));
    EXPECT_FALSE(paired(kPad));
    EXPECT_EQ(client_->agent.requests.size(), 2U);

    client_->agent.onRequest = [this](const QDBusMessage &request) {
        client_->answer(request, QStringLiteral("0000"));
    };
    ASSERT_TRUE(bluez_.setDeviceRefusesPairing(kPad)) << bluez_.error();
    EXPECT_EQ(pairingError(kPad), QStringLiteral("org.bluez.Error.AuthenticationRejected"));
    EXPECT_FALSE(paired(kPad));
    EXPECT_EQ(client_->agent.requests.size(), 2U);
}

TEST_F(BlueZDoubleTest, DiscoveryFindsTheDevicesInRangeOnlyWhileItRuns) {
    Received added;
    ASSERT_TRUE(client_->subscribe(QStringLiteral("/"),
                                   QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                   QStringLiteral("InterfacesAdded"), &added));
    ASSERT_TRUE(bluez_.addDiscoverableDevice(QStringLiteral("hci0"), kPad,
                                             QStringLiteral("Wireless Controller"), 0x002508, -52))
        << bluez_.error();
    ASSERT_TRUE(bluez_.addDiscoverableDevice(QStringLiteral("hci0"), kOther,
                                             QStringLiteral("Headset"), 0x240404, -70,
                                             scaled(1s)))
        << bluez_.error();

    spinUntil([] { return false; }, scaled(300ms));
    EXPECT_TRUE(added.messages.empty()) << "found before discovery started";
    EXPECT_FALSE(bluez_.deviceProperty(kPad, QStringLiteral("Address")).isValid());

    // No SetDiscoveryFilter first.
    const QDBusMessage started = client_->call(kAdapterPath, kAdapter,
                                               QStringLiteral("StartDiscovery"));
    ASSERT_EQ(started.type(), QDBusMessage::ReplyMessage) << started.errorMessage().toStdString();
    EXPECT_EQ(bluez_.adapterProperty(QStringLiteral("Discovering")), QVariant(true));
    ASSERT_TRUE(spinUntil([&] { return !added.messages.empty(); }));
    const QDBusMessage &found = added.messages.front();
    EXPECT_EQ(found.arguments().value(0).value<QDBusObjectPath>().path(), bluez_.devicePath(kPad));
    QMap<QString, QVariantMap> interfaces;
    found.arguments().value(1).value<QDBusArgument>() >> interfaces;
    EXPECT_EQ(interfaces.value(kDevice).value(QStringLiteral("Class")), QVariant(0x002508U));
    EXPECT_EQ(interfaces.value(kDevice).value(QStringLiteral("RSSI")),
              QVariant::fromValue<qint16>(-52));

    const QDBusMessage stopped = client_->call(kAdapterPath, kAdapter,
                                               QStringLiteral("StopDiscovery"));
    ASSERT_EQ(stopped.type(), QDBusMessage::ReplyMessage) << stopped.errorMessage().toStdString();
    EXPECT_EQ(bluez_.adapterProperty(QStringLiteral("Discovering")), QVariant(false));
    spinUntil([] { return false; }, scaled(1500ms));
    EXPECT_EQ(added.messages.size(), 1U) << "found after discovery stopped";
    EXPECT_FALSE(bluez_.deviceProperty(kOther, QStringLiteral("Address")).isValid());
}

TEST_F(BlueZDoubleTest, BlueZLeavingMidPairingEndsThePairCall) {
    ASSERT_TRUE(bluez_.addDevice(QStringLiteral("hci0"), kPad)) << bluez_.error();
    ASSERT_TRUE(bluez_.setDevicePin(kPad, QStringLiteral("0000"))) << bluez_.error();
    ASSERT_TRUE(client_->registerAgent()) << bluez_.error();

    QDBusPendingCall pairing = pair(kPad);
    ASSERT_TRUE(spinUntil([&] { return !client_->agent.requests.empty(); }));
    bluez_.stopBlueZ();
    const QDBusMessage reply = Client::finish(pairing);
    EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << "Pair still waiting";
    EXPECT_TRUE(reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NoReply") ||
                reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.Disconnected"))
        << reply.errorName().toStdString();
}

} // namespace

#include "BlueZDoubleTest.moc"
