#include "MessagingBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <gtest/gtest.h>
#include <set>

using platform::messaging::centerBusName;
using platform::messaging::unlockBusName;

TEST(MessagingBusNames, AwkwardCenterNamesMapToDistinctValidBusNames) {
    const std::vector<std::string> centers = {"com.tesmar.nbr.bootstrap",
                                              "a",
                                              "2x.y",
                                              "a..b",
                                              ".a",
                                              "a.",
                                              "a-b",
                                              "a_2Db",
                                              "a_b",
                                              "x y",
                                              "\xc3\xa4.b",
                                              "a.b",
                                              "a_2Eb",
                                              "_",
                                              "__"};
    std::set<std::string> seen;
    for (const auto &center : centers) {
        auto name = centerBusName(center);
        ASSERT_TRUE(name) << center;
        EXPECT_TRUE(seen.insert(*name).second) << center << " collides as " << *name;
        EXPECT_NE(*name, *unlockBusName(center));
    }
    // The bus is the judge of validity: it must let us own every one of them.
    if (!platform::messaging::haveSessionBus())
        GTEST_SKIP() << "no session bus";
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "names");
    ASSERT_TRUE(bus.isConnected());
    for (const auto &name : seen) {
        EXPECT_TRUE(bus.registerService(QString::fromStdString(name))) << name;
        bus.unregisterService(QString::fromStdString(name));
    }
    QDBusConnection::disconnectFromBus("names");
}

TEST(MessagingBusNames, NamesThatNoBusNameCanCarryGiveNothing) {
    EXPECT_FALSE(centerBusName(""));
    EXPECT_FALSE(unlockBusName(""));
    EXPECT_TRUE(centerBusName(std::string(200, 'a')));
    EXPECT_FALSE(centerBusName(std::string(300, 'a')));
}
