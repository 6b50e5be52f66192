#include "CPDistributedMessagingCenter.h"
#include "MessagingBus.h"
#include "MessagingTestSupport.h"
#include "rocketbootstrap.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QThread>
#include <atomic>
#include <cstdlib>

using namespace std::chrono_literals;
using platform::PlistValue;
using platform::testing::spinUntil;

namespace {

const std::string kCenter = "com.example.center";

} // namespace

class MessagingCenterTest : public MessagingTest {
protected:
    // A server on this thread that records what it takes.
    std::shared_ptr<CPDistributedMessagingCenter> serve(const std::string &center,
                                                        const std::vector<std::string> &messages) {
        auto server = CPDistributedMessagingCenter::centerNamed(center);
        for (const auto &message : messages)
            server->registerForMessageName(
                message, [this](const std::string &name, const PlistValue::Dictionary &info) {
                    received.push_back({name, info, std::this_thread::get_id()});
                });
        server->runServerOnCurrentThread();
        EXPECT_TRUE(server->isServing());
        return server;
    }
    bool receivedCount(std::size_t count) {
        return spinUntil([&] { return received.size() >= count; }, 10s);
    }

    std::vector<Received> received;
};

TEST_F(MessagingCenterTest, UserInfoKeepsItsTypesFromAnotherProcess) {
    auto server = serve(kCenter, {"NBRDiscoveryUpdate"});
    ASSERT_EQ(
        runTool({"-p", kCenter, "NBRDiscoveryUpdate", "NBRDiscoveryState=i:2",
                 "PS4BluetoothAddress=d:0a1b2c3d4e5f", "label=s:12", "flag=b:true", "level=r:0.5"}),
        0);
    ASSERT_TRUE(receivedCount(1));
    const auto &message = received[0];
    EXPECT_EQ(message.name, "NBRDiscoveryUpdate");
    EXPECT_EQ(message.thread, std::this_thread::get_id());
    const PlistValue::Dictionary expected = {
        {"NBRDiscoveryState", PlistValue(2)},
        {"PS4BluetoothAddress", PlistValue(PlistValue::Data{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f})},
        {"label", PlistValue("12")},
        {"flag", PlistValue(true)},
        {"level", PlistValue(0.5)}};
    EXPECT_EQ(message.userInfo, expected);
}

TEST_F(MessagingCenterTest, ReachesAServerInAnotherProcess) {
    auto listener = startTool({"-s", kCenter, "NBRDiscoveryUpdate"});
    auto client = CPDistributedMessagingCenter::centerNamed(kCenter);
    const PlistValue::Data address = {0, 1, 2, 3, 4, 0xff};
    EXPECT_TRUE(client->sendMessageName(
        "NBRDiscoveryUpdate",
        {{"NBRDiscoveryState", PlistValue(2)}, {"PS4BluetoothAddress", PlistValue(address)}}));
    EXPECT_TRUE(listener->waitForLine(
        "NBRDiscoveryUpdate NBRDiscoveryState=i:2 PS4BluetoothAddress=d:0001020304ff"));
}

TEST_F(MessagingCenterTest, ServerAndClientInOneProcess) {
    auto server = serve(kCenter, {"ping"});
    auto client = CPDistributedMessagingCenter::centerNamed(kCenter);
    EXPECT_TRUE(client->sendMessageName("ping", {}));
    ASSERT_TRUE(receivedCount(1));
    EXPECT_TRUE(received[0].userInfo.empty());
}

