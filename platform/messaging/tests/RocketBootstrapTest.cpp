#include "rocketbootstrap.h"
#include "CPDistributedMessagingCenter.h"
#include "MessagingBus.h"
#include "MessagingTestSupport.h"

using namespace std::chrono_literals;
using platform::PlistValue;
using platform::testing::spinUntil;

namespace {

const std::string kBootstrapCenter = "com.tesmar.nbr.bootstrap";
const std::string kPlain = "com.example.marker";

} // namespace

class RocketBootstrapTest : public MessagingTest {
protected:
    std::shared_ptr<CPDistributedMessagingCenter> serve(const std::string &center, bool bootstrap) {
        auto server = CPDistributedMessagingCenter::centerNamed(center);
        if (bootstrap)
            rocketbootstrap_distributedmessagingcenter_apply(server.get());
        server->registerForMessageName(
            "m", [this, center](const std::string &, const PlistValue::Dictionary &info) {
                received.push_back(center + " " + *info.at("n").string());
            });
        server->runServerOnCurrentThread();
        EXPECT_TRUE(server->isServing());
        return server;
    }
    // Sends `n` to the plain center after everything else and waits for it, so anything the
    // bootstrap server was going to take has been taken by then.
    std::vector<std::string> settle() {
        EXPECT_EQ(runTool({"-p", kPlain, "m", "n=s:marker"}), 0);
        spinUntil([&] { return !received.empty() && received.back() == kPlain + " marker"; }, 10s);
        auto all = received;
        received.clear();
        return all;
    }
    std::vector<std::string> received;
};

TEST_F(RocketBootstrapTest, LockedNameCarriesNothingUnlockedCarriesAll) {
    auto server = serve(kBootstrapCenter, true);
    auto marker = serve(kPlain, false);
    // Locked: a bootstrap client hands nothing over, a plain one's message is refused.
    EXPECT_NE(runTool({"-p", "-b", kBootstrapCenter, "m", "n=s:1"}), 0);
    EXPECT_EQ(runTool({"-p", kBootstrapCenter, "m", "n=s:2"}), 0);
    EXPECT_EQ(settle(), std::vector<std::string>{kPlain + " marker"});

    {
        auto unlocker = startTool({"-u", kBootstrapCenter});
        EXPECT_EQ(runTool({"-p", "-b", kBootstrapCenter, "m", "n=s:3"}), 0);
        EXPECT_EQ(settle(),
                  (std::vector<std::string>{kBootstrapCenter + " 3", kPlain + " marker"}));
        EXPECT_EQ(unlocker->stop(), 0);
    }
    // The unlock ended with its process.
    EXPECT_NE(runTool({"-p", "-b", kBootstrapCenter, "m", "n=s:4"}), 0);
    EXPECT_EQ(runTool({"-p", kBootstrapCenter, "m", "n=s:5"}), 0);
    EXPECT_EQ(settle(), std::vector<std::string>{kPlain + " marker"});
}

TEST_F(RocketBootstrapTest, ServerInAnotherProcessHonoursTheUnlock) {
    auto listener = startTool({"-s", "-b", kBootstrapCenter, "m"});
    auto client = CPDistributedMessagingCenter::centerNamed(kBootstrapCenter);
    rocketbootstrap_distributedmessagingcenter_apply(client.get());
    EXPECT_FALSE(client->sendMessageName("m", {{"n", PlistValue("locked")}}));
    // The unlocked name outlives nothing but this process; several unlockers may hold it.
    EXPECT_EQ(rocketbootstrap_unlock(kBootstrapCenter.c_str()), KERN_SUCCESS);
    auto second = startTool({"-u", kBootstrapCenter});
    EXPECT_TRUE(client->sendMessageName("m", {{"n", PlistValue("open")}}));
    EXPECT_TRUE(listener->waitForLine("m n=s:open"));
    EXPECT_EQ(listener->output().find("locked"), std::string::npos);
}

TEST_F(RocketBootstrapTest, UnlockOutlivesAnEarlierUnlockerThatLeft) {
    auto server = serve(kBootstrapCenter, true);
    auto marker = serve(kPlain, false);
    auto first = startTool({"-u", kBootstrapCenter});
    auto second = startTool({"-u", kBootstrapCenter});
    first->stop();
    EXPECT_EQ(runTool({"-p", "-b", kBootstrapCenter, "m", "n=s:still"}), 0);
    EXPECT_EQ(settle(),
              (std::vector<std::string>{kBootstrapCenter + " still", kPlain + " marker"}));
}