TEST_F(MessagingCenterTest, DropsWhatFindsNoServerOrNoHandler) {
    auto client = CPDistributedMessagingCenter::centerNamed(kCenter);
    // Nobody serves yet: handed to the bus all the same, and lost.
    EXPECT_TRUE(client->sendMessageName("early", {}));
    platform::messaging::settleClientMessages();
    auto server = serve(kCenter, {"early", "marker"});
    EXPECT_TRUE(client->sendMessageName("unknown", {}));
    server->unregisterForMessageName("early");
    EXPECT_TRUE(client->sendMessageName("early", {}));
    EXPECT_TRUE(client->sendMessageName("marker", {}));
    // Messages from one sender arrive in order, so the marker comes after anything else.
    ASSERT_TRUE(receivedCount(1));
    EXPECT_EQ(received[0].name, "marker");
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(MessagingCenterTest, StoppedServerTakesNothingUntilRunAgain) {
    auto server = serve(kCenter, {"m"});
    server->stopServer();
    EXPECT_FALSE(server->isServing());
    auto client = CPDistributedMessagingCenter::centerNamed(kCenter);
    client->sendMessageName("m", {{"n", PlistValue(1)}});
    platform::messaging::settleClientMessages();
    server->runServerOnCurrentThread();
    ASSERT_TRUE(server->isServing());
    client->sendMessageName("m", {{"n", PlistValue(2)}});
    ASSERT_TRUE(receivedCount(1));
    EXPECT_EQ(received[0].userInfo.at("n"), PlistValue(2));
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(MessagingCenterTest, NameServedElsewhereIsNotTakenOver) {
    auto other = startTool({"-s", kCenter, "m"});
    auto server = CPDistributedMessagingCenter::centerNamed(kCenter);
    server->runServerOnCurrentThread();
    EXPECT_FALSE(server->isServing());
    EXPECT_NE(runTool({"-s", kCenter, "m"}), 0);
    // The first server still gets its messages.
    EXPECT_EQ(runTool({"-p", kCenter, "m", "k=s:v"}), 0);
    EXPECT_TRUE(other->waitForLine("m k=s:v"));
}

TEST_F(MessagingCenterTest, UnreadableUserInfoIsDroppedAndTheServerCarriesOn) {
    auto server = serve(kCenter, {"m"});
    QDBusConnection connection = platform::messaging::clientConnection();
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromStdString(*platform::messaging::centerBusName(kCenter)),
        platform::messaging::kPath, platform::messaging::kInterface, platform::messaging::kMember);
    call << QString::fromStdString(kCenter) << QStringLiteral("m")
         << QByteArray("bplist00\xff\xff garbage", 18);
    ASSERT_TRUE(connection.send(call));
    // A valid property list that is not a dictionary is no userInfo either.
    const auto array = platform::plistToBytes(PlistValue(PlistValue::Array{PlistValue(1)}),
                                              platform::PlistFormat::Binary);
    QDBusMessage second = call;
    second.setArguments({QString::fromStdString(kCenter), QStringLiteral("m"),
                         QByteArray(reinterpret_cast<const char *>(array.data()),
                                    static_cast<qsizetype>(array.size()))});
    ASSERT_TRUE(connection.send(second));
    auto client = CPDistributedMessagingCenter::centerNamed(kCenter);
    client->sendMessageName("m", {{"ok", PlistValue(true)}});
    ASSERT_TRUE(receivedCount(1));
    EXPECT_EQ(received[0].userInfo.at("ok"), PlistValue(true));
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(MessagingCenterTest, WithoutASessionBusNothingHappensAndNothingBreaks) {
    const std::string address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    auto center = CPDistributedMessagingCenter::centerNamed(kCenter);
    center->runServerOnCurrentThread();
    EXPECT_FALSE(center->isServing());
    EXPECT_FALSE(center->sendMessageName("m", {}));
    EXPECT_EQ(rocketbootstrap_unlock(kCenter.c_str()), KERN_FAILURE);
    platform::messaging::settleClientMessages();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

TEST_F(MessagingCenterTest, HandlersRunOnTheThreadThatStartedTheServer) {
    QThread worker;
    worker.start();
    QObject onWorker;
    onWorker.moveToThread(&worker);
    std::shared_ptr<CPDistributedMessagingCenter> server;
    std::atomic<std::thread::id> handledOn{};
    std::thread::id workerId;
    QMetaObject::invokeMethod(
        &onWorker,
        [&] {
            workerId = std::this_thread::get_id();
            server = CPDistributedMessagingCenter::centerNamed(kCenter);
            server->registerForMessageName(
                "m", [&](const std::string &, const PlistValue::Dictionary &) {
                    handledOn = std::this_thread::get_id();
                });
            server->runServerOnCurrentThread();
        },
        Qt::BlockingQueuedConnection);
    ASSERT_TRUE(server->isServing());
    EXPECT_EQ(runTool({"-p", kCenter, "m"}), 0);
    EXPECT_TRUE(spinUntil([&] { return handledOn.load() != std::thread::id{}; }, 10s));
    EXPECT_EQ(handledOn.load(), workerId);
    QMetaObject::invokeMethod(
        &onWorker, [&] { server.reset(); }, Qt::BlockingQueuedConnection);
    worker.quit();
    worker.wait();
}
